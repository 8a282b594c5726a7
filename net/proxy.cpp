// Proxy choice. Covered by tests/net/proxy_test.cpp (settings, environment, no_proxy table) and
// tests/net/http_proxy_test.cpp (tinyproxy and scripted proxies).
#include "net/proxy.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "base/ascii.h"
#include "base/hex_digit.h"
#include "net/http_errors.h"
#include "net/http_url.h"

namespace djkivo::net {

namespace {

// The user name or password of a proxy address: "%XX" becomes its byte. Unlike a query value,
// a "+" stays a "+" (it is no space in the authority of an address).
std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
        HexDigitValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Every byte but the unreserved ones of RFC 3986 as "%XX", so that a user name or password
// holding ':' or '@' survives the trip through a URL.
std::string PercentEncoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k)
      group = group << 8 | (k < count ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    for (std::size_t k = 0; k < 4; ++k)
      out += k <= count ? kDigits[(group >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

// An address in binary, for range matches.
struct IpAddress {
  int family = 0;
  unsigned char bytes[16] = {};
  std::size_t size() const { return family == AF_INET ? 4 : 16; }
};

std::optional<IpAddress> ParseIp(std::string_view text) {
  const std::string copy(text);
  IpAddress address;
  if (inet_pton(AF_INET, copy.c_str(), address.bytes) == 1)
    address.family = AF_INET;
  else if (inet_pton(AF_INET6, copy.c_str(), address.bytes) == 1)
    address.family = AF_INET6;
  else
    return std::nullopt;
  return address;
}

// Whether `host` falls in "ADDRESS/BITS" (or is ADDRESS, without "/BITS").
bool InRange(const IpAddress& host, std::string_view range) {
  const std::size_t slash = range.find('/');
  const std::optional<IpAddress> network = ParseIp(range.substr(0, slash));
  if (!network || network->family != host.family)
    return false;
  unsigned bits = static_cast<unsigned>(host.size() * 8);
  if (slash != std::string_view::npos) {
    const std::string_view text = range.substr(slash + 1);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bits);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() ||
        bits > host.size() * 8)
      return false;
  }
  for (unsigned i = 0; i < bits; ++i) {
    const unsigned mask = 0x80u >> (i % 8);
    if ((host.bytes[i / 8] & mask) != (network->bytes[i / 8] & mask))
      return false;
  }
  return true;
}

// One no_proxy entry against the host (lower case, no trailing dot) and port.
bool EntryMatches(std::string_view entry, const std::string& host,
                  const std::optional<IpAddress>& host_ip, std::string_view port) {
  if (entry == "*")
    return true;
  // "[v6]", "[v6]:port", "name:port", "v4:port"; a bare IPv6 address has several colons.
  std::string_view name = entry;
  if (entry.starts_with('[')) {
    const std::size_t close = entry.find(']');
    if (close == std::string_view::npos)
      return false;
    name = entry.substr(1, close - 1);
    const std::string_view rest = entry.substr(close + 1);
    if (!rest.empty() && (!rest.starts_with(':') || rest.substr(1) != port))
      return false;
  } else if (const std::size_t colon = entry.find(':');
             colon != std::string_view::npos &&
             entry.find(':', colon + 1) == std::string_view::npos) {
    if (entry.substr(colon + 1) != port)
      return false;
    name = entry.substr(0, colon);
  }
  if (host_ip)
    return InRange(*host_ip, name);
  if (name.starts_with('.'))
    name.remove_prefix(1);
  if (name.ends_with('.'))
    name.remove_suffix(1);
  const std::string lowered = AsciiLowered(name);
  if (lowered.empty())
    return false;
  return host == lowered || (host.size() > lowered.size() && host.ends_with(lowered) &&
                             host[host.size() - lowered.size() - 1] == '.');
}

// The first set, non-empty variable of `names`.
std::optional<std::string> FirstSet(const TEnvironment& environment,
                                    std::initializer_list<const char*> names) {
  for (const char* name : names)
    if (std::optional<std::string> value = environment(name); value && !value->empty())
      return value;
  return std::nullopt;
}

}  // namespace

std::string Authority(std::string_view host, std::string_view port) {
  std::string text =
      host.find(':') != std::string_view::npos ? "[" + std::string(host) + "]" : std::string(host);
  return text + ":" + std::string(port);
}

std::string TProxy::Name() const { return Authority(host, port); }

std::string TProxy::Authorization() const {
  return user.empty() ? std::string() : "Basic " + Base64(user + ":" + password);
}

std::string TProxy::Url() const {
  std::string url = "http://";
  if (!user.empty())
    url += PercentEncoded(user) + ":" + PercentEncoded(password) + "@";
  return url + Name();
}

TProxy ParseProxy(std::string_view setting) {
  const std::string text(Trimmed(setting));
  const bool has_scheme = text.find("://") != std::string::npos;
  const TUri uri = TUri::Parse(has_scheme ? text : "http://" + text);
  if (!IEquals(uri.protocol, "http"))
    throw EProxyError("Proxy \"" + text + "\" is not supported: only http:// proxies are.");
  TProxy proxy;
  proxy.host = uri.host;
  proxy.port = uri.port.empty() ? TProxy::kDefaultPort : uri.port;
  proxy.user = PercentDecoded(uri.username);
  proxy.password = PercentDecoded(uri.password);
  unsigned number = 0;
  const auto [end, error] =
      std::from_chars(proxy.port.data(), proxy.port.data() + proxy.port.size(), number);
  if (proxy.host.empty() || error != std::errc() || end != proxy.port.data() + proxy.port.size() ||
      number == 0 || number > 65535)
    throw EProxyError("Proxy \"" + text + "\" is not a proxy address (host[:port]).");
  return proxy;
}

bool NoProxyMatches(std::string_view no_proxy, std::string_view host, std::string_view port) {
  std::string name = AsciiLowered(host);
  if (name.ends_with('.'))
    name.pop_back();
  const std::optional<IpAddress> host_ip = ParseIp(name);
  std::size_t start = 0;
  while (start < no_proxy.size()) {
    const std::size_t end = no_proxy.find_first_of(", \t", start);
    const std::string_view entry = no_proxy.substr(start, end - start);
    if (!entry.empty() && EntryMatches(entry, name, host_ip, port))
      return true;
    if (end == std::string_view::npos)
      break;
    start = end + 1;
  }
  return false;
}

std::optional<std::string> ProcessEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

std::optional<TProxy> ProxyFor(const TNetworkSettings& settings, std::string_view scheme,
                               std::string_view host, std::string_view port,
                               const TEnvironment& environment) {
  std::optional<std::string> setting;
  if (!settings.proxy.empty())
    setting = settings.proxy;
  else if (IEquals(scheme, "https"))
    setting = FirstSet(environment, {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"});
  else
    setting = FirstSet(environment, {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"});
  if (!setting || NoProxyMatches(settings.no_proxy, host, port))
    return std::nullopt;
  if (const std::optional<std::string> no_proxy = FirstSet(environment, {"no_proxy", "NO_PROXY"});
      no_proxy && NoProxyMatches(*no_proxy, host, port))
    return std::nullopt;
  return ParseProxy(*setting);
}

}  // namespace djkivo::net
