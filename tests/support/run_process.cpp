#include "tests/support/run_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/temp_folder.h"

extern char** environ;

namespace djkivo::test {

namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
  TempFolder folder;
  const std::string out_path = (folder.Path() / "out").string();
  const std::string err_path = (folder.Path() / "err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<std::string> args = argv;
  std::vector<char*> pointers;
  for (std::string& arg : args)
    pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  pid_t pid = -1;
  const int status =
      ::posix_spawn(&pid, args.at(0).c_str(), &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (status != 0)
    throw std::runtime_error("cannot start " + args[0]);

  ProcessResult result;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int wait_status = 0;
  for (;;) {
    if (::waitpid(pid, &wait_status, WNOHANG) == pid) {
      if (WIFEXITED(wait_status))
        result.exit_code = WEXITSTATUS(wait_status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &wait_status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.out = ReadFile(out_path);
  result.err = ReadFile(err_path);
  return result;
}

}  // namespace djkivo::test
