// The buffered input the response is read from: lines with a length limit, blocks, and a
// short look for data. A socket connection and an in-memory response (fuzzing) provide it.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace djkivo::net {

/// Buffered reading of a response. One thread at a time (the load's).
class HttpInput {
 public:
  /// A status, header or chunk line may hold at most this many bytes before its line feed: a
  /// peer that never sends one cannot make the client buffer without end.
  static constexpr std::size_t kMaxLineLength = 16384;
  /// Input is received in blocks of up to this many bytes.
  static constexpr std::size_t kReceiveBlock = 32768;

  explicit HttpInput(std::chrono::milliseconds read_timeout);
  virtual ~HttpInput() = default;
  HttpInput(const HttpInput&) = delete;
  HttpInput& operator=(const HttpInput&) = delete;

  /// Reads through the next line feed; `line` gets the text before it without a trailing CR.
  /// Returns false when the peer closed before a line feed (`line` then holds what came).
  /// Throws EMaxLineLengthExceeded, EReadTimeout, ESocketError.
  bool ReadLine(std::string& line);

  /// The buffered bytes, receiving a block first when none is buffered. Empty only when the
  /// peer has closed. Throws EReadTimeout when no byte arrives within the read limit, and
  /// ESocketError. The view stays valid until the next call on this input.
  std::string_view Available();
  /// Marks the first `count` bytes of `Available()` as read.
  void Consume(std::size_t count);

  /// True when a byte is buffered or arrives within `wait`; false when none does or the peer
  /// closes meanwhile.
  bool DataWithin(std::chrono::milliseconds wait);

  /// Every later receive must end by `deadline`: a receive cut short by it throws ELoadTimeout,
  /// as does any receive once it has passed. None is set at construction.
  void SetDeadline(std::chrono::steady_clock::time_point deadline) { deadline_ = deadline; }

  /// Drops any buffered input (left over from an earlier response).
  void DiscardBuffered();
  /// True when received bytes are waiting to be read.
  bool Buffered() const { return begin_ != end_; }

  /// True once the peer has been seen closing its side.
  bool PeerClosed() const { return peer_closed_; }

 protected:
  /// `Receive` found nothing within its wait.
  static constexpr long kNothingYet = -1;
  /// `wait`, cut to the time left before the deadline. Throws ELoadTimeout once it has passed.
  /// A wait that comes back shorter than asked ends at the deadline: when nothing happened
  /// within it, the caller throws ELoadTimeout rather than its own timeout.
  std::chrono::milliseconds WaitWithinDeadline(std::chrono::milliseconds wait) const;

  /// Receives up to `max` bytes into `buffer`, waiting at most `wait` for the first. Returns
  /// the count, 0 when the peer has closed, or kNothingYet. Throws ESocketError.
  virtual long Receive(char* buffer, std::size_t max, std::chrono::milliseconds wait) = 0;

 private:
  // Receives one block into the empty buffer; false when the peer closed or nothing came.
  bool Fill(std::chrono::milliseconds wait, bool nothing_is_timeout);

  const std::chrono::milliseconds read_timeout_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // first unread byte of buffer_
  std::size_t end_ = 0;    // one past the last received byte
  bool peer_closed_ = false;
  std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
};

/// A response held in memory, closed at its end: for the fuzz target and decoder tests.
class MemoryInput final : public HttpInput {
 public:
  explicit MemoryInput(std::string_view bytes);

 protected:
  long Receive(char* buffer, std::size_t max, std::chrono::milliseconds wait) override;

 private:
  std::string_view rest_;
};

}  // namespace djkivo::net
