// The threads of a process as the kernel lists them (/proc/PID/task): each one's name and its
// context switches, for tests that look for the player's thread names and for benchmarks that
// count wake-ups. Free of GoogleTest: benchmarks use it too.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace djkivo::test {

/// One thread of a process at one moment.
struct ThreadTask {
  pid_t tid = 0;
  std::string name;                // its `comm`
  std::uint64_t voluntary = 0;     // context switches it asked for (waits, sleeps)
  std::uint64_t nonvoluntary = 0;  // context switches the scheduler made (preemption)
  std::uint64_t Switches() const { return voluntary + nonvoluntary; }
};

/// The threads of process `pid` (0: this process) living now. A thread that ends while the
/// list is read is left out. Empty when the process is gone.
std::vector<ThreadTask> ListThreadTasks(pid_t pid = 0);

/// The names of process `pid`'s threads living now.
std::vector<std::string> ThreadNames(pid_t pid = 0);

/// Context switches per thread name between two lists of the same process, summed over the
/// threads of each name in `after` (a thread started in between counts from zero; one that
/// ended in between is not in `after` and so not counted).
std::map<std::string, std::uint64_t> SwitchesBetween(const std::vector<ThreadTask>& before,
                                                     const std::vector<ThreadTask>& after);

}  // namespace djkivo::test
