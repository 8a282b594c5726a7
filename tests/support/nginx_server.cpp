#include "tests/support/nginx_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "tests/support/loopback_port.h"

extern char** environ;

namespace djkivo::test {

namespace {

// How long nginx may take to answer after it was started, and to end after it was told to.
constexpr auto kStartLimit = std::chrono::seconds(15);
constexpr auto kStopLimit = std::chrono::seconds(10);
constexpr auto kPollStep = std::chrono::milliseconds(20);
// Attempts with a new port when another process took the free port first.
constexpr int kStartAttempts = 3;

}  // namespace

bool NginxServer::Available() { return ::access(kBinary, X_OK) == 0; }

NginxServer::NginxServer(const std::string& server_directives, const std::filesystem::path& root,
                         NginxOptions options)
    : options_(std::move(options)) {
  for (int attempt = 0; attempt < kStartAttempts; ++attempt)
    if (Start(server_directives, root))
      return;
  throw std::runtime_error("nginx did not start:\n" + ErrorLog());
}

NginxServer::~NginxServer() { Stop(); }

std::string NginxServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string NginxServer::TlsUrl(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(tls_port_) + path;
}

std::string NginxServer::ErrorLog() const {
  std::ifstream in(prefix_.Path() / "error.log");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool NginxServer::Start(const std::string& server_directives, const std::filesystem::path& root) {
  port_ = FreeLoopbackPort();
  const bool tls = !options_.certificate_file.empty() && !options_.key_file.empty();
  tls_port_ = tls ? FreeLoopbackPort() : 0;
  std::string directives = server_directives;
  for (const auto& [placeholder, port] : {std::pair{"{port}", port_}, {"{tls_port}", tls_port_}})
    for (std::size_t at = directives.find(placeholder); at != std::string::npos;
         at = directives.find(placeholder, at))
      directives.replace(at, std::string_view(placeholder).size(), std::to_string(port));
  std::ostringstream listen;
  listen << "    listen 127.0.0.1:" << port_ << ";\n";
  if (options_.ipv6)
    listen << "    listen [::1]:" << port_ << ";\n";
  if (tls) {
    listen << "    listen 127.0.0.1:" << tls_port_ << " ssl;\n";
    if (options_.ipv6)
      listen << "    listen [::1]:" << tls_port_ << " ssl;\n";
    listen << "    ssl_certificate " << options_.certificate_file << ";\n"
           << "    ssl_certificate_key " << options_.key_file << ";\n"
           << "    ssl_protocols TLSv1.2 TLSv1.3;\n";
  }
  const std::string prefix = prefix_.Path().string();
  std::ostringstream config;
  config << "daemon off;\n"
            "master_process off;\n"
            "worker_processes 1;\n"
         << "pid " << prefix << "/nginx.pid;\n"
         << "error_log " << prefix << "/error.log warn;\n"
         << "events { worker_connections 256; }\n"
            "http {\n"
            "  access_log off;\n"
         << "  client_body_temp_path " << prefix << "/client_body;\n"
         << "  proxy_temp_path " << prefix << "/proxy;\n"
         << "  fastcgi_temp_path " << prefix << "/fastcgi;\n"
         << "  uwsgi_temp_path " << prefix << "/uwsgi;\n"
         << "  scgi_temp_path " << prefix
         << "/scgi;\n"
            "  types { text/html html htm; text/plain txt; }\n"
            "  default_type application/octet-stream;\n"
            "  sendfile on;\n"
            "  keepalive_timeout 30;\n"
            "  server {\n"
         << listen.str() << "    root " << root.string() << ";\n"
         << directives << "\n"
         << "  }\n"
            "}\n";
  const std::string config_path = prefix_.Write("nginx.conf", config.str()).string();
  const std::string log_path = (prefix_.Path() / "error.log").string();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  std::string binary = kBinary;
  std::string p_flag = "-p", c_flag = "-c", e_flag = "-e";
  std::string prefix_arg = prefix + "/";
  std::string config_arg = config_path;
  std::string log_arg = log_path;
  char* argv[] = {binary.data(),     p_flag.data(), prefix_arg.data(), c_flag.data(),
                  config_arg.data(), e_flag.data(), log_arg.data(),    nullptr};
  const int status = ::posix_spawn(&pid_, kBinary, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (status != 0)
    throw std::runtime_error("cannot start " + std::string(kBinary));

  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  while (std::chrono::steady_clock::now() < deadline) {
    int exit_status = 0;
    if (::waitpid(pid_, &exit_status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    if (LoopbackPortAnswers(port_) && (!tls || LoopbackPortAnswers(tls_port_)))
      return true;
    std::this_thread::sleep_for(kPollStep);
  }
  Stop();
  throw std::runtime_error("nginx did not answer in time:\n" + ErrorLog());
}

void NginxServer::Stop() {
  if (pid_ <= 0)
    return;
  ::kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(kPollStep);
  }
  pid_ = -1;
}

}  // namespace djkivo::test
