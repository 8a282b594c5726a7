#include "tests/support/process_stats.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/thread_name.h"

namespace djkivo::test {

namespace fs = std::filesystem;

namespace {

std::string FirstLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

double ResidentMib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0)
      return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

int OwnThreads() {
  const std::string own = FirstLine("/proc/self/comm");
  int count = 0;
  for (const fs::directory_entry& task : fs::directory_iterator("/proc/self/task")) {
    const std::string name = FirstLine(task.path() / "comm");
    count += name == own || name.starts_with(kThreadNamePrefix);
  }
  return count;
}

int OpenDescriptors() {
  // The iterator's own descriptor is open while it lists the folder.
  const auto entries = std::distance(fs::directory_iterator("/proc/self/fd"), {});
  return static_cast<int>(entries) - 1;
}

}  // namespace djkivo::test
