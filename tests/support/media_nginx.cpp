#include "tests/support/media_nginx.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace djkivo::test {

namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0)
      close(fd);
    throw std::runtime_error("no free loopback port");
  }
  close(fd);
  return ntohs(address.sin_port);
}

bool WaitForPort(int port, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(port);
    const bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (up)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

MediaNginx::MediaNginx(const std::string& root, const std::string& extra) {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "djkivo-nginx-XXXXXX").string();
  if (!mkdtemp(pattern.data()))
    throw std::runtime_error("cannot make a folder for nginx");
  folder_ = pattern;
  fs::create_directory(fs::path(folder_) / "temp");
  // A port taken by someone else between the probe and nginx's bind makes nginx exit; try a
  // few ports before giving up.
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    port_ = FreeLoopbackPort();
    const std::string temp = folder_ + "/temp";
    std::ofstream(folder_ + "/nginx.conf")
        << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
        << "error_log " << folder_ << "/error.log error;\npid " << folder_ << "/nginx.pid;\n"
        << "events { worker_connections 64; }\n"
        << "http {\n  access_log off;\n"
        << "  client_body_temp_path " << temp << "; proxy_temp_path " << temp << ";\n"
        << "  fastcgi_temp_path " << temp << "; uwsgi_temp_path " << temp << ";\n"
        << "  scgi_temp_path " << temp << ";\n"
        << "  types { audio/mpeg mp3; audio/x-ms-wma wma; audio/ogg ogg; audio/wav wav;\n"
        << "          video/x-msvideo avi; }\n  default_type application/octet-stream;\n"
        << "  server {\n    listen 127.0.0.1:" << port_ << ";\n    root " << root << ";\n"
        << "    " << extra << "\n  }\n}\n";
    const std::string conf = folder_ + "/nginx.conf";
    const std::string error_log = folder_ + "/error.log";
    std::vector<std::string> args = {"nginx", "-p", folder_, "-e", error_log, "-c", conf};
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    // Debian puts nginx in /usr/sbin, which a user's PATH may lack.
    if (posix_spawn(&pid, "/usr/sbin/nginx", nullptr, nullptr, argv.data(), environ) != 0 &&
        posix_spawnp(&pid, "nginx", nullptr, nullptr, argv.data(), environ) != 0)
      break;
    if (WaitForPort(port_, 5000)) {
      pid_ = pid;
    } else {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  if (pid_ < 0) {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
    throw std::runtime_error("nginx did not start");
  }
}

MediaNginx::~MediaNginx() {
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::string MediaNginx::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

}  // namespace djkivo::test
