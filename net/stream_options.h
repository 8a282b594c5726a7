// The network options of a stream: what FFmpeg is told so that a stream takes the same way as
// the pages (the same proxy, the same trust) and is checked as they are.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "net/network_settings.h"
#include "net/proxy.h"

namespace djkivo::net {

/// FFmpeg protocol options, as name and value, for opening `address` with `settings`:
///
/// - "http_proxy": the proxy the pages would take for the address (ProxyFor), or "" for none,
///   so that FFmpeg never reads the environment by other rules than the pages';
/// - "tls_verify" "1": an https:// stream's certificate is checked, as a page's is;
/// - "ca_file": the trust when it is not FFmpeg's own system store: the system store (the
///   `SSL_CERT_FILE` file, or OpenSSL's default file) joined with `settings.ca_file` in a file of
///   the process's own, or `SSL_CERT_FILE` alone.
///
/// Throws EProxyError for a proxy setting that cannot be used, and ETlsError when the joined
/// trust file cannot be written. Any thread.
std::vector<std::pair<std::string, std::string>> StreamNetworkOptions(
    const TNetworkSettings& settings, const std::string& address,
    const TEnvironment& environment = ProcessEnvironment);

}  // namespace djkivo::net
