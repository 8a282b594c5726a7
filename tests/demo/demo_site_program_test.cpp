// The djkivo-demo-site program: prints its address, serves, and ends cleanly on SIGTERM.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "demo/certificates.h"
#include "tests/support/client_load.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wire_client.h"

namespace djkivo::demo {
namespace {

using namespace std::chrono_literals;

#ifdef DJKIVO_DEMO_SITE_PATH
constexpr const char* kProgram = DJKIVO_DEMO_SITE_PATH;
#else
constexpr const char* kProgram = "";
#endif

struct Child {
  pid_t pid = -1;
  int out = -1;  // the child's standard output
};

Child Spawn(const std::vector<std::string>& args) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe2 failed");
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(kProgram));
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    execv(kProgram, argv.data());
    _exit(127);
  }
  close(fds[1]);
  return {pid, fds[0]};
}

// The exit status, or -1 when the child did not end within `timeout` (it is then killed).
int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(20ms);  // polling a child's exit; there is no event to wait on
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadLine(int fd, std::chrono::milliseconds timeout) {
  std::string line;
  pollfd p{fd, POLLIN, 0};
  while (line.find('\n') == std::string::npos &&
         poll(&p, 1, static_cast<int>(timeout.count())) > 0) {
    char chunk[256];
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got <= 0)
      break;
    line.append(chunk, static_cast<std::size_t>(got));
  }
  return line;
}

TEST(DemoSiteProgramTest, PrintsItsAddressServesAndEndsOnSigterm) {
  if (!std::filesystem::exists(kProgram))
    GTEST_SKIP() << "djkivo-demo-site is not built";
  test::TempFolder cache;
  Child child = Spawn({"--port", "0", "--cache", cache.Path().string(), "--version-body", "7",
                       "--fault", "chunked"});
  std::string line = ReadLine(child.out, 30s);
  ASSERT_TRUE(line.starts_with("http://127.0.0.1:")) << line;
  auto port = static_cast<std::uint16_t>(std::stoi(line.substr(17)));
  test::WireResponse response = test::Get(port, "/djKivodata/ver.txt");
  EXPECT_EQ(response.body, "7");
  EXPECT_EQ(response.headers["transfer-encoding"], "chunked");
  kill(child.pid, SIGTERM);
  EXPECT_EQ(WaitExit(child.pid, 20s), 0);
  close(child.out);
}

TEST(DemoSiteProgramTest, ServesHttpsWithTheGivenCertificate) {
  if (!std::filesystem::exists(kProgram))
    GTEST_SKIP() << "djkivo-demo-site is not built";
  test::TempFolder folder;
  const ThrowawayCertificate files = MakeThrowawayCertificate(folder.Path().string());
  test::TempFolder cache;
  Child child = Spawn({"--port", "0", "--cache", cache.Path().string(), "--version-body", "8",
                       "--tls", files.certificate_file, files.key_file});
  std::string line = ReadLine(child.out, 30s);
  ASSERT_TRUE(line.starts_with("https://127.0.0.1:")) << line;
  line.resize(line.find_last_not_of("/\n") + 1);
  const test::LoadOutcome version =
      test::Load(line + "/djKivodata/ver.txt", [&](net::THttpClient& client) {
        client.SetNetworkSettings({.proxy = "", .ca_file = files.ca_file});
      });
  EXPECT_EQ(version.body, "8") << version.error;
  kill(child.pid, SIGTERM);
  EXPECT_EQ(WaitExit(child.pid, 20s), 0);
  close(child.out);
}

TEST(DemoSiteProgramTest, RejectsBadOptions) {
  if (!std::filesystem::exists(kProgram))
    GTEST_SKIP() << "djkivo-demo-site is not built";
  for (std::vector<std::string> args : {std::vector<std::string>{"--port", "70000"},
                                        {"--fault", "nonsense"},
                                        {"--bogus"},
                                        {"--port"},
                                        {"--tls", "cert.pem"}}) {
    Child child = Spawn(args);
    EXPECT_EQ(WaitExit(child.pid, 20s), 64) << args[0];
    close(child.out);
  }
}

}  // namespace
}  // namespace djkivo::demo
