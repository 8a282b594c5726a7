// Which proxy a request goes through: the `--proxy` setting, or the environment's proxy
// variables with their `no_proxy` exceptions, read as curl reads them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "net/network_settings.h"

namespace djkivo::net {

/// An HTTP proxy as a proxy setting names it.
struct TProxy {
  /// The port of a proxy setting without one, as curl has it.
  static constexpr const char* kDefaultPort = "1080";

  std::string host;  // without the brackets of an IPv6 literal
  std::string port;
  std::string user;  // percent-decoded, as the password
  std::string password;

  /// "host:port" ("[::1]:port" for IPv6), as messages name the proxy. No credentials.
  std::string Name() const;
  /// The Proxy-Authorization value, "Basic " and base64 of "user:password"; empty without a
  /// user.
  std::string Authorization() const;
  /// "http://[user:password@]host:port", percent-encoded again where needed: the form FFmpeg's
  /// http_proxy option takes.
  std::string Url() const;

  bool operator==(const TProxy&) const = default;
};

/// Reads a proxy setting: "[http://][user:password@]host[:port]" (a path after it is
/// ignored). Throws EProxyError for another scheme (https://, socks5://: not supported, and
/// never silently bypassed), an empty host or a port that is not 1 to 65535.
TProxy ParseProxy(std::string_view setting);

/// Whether `no_proxy` exempts `host` (without brackets) on `port`, as curl reads it: entries
/// separated by commas or spaces; "*" exempts every host; a name matches itself and every name
/// below it ("example.com" and ".example.com" both match "www.example.com"), ignoring case; an
/// IP literal matches that address, and "ADDRESS/BITS" a range; "NAME:PORT" or
/// "[IPV6]:PORT" only that port. Loopback is not exempt unless listed.
bool NoProxyMatches(std::string_view no_proxy, std::string_view host, std::string_view port);

/// Reads one environment variable; nullopt when unset. Tests pass their own.
using TEnvironment = std::function<std::optional<std::string>(const char* name)>;

/// The process's environment.
std::optional<std::string> ProcessEnvironment(const char* name);

/// The proxy for a request to `host`:`port` with `scheme` ("http" or "https"):
/// `settings.proxy` if set, or else the environment's `http_proxy` or `https_proxy` by the
/// scheme, then `all_proxy` (each lower case first, then upper case; an empty value is
/// unset). None when there is none, or `settings.no_proxy` or the environment's `no_proxy` (or
/// `NO_PROXY`) exempts the host. Throws
/// EProxyError for a proxy setting that cannot be used.
std::optional<TProxy> ProxyFor(const TNetworkSettings& settings, std::string_view scheme,
                               std::string_view host, std::string_view port,
                               const TEnvironment& environment = ProcessEnvironment);

/// "host:port", with brackets around an IPv6 literal: the authority of a CONNECT request,
/// and how messages name a server.
std::string Authority(std::string_view host, std::string_view port);

}  // namespace djkivo::net
