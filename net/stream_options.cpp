// Stream network options. Covered by tests/net/stream_options_test.cpp and, through FFmpeg,
// tests/audio/reader/ffmpeg_reader_network_test.cpp.
#include "net/stream_options.h"

#include <openssl/x509.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "base/ascii.h"
#include "net/http_client.h"
#include "net/http_errors.h"
#include "net/http_url.h"

namespace djkivo::net {

namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The joined trust files made so far, by CA file; removed when the process ends.
class JoinedTrustFiles {
 public:
  ~JoinedTrustFiles() {
    for (const auto& [ca_file, path] : paths_)
      ::unlink(path.c_str());
  }

  // The file holding `system_file` and then `ca_file`, made on first use.
  std::string For(const std::string& system_file, const std::string& ca_file) {
    std::lock_guard lock(mutex_);
    const std::string key = system_file + '\n' + ca_file;
    if (const auto found = paths_.find(key); found != paths_.end())
      return found->second;
    const std::string extra = ReadWhole(ca_file);
    if (extra.empty())
      throw ETlsError("Cannot read the CA file \"" + ca_file + "\"");
    const char* folder = std::getenv("TMPDIR");
    std::string path = std::string(folder && *folder ? folder : "/tmp") + "/djkivo-trust-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0)
      throw ETlsError("Cannot write the streams' trust file in " + path);
    const std::string text = ReadWhole(system_file) + "\n" + extra;
    bool written = true;
    for (std::size_t done = 0; written && done < text.size();) {
      const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
      written = count > 0;
      done += written ? static_cast<std::size_t>(count) : 0;
    }
    written = ::close(fd) == 0 && written;
    if (!written) {
      ::unlink(path.c_str());
      throw ETlsError("Cannot write the streams' trust file " + path);
    }
    paths_.emplace(key, path);
    return path;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> paths_;  // guarded by mutex_
};

JoinedTrustFiles& TrustFiles() {
  static JoinedTrustFiles files;
  return files;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> StreamNetworkOptions(
    const TNetworkSettings& settings, const std::string& address, const TEnvironment& environment) {
  std::vector<std::pair<std::string, std::string>> options;
  const TUri uri = TUri::Parse(address);
  const bool https = IEquals(uri.protocol, "https");
  if (https || IEquals(uri.protocol, "http")) {
    const std::string port = !uri.port.empty() ? uri.port : https ? "443" : "80";
    const std::optional<TProxy> proxy =
        ProxyFor(settings, uri.protocol, uri.host, port, environment);
    options.emplace_back("http_proxy", proxy ? proxy->Url() : "");
  }
  // Verification holds for every TLS the stream may reach, a redirect's included.
  options.emplace_back("tls_verify", "1");
  const std::optional<std::string> cert_file = environment(X509_get_default_cert_file_env());
  const bool own_system_file = cert_file && !cert_file->empty();
  if (!settings.ca_file.empty())
    options.emplace_back(
        "ca_file", TrustFiles().For(own_system_file ? *cert_file : X509_get_default_cert_file(),
                                    settings.ca_file));
  else if (own_system_file)
    options.emplace_back("ca_file", *cert_file);
  return options;
}

std::optional<std::string> StreamCertificateRefusal(const TNetworkSettings& settings,
                                                    const std::string& address) {
  if (!IEquals(TUri::Parse(address).protocol, "https"))
    return std::nullopt;
  THttpClient client;
  client.SetNetworkSettings(settings);
  client.SetAllowCookies(false);  // a check, not a visit: it leaves nothing behind
  client.SetConnectTimeout(kStreamCertificateCheckLimit);
  client.SetReadTimeout(kStreamCertificateCheckLimit);
  client.SetLoadTimeout(kStreamCertificateCheckLimit);
  client.Request().method = "HEAD";  // the answer does not matter, only the handshake's check
  try {
    std::string ignored;
    client.GetToStream(address, ignored);
  } catch (const ECertificateError& error) {
    return error.what();
  } catch (const EHttpClientError&) {
  }
  return std::nullopt;
}

}  // namespace djkivo::net
