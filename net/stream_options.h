// The network options of a stream: what FFmpeg is told so that a stream takes the same way as
// the pages (the same proxy, the same trust) and is checked as they are.
#pragma once

#include <chrono>
#include <optional>
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
///   the process's own, or `SSL_CERT_FILE` alone. `SSL_CERT_DIR` has no counterpart: FFmpeg's
///   TLS takes a file only, so a CA trusted only through a folder is trusted by pages, not
///   streams.
///
/// Throws EProxyError for a proxy setting that cannot be used, and ETlsError when the joined
/// trust file cannot be written. Any thread.
std::vector<std::pair<std::string, std::string>> StreamNetworkOptions(
    const TNetworkSettings& settings, const std::string& address,
    const TEnvironment& environment = ProcessEnvironment);

/// The whole check of a server's certificate made for a stream whose open failed, so that a
/// refused certificate is not a hang on top of the failure.
inline constexpr std::chrono::milliseconds kStreamCertificateCheckLimit{10000};

/// Why an https stream's server certificate is refused, in the words a page load uses ("The
/// certificate of HOST has expired ..."), found by checking it as a page load would (the same
/// proxy and trust, a HEAD request sent only when the certificate passes); nullopt when the
/// certificate passes, the address is not https, or the check could not reach the server. For
/// a stream whose TLS open failed with no reason given (FFmpeg's TLS says only "Input/output
/// error"). Bounded by kStreamCertificateCheckLimit. Any thread.
std::optional<std::string> StreamCertificateRefusal(const TNetworkSettings& settings,
                                                    const std::string& address);

}  // namespace djkivo::net
