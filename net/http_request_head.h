// The request: its fields, the completion of Accept-Encoding, and the head on the wire.
#pragma once

#include <string>

#include "net/http_response_head.h"

namespace djkivo::net {

/// The request fields that reach the wire. Empty fields are not sent.
struct THttpRequest {
  std::string method = "GET";
  std::string url;  // the URL of the current load, as the caller gave it
  std::string connection;
  std::string accept = "text/html, */*";
  std::string accept_charset;
  std::string accept_encoding;
  std::string accept_language;
  std::string from;
  std::string referer;
  std::string user_agent = "Mozilla/3.0 (compatible; DJKivo HTTP client)";
  std::string range;
  THeaderList custom_headers;  // sent after the entity headers, as given
};

/// Completes the Accept-Encoding value a load sends: with a decompressor attached, "deflate"
/// and "gzip" are added where missing; then "identity" is added where missing. "gzip,
/// deflate" thus goes out as "gzip, deflate, identity".
void CompleteAcceptEncoding(std::string& accept_encoding, bool has_decompressor);

/// The request head: the request line "METHOD target HTTP/1.1", Connection and the custom
/// headers, then Host, Accept, Accept-Charset, Accept-Encoding, Accept-Language, From,
/// Referer, User-Agent, Range and Proxy-Authorization (`proxy_authorization`, for a request
/// to a proxy) where set, then "Cookie: " + `cookies` when that is not empty, then the empty
/// line. Every line ends with CR LF and is 7-bit ('?' for other bytes).
std::string BuildRequestHead(const THttpRequest& request, const std::string& target,
                             const std::string& host, const std::string& cookies,
                             const std::string& proxy_authorization = {});

}  // namespace djkivo::net
