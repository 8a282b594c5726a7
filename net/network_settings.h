// The network settings of the program: how every page load and every stream reaches the
// network beyond its own address (the proxy, the extra trusted CA file).
#pragma once

#include <string>

namespace djkivo::net {

/// What the user set for the network (the `--proxy` and `--ca-file` options, or the config
/// keys of the same names). Empty fields mean "not set"; each may be left out of a designated
/// initializer.
struct TNetworkSettings {
  /// The proxy for every request, "[http://][user:password@]host[:port]"; it wins over the
  /// environment's (`http_proxy`, `https_proxy`, `all_proxy`). `no_proxy` applies to both.
  std::string proxy = {};
  /// A PEM file of CA certificates trusted beside the system store (a private mirror's CA).
  std::string ca_file = {};
  /// Hosts always reached directly, in `no_proxy`'s form, beside the environment's `no_proxy`
  /// (the embedded demo site on loopback).
  std::string no_proxy = {};

  bool operator==(const TNetworkSettings&) const = default;
};

/// Makes `settings` the ones every client and stream made from now on takes by default. The
/// window and the command-line tool install theirs once at start-up, before the first load.
/// Any thread.
void InstallNetworkSettings(const TNetworkSettings& settings);

/// The installed settings (empty ones before any install). Any thread.
TNetworkSettings InstalledNetworkSettings();

}  // namespace djkivo::net
