// The request head. Covered by tests/net/http_client_test.cpp (exact request bytes).
#include "net/http_request_head.h"

#include "net/http_text.h"

namespace djkivo::net {

namespace {

void AddWord(std::string& list, const char* word) {
  if (list.find(word) != std::string::npos)
    return;
  list += list.empty() ? word : std::string(", ") + word;
}

void AddLine(std::string& head, const char* name, const std::string& value) {
  if (value.empty())
    return;
  head += name;
  head += ": ";
  head += ToAsciiLine(value);
  head += "\r\n";
}

}  // namespace

void CompleteAcceptEncoding(std::string& accept_encoding, bool has_decompressor) {
  if (has_decompressor) {
    AddWord(accept_encoding, "deflate");
    AddWord(accept_encoding, "gzip");
  }
  AddWord(accept_encoding, "identity");
}

std::string BuildRequestHead(const THttpRequest& request, const std::string& target,
                             const std::string& host, const std::string& cookies,
                             const std::string& proxy_authorization) {
  std::string head = ToAsciiLine(request.method + " " + target + " HTTP/1.1") + "\r\n";
  AddLine(head, "Connection", request.connection);
  for (const std::string& line : request.custom_headers.Lines())
    head += ToAsciiLine(line) + "\r\n";
  AddLine(head, "Host", host);
  AddLine(head, "Accept", request.accept);
  AddLine(head, "Accept-Charset", request.accept_charset);
  AddLine(head, "Accept-Encoding", request.accept_encoding);
  AddLine(head, "Accept-Language", request.accept_language);
  AddLine(head, "From", request.from);
  AddLine(head, "Referer", request.referer);
  AddLine(head, "User-Agent", request.user_agent);
  AddLine(head, "Range", request.range);
  AddLine(head, "Proxy-Authorization", proxy_authorization);
  AddLine(head, "Cookie", cookies);
  head += "\r\n";
  return head;
}

}  // namespace djkivo::net
