// Buffered response input. Covered by tests/net/http_client_test.cpp (lines, limits, closes)
// and fuzz/http_response_fuzz.cpp.
#include "net/http_input.h"

#include <algorithm>
#include <cstring>

#include "net/http_errors.h"

namespace djkivo::net {

HttpInput::HttpInput(std::chrono::milliseconds read_timeout)
    : read_timeout_(read_timeout), buffer_(kReceiveBlock) {}

bool HttpInput::Fill(std::chrono::milliseconds wait, bool nothing_is_timeout) {
  begin_ = end_ = 0;
  const std::chrono::milliseconds allowed = WaitWithinDeadline(wait);
  const long received = Receive(buffer_.data(), buffer_.size(), allowed);
  if (received == kNothingYet) {
    if (allowed < wait)
      throw ELoadTimeout();
    if (nothing_is_timeout)
      throw EReadTimeout();
    return false;
  }
  if (received == 0) {
    peer_closed_ = true;
    return false;
  }
  end_ = static_cast<std::size_t>(received);
  return true;
}

std::chrono::milliseconds HttpInput::WaitWithinDeadline(std::chrono::milliseconds wait) const {
  const auto now = std::chrono::steady_clock::now();
  if (now >= deadline_)
    throw ELoadTimeout();
  return std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(deadline_ - now));
}

std::string_view HttpInput::Available() {
  if (begin_ == end_ && !peer_closed_)
    Fill(read_timeout_, true);
  return {buffer_.data() + begin_, end_ - begin_};
}

void HttpInput::Consume(std::size_t count) { begin_ += std::min(count, end_ - begin_); }

bool HttpInput::ReadLine(std::string& line) {
  line.clear();
  for (;;) {
    const std::string_view bytes = Available();
    if (bytes.empty())
      return false;
    const std::size_t lf = bytes.find('\n');
    const std::size_t take = lf == std::string_view::npos ? bytes.size() : lf;
    if (line.size() + take > kMaxLineLength)
      throw EMaxLineLengthExceeded();
    line.append(bytes.data(), take);
    if (lf != std::string_view::npos) {
      Consume(lf + 1);
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      return true;
    }
    Consume(take);
  }
}

bool HttpInput::DataWithin(std::chrono::milliseconds wait) {
  if (begin_ != end_)
    return true;
  if (peer_closed_)
    return false;
  return Fill(wait, false);
}

void HttpInput::DiscardBuffered() { begin_ = end_ = 0; }

MemoryInput::MemoryInput(std::string_view bytes)
    : HttpInput(std::chrono::milliseconds(0)), rest_(bytes) {}

long MemoryInput::Receive(char* buffer, std::size_t max, std::chrono::milliseconds) {
  const std::size_t count = std::min(max, rest_.size());
  if (count > 0)
    std::memcpy(buffer, rest_.data(), count);
  rest_.remove_prefix(count);
  return static_cast<long>(count);
}

}  // namespace djkivo::net
