// Status line and header lines. Covered by tests/net/http_client_test.cpp and
// fuzz/http_response_fuzz.cpp.
#include "net/http_response_head.h"

#include <charconv>

#include "net/http_errors.h"
#include "net/http_input.h"
#include "net/http_text.h"

namespace djkivo::net {

void THeaderList::Add(std::string_view name, std::string_view value) {
  lines_.push_back(std::string(name) + ": " + std::string(value));
}

bool THeaderList::Match(std::string_view line, std::string_view name, std::string_view& value) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || !IEquals(Trimmed(line.substr(0, colon)), name))
    return false;
  value = Trimmed(line.substr(colon + 1));
  return true;
}

std::string THeaderList::Value(std::string_view name) const {
  std::string_view value;
  for (const std::string& line : lines_)
    if (Match(line, name, value))
      return std::string(value);
  return {};
}

bool THeaderList::Has(std::string_view name) const {
  std::string_view value;
  for (const std::string& line : lines_)
    if (Match(line, name, value))
      return true;
  return false;
}

std::vector<std::string> THeaderList::Values(std::string_view name) const {
  std::vector<std::string> values;
  std::string_view value;
  for (const std::string& line : lines_)
    if (Match(line, name, value))
      values.emplace_back(value);
  return values;
}

namespace {

// The one length that every Content-Length line and every comma-separated value in them
// states, or -1 when one is not a whole number or two differ: such a length cannot be
// trusted to frame the body.
std::int64_t ContentLength(const std::vector<std::string>& lines) {
  std::int64_t length = -1;
  for (const std::string& line : lines) {
    std::string_view rest = line;
    for (;;) {
      const std::size_t comma = rest.find(',');
      const std::string_view text = Trimmed(rest.substr(0, comma));
      std::int64_t value = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (error != std::errc() || end != text.data() + text.size() || text.empty() || value < 0 ||
          (length >= 0 && value != length))
        return -1;
      length = value;
      if (comma == std::string_view::npos)
        break;
      rest.remove_prefix(comma + 1);
    }
  }
  return length;
}

}  // namespace

bool THttpResponse::KeepAlive(bool peer_closed) const {
  if (peer_closed)
    return false;
  return !IEquals(Trimmed(connection), "close") && !IEquals(Trimmed(proxy_connection), "close");
}

void ParseStatusLine(const std::string& status_line, THttpResponse& response) {
  response.status_line = status_line;
  response.version = status_line.size() >= 8 ? status_line.substr(5, 3) : "";
  response.code = -1;
  const std::size_t start = status_line.find(' ');
  if (start == std::string::npos)
    return;
  const std::size_t end = status_line.find(' ', start + 1);
  const std::string_view token =
      std::string_view(status_line)
          .substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
  int code = 0;
  const auto [rest, error] = std::from_chars(token.data(), token.data() + token.size(), code);
  if (error == std::errc() && rest == token.data() + token.size() && !token.empty())
    response.code = code;
}

void ParseHeaderValues(THttpResponse& response) {
  const THeaderList& headers = response.headers;
  response.has_content_length = headers.Has("Content-Length");
  response.content_length = ContentLength(headers.Values("Content-Length"));
  const std::string type = headers.Value("Content-Type");
  if (!type.empty()) {
    const std::size_t semicolon = type.find(';');
    response.content_type = std::string(Trimmed(std::string_view(type).substr(0, semicolon)));
    const std::string lowered = AsciiLowered(type);
    if (const std::size_t at = lowered.find("charset="); at != std::string::npos) {
      std::string_view charset = std::string_view(type).substr(at + 8);
      charset = Trimmed(charset.substr(0, charset.find(';')));
      if (charset.size() >= 2 && charset.front() == '"' && charset.back() == '"')
        charset = charset.substr(1, charset.size() - 2);
      response.charset = std::string(charset);
    }
  }
  response.content_encoding = headers.Value("Content-Encoding");
  response.transfer_encoding = headers.Value("Transfer-Encoding");
  response.connection = headers.Value("Connection");
  response.proxy_connection = headers.Value("Proxy-Connection");
  response.location = headers.Value("Location");
  response.www_authenticate = headers.Value("WWW-Authenticate");
}

void ReadResponseHead(HttpInput& input, THttpResponse& response) {
  response = THttpResponse();
  std::string line;
  if (!input.ReadLine(line))
    throw EConnClosedGracefully();
  ParseStatusLine(ToAsciiLine(line), response);
  for (int count = 0;; ++count) {
    // A close here is not an error: the head ends with the lines that came.
    if (!input.ReadLine(line) || line.empty())
      break;
    if (count == kMaxHeaderLines)
      throw EHttpFramingError("Too many header lines.");
    response.headers.Add(ToAsciiLine(line));
  }
  ParseHeaderValues(response);
}

}  // namespace djkivo::net
