#include "tests/support/tinyproxy_server.h"

#include <signal.h>

#include <chrono>
#include <stdexcept>

#include "tests/support/loopback_port.h"
#include "tests/support/poll.h"

namespace djkivo::test {

namespace {

// How long tinyproxy may take to answer after it was started.
constexpr auto kStartLimit = std::chrono::seconds(15);
// Attempts with a new port when another process took the free port first.
constexpr int kStartAttempts = 3;

}  // namespace

bool TinyproxyServer::Available() { return FindProgram("tinyproxy").has_value(); }

TinyproxyServer::TinyproxyServer(TinyproxyOptions options) {
  const std::string folder = folder_.Path().string();
  for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
    port_ = options.port != 0 ? options.port : FreeLoopbackPort();
    std::string config = "Port " + std::to_string(port_) +
                         "\n"
                         "Listen 127.0.0.1\n"
                         "Timeout 30\n"
                         "MaxClients 64\n"
                         "LogLevel Info\n"
                         "LogFile \"" +
                         folder + "/tinyproxy.log\"\n" + "PidFile \"" + folder +
                         "/tinyproxy.pid\"\n" +
                         (options.refuse_everyone ? "Allow 192.0.2.1\n" : "Allow 127.0.0.1\n");
    if (!options.user.empty())
      config += "BasicAuth " + options.user + " " + options.password + "\n";
    const std::string path = folder_.Write("tinyproxy.conf", config).string();
    process_ =
        std::make_unique<ChildProcess>(std::vector<std::string>{"tinyproxy", "-d", "-c", path});
    if (PollUntil([&] { return !process_->Running() || LoopbackPortAnswers(port_); }, kStartLimit,
                  std::chrono::milliseconds(20)) &&
        process_->Running())
      return;
    process_.reset();
  }
  throw std::runtime_error("tinyproxy did not start:\n" + Log());
}

TinyproxyServer::~TinyproxyServer() {
  if (frozen_)
    kill(process_->Pid(), SIGKILL);  // a stopped process would only see SIGTERM once woken
}

void TinyproxyServer::Freeze() {
  if (!frozen_ && kill(process_->Pid(), SIGSTOP) == 0)
    frozen_ = true;
}

std::string TinyproxyServer::Name() const { return "127.0.0.1:" + std::to_string(port_); }

std::string TinyproxyServer::Log() const { return ReadFileBytes(folder_.Path() / "tinyproxy.log"); }

}  // namespace djkivo::test
