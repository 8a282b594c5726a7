// A program that runs beside a test (an X server, a tray, a message bus) for as long as the test
// needs it, and never outlives the test program.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace djkivo::test {

/// The full path of `program` as a shell finds it in PATH; nullopt when it is not installed.
std::optional<std::string> FindProgram(const std::string& program);

/// A started program. Its standard input is /dev/null, its output and errors go where the test
/// program's go, and descriptor 3 is a pipe the test reads with `ReadLine` (programs that report
/// where they can be reached write it there: `Xvfb -displayfd 3`, `dbus-daemon
/// --print-address=3`). It ends when this object goes, and with the test program if that dies
/// first (the kernel kills it). Safe to start while other threads run: the child only makes
/// system calls between fork and exec. Not copyable; one thread at a time.
class ChildProcess {
 public:
  /// Starts `argv` (argv[0] looked up in PATH). Throws std::runtime_error when it cannot.
  explicit ChildProcess(std::vector<std::string> argv);
  /// Stops it.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  /// Its process id while it runs; -1 once it has ended.
  pid_t Pid() const { return pid_; }

  /// The next line written to descriptor 3, without its newline; nullopt when the program
  /// closes it, ends or writes no whole line within `timeout`.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);

  /// Whether it is still running.
  bool Running();

  /// Ends it: SIGTERM, then SIGKILL if it has not ended within a few seconds. Returns once it
  /// has ended. Does nothing the second time.
  void Stop();

 private:
  pid_t pid_ = -1;
  int report_fd_ = -1;   // the read end of descriptor 3's pipe
  std::string pending_;  // bytes read after the last whole line
};

}  // namespace djkivo::test
