// URL parse and merge. Covered by tests/net/http_url_test.cpp.
#include "net/http_url.h"

#include <string_view>
#include <vector>

#include "base/gbk.h"
#include "net/http_errors.h"
#include "net/http_text.h"

namespace djkivo::net {

namespace {

// Turns every '\' into '/' from `from` up to the first '?' or '#'. Sites written on Windows
// hand out such links. A GBK character is skipped whole, so a trail byte 0x5C (the second half
// of many Chinese characters) is not mistaken for a backslash.
void SlashBackslashes(std::string& url, std::size_t from) {
  for (std::size_t i = from; i < url.size(); ++i) {
    const auto c = static_cast<unsigned char>(url[i]);
    if (c == '?' || c == '#')
      return;
    if (c == '\\')
      url[i] = '/';
    else
      i += GbkCharLength(url, i) - 1;
  }
}

// Splits "rest" (after the authority) into path (up to and including its last '/') and
// document.
void SplitPath(std::string_view rest, std::string& path, std::string& document) {
  const std::size_t slash = rest.rfind('/');
  if (slash == std::string_view::npos) {
    document = rest;
    return;
  }
  path = rest.substr(0, slash + 1);
  document = rest.substr(slash + 1);
}

// Collapses runs of '/' and lets each ".." segment remove the segment before it. A "."
// segment stays: peers see the path as the page wrote it.
std::string NormalizePath(std::string_view path) {
  std::vector<std::string_view> segments;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos)
      end = path.size();
    const std::string_view segment = path.substr(start, end - start);
    if (segment == "..") {
      if (!segments.empty())
        segments.pop_back();
    } else if (!segment.empty()) {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  std::string result = path.starts_with('/') ? "/" : "";
  for (std::string_view segment : segments) {
    result += segment;
    result += '/';
  }
  return result;
}

}  // namespace

TUri TUri::Parse(const std::string& url) {
  TUri uri;
  std::string text = url;
  if (const std::size_t hash = text.find('#'); hash != std::string::npos)
    text.resize(hash);
  const std::size_t scheme_end = text.find("://");
  SlashBackslashes(text, scheme_end == std::string::npos ? 0 : scheme_end + 3);
  if (const std::size_t question = text.find('?'); question != std::string::npos) {
    uri.params = text.substr(question + 1);
    text.resize(question);
  }
  if (scheme_end == std::string::npos) {
    SplitPath(text, uri.path, uri.document);
    return uri;
  }
  uri.protocol = text.substr(0, scheme_end);
  std::string_view rest = std::string_view(text).substr(scheme_end + 3);
  const std::size_t authority_end = rest.find('/');
  std::string_view authority = rest.substr(0, authority_end);
  rest =
      authority_end == std::string_view::npos ? std::string_view() : rest.substr(authority_end + 1);
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view user = authority.substr(0, at);
    const std::size_t colon = user.find(':');
    uri.username = user.substr(0, colon);
    if (colon != std::string_view::npos)
      uri.password = user.substr(colon + 1);
    authority = authority.substr(at + 1);
  }
  std::size_t port_colon = std::string_view::npos;
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    uri.host =
        authority.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
    if (close != std::string_view::npos && close + 1 < authority.size() &&
        authority[close + 1] == ':')
      port_colon = close + 1;
  } else {
    port_colon = authority.find(':');
    uri.host = authority.substr(0, port_colon);
  }
  if (port_colon != std::string_view::npos)
    uri.port = authority.substr(port_colon + 1);
  uri.path = "/";
  std::string rest_path;
  SplitPath(rest, rest_path, uri.document);
  uri.path += rest_path;
  return uri;
}

void THttpAddress::Merge(const TUri& uri) {
  if (uri.path.starts_with('/')) {
    path = uri.path;
  } else if (!uri.path.empty()) {
    std::string joined = path;
    if (!joined.ends_with('/'))
      joined += '/';
    joined += uri.path;
    path = NormalizePath(joined);
  }
  document = uri.document;
  params = uri.params;
  if (!uri.host.empty())
    host = uri.host;
  bool new_scheme = false;
  if (!uri.protocol.empty()) {
    protocol = uri.protocol;
    new_scheme = true;
  } else if (!IEquals(protocol, "https")) {
    protocol = "http";
  }
  if (!uri.port.empty())
    port = uri.port;
  else if (new_scheme && IEquals(protocol, "http"))
    port = "80";
  else if (new_scheme && IEquals(protocol, "https"))
    port = "443";
  if (port.empty())
    throw EUnknownProtocol();
}

std::string THttpAddress::RequestTarget() const {
  std::string target = path + document;
  if (!params.empty())
    target += "?" + params;
  return target;
}

std::string THttpAddress::HostValue() const {
  const bool default_port =
      (IEquals(protocol, "http") && port == "80") || (IEquals(protocol, "https") && port == "443");
  // An IPv6 literal keeps its brackets in the Host header.
  const std::string name = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return default_port ? name : name + ":" + port;
}

}  // namespace djkivo::net
