#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "tests/support/poll.h"

extern char** environ;

namespace djkivo::test {

namespace {

constexpr int kReportFd = 3;
// How long a program may take to end after SIGTERM before it is killed.
constexpr auto kStopLimit = std::chrono::seconds(5);
constexpr auto kPollStep = std::chrono::milliseconds(10);

}  // namespace

std::optional<std::string> FindProgram(const std::string& program) {
  if (program.find('/') != std::string::npos)
    return ::access(program.c_str(), X_OK) == 0 ? std::optional(program) : std::nullopt;
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return std::nullopt;
}

ChildProcess::ChildProcess(std::vector<std::string> argv) {
  const std::optional<std::string> path = argv.empty() ? std::nullopt : FindProgram(argv[0]);
  if (!path)
    throw std::runtime_error("cannot find " + (argv.empty() ? std::string("a program") : argv[0]));
  std::vector<char*> pointers;
  for (std::string& arg : argv)
    pointers.push_back(arg.data());
  pointers.push_back(nullptr);

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0)
    throw std::runtime_error("cannot start " + argv[0] + ": no pipe");
  const int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ == 0) {
    // The program dies with the test program, however that ends.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
      ::_exit(127);  // it died before the line above took effect
    ::dup2(null_fd, STDIN_FILENO);
    if (report[1] == kReportFd)
      ::fcntl(kReportFd, F_SETFD, 0);
    else
      ::dup2(report[1], kReportFd);
    ::close_range(kReportFd + 1, ~0U, 0);
    ::execve(path->c_str(), pointers.data(), environ);
    ::_exit(127);
  }
  ::close(report[1]);
  if (null_fd >= 0)
    ::close(null_fd);
  if (pid_ < 0) {
    ::close(report[0]);
    throw std::runtime_error("cannot start " + argv[0]);
  }
  report_fd_ = report[0];
}

ChildProcess::~ChildProcess() { Stop(); }

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const std::size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (report_fd_ < 0 || left.count() <= 0)
      return std::nullopt;
    pollfd ready{report_fd_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left.count())) != 1)
      continue;  // timed out or interrupted: the deadline decides
    char bytes[256];
    const ssize_t got = ::read(report_fd_, bytes, sizeof bytes);
    if (got <= 0)
      return std::nullopt;  // closed: no further line will come
    pending_.append(bytes, static_cast<std::size_t>(got));
  }
}

bool ChildProcess::Running() {
  if (pid_ <= 0)
    return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_)
    return true;
  pid_ = -1;
  return false;
}

void ChildProcess::Stop() {
  if (Running()) {
    ::kill(pid_, SIGTERM);
    PollUntil([this] { return !Running(); }, kStopLimit, kPollStep);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }
  if (report_fd_ >= 0) {
    ::close(report_fd_);
    report_fd_ = -1;
  }
}

}  // namespace djkivo::test
