#include "tests/support/thread_tasks.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

namespace djkivo::test {

namespace {

std::string TaskFolder(pid_t pid) {
  return pid == 0 ? std::string("/proc/self/task") : "/proc/" + std::to_string(pid) + "/task";
}

// Reads one task's name and counters; false when it has gone meanwhile.
bool ReadTask(const std::string& folder, ThreadTask& task) {
  std::ifstream comm(folder + "/comm");
  if (!std::getline(comm, task.name))
    return false;
  std::ifstream status(folder + "/status");
  if (!status)
    return false;
  std::string line;
  while (std::getline(status, line)) {
    std::istringstream fields(line);
    std::string key;
    std::uint64_t value = 0;
    if (!(fields >> key >> value))
      continue;
    if (key == "voluntary_ctxt_switches:")
      task.voluntary = value;
    else if (key == "nonvoluntary_ctxt_switches:")
      task.nonvoluntary = value;
  }
  return true;
}

}  // namespace

std::vector<ThreadTask> ListThreadTasks(pid_t pid) {
  std::vector<ThreadTask> tasks;
  const std::string folder = TaskFolder(pid);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir)
    return tasks;
  while (const dirent* entry = readdir(dir.get())) {
    const pid_t tid = static_cast<pid_t>(std::atoi(entry->d_name));
    if (tid <= 0)
      continue;
    ThreadTask task;
    task.tid = tid;
    if (ReadTask(folder + "/" + entry->d_name, task))
      tasks.push_back(std::move(task));
  }
  return tasks;
}

std::vector<std::string> ThreadNames(pid_t pid) {
  std::vector<std::string> names;
  for (const ThreadTask& task : ListThreadTasks(pid))
    names.push_back(task.name);
  return names;
}

std::map<std::string, std::uint64_t> SwitchesBetween(const std::vector<ThreadTask>& before,
                                                     const std::vector<ThreadTask>& after) {
  std::map<std::string, std::uint64_t> by_name;
  for (const ThreadTask& task : after) {
    std::uint64_t start = 0;
    for (const ThreadTask& earlier : before)
      if (earlier.tid == task.tid)
        start = earlier.Switches();
    by_name[task.name] += task.Switches() - std::min(start, task.Switches());
  }
  return by_name;
}

}  // namespace djkivo::test
