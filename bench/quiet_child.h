// What the benchmarks that run programs beside them share: starting a child with its output
// thrown away, and the `--seconds N` option of their length.
#pragma once

#include <fcntl.h>
#include <spawn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace djkivo::bench {

/// Starts `args` (found on PATH) with `extra_env` added to this process's environment and its
/// stdout and stderr on /dev/null. The child's pid, or -1 when it could not be started.
inline pid_t SpawnQuiet(const std::vector<std::string>& args,
                        const std::vector<std::string>& extra_env) {
  std::vector<char*> argv;
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env_strings(extra_env);
  for (char** e = environ; *e; ++e)
    env_strings.emplace_back(*e);
  std::vector<char*> envp;
  for (std::string& entry : env_strings)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

/// The value of `--seconds N` on the command line (at least 1), or `fallback`.
inline int SecondsOption(int argc, char** argv, int fallback) {
  int seconds = fallback;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--seconds") == 0)
      seconds = std::max(1, std::atoi(argv[++i]));
  return seconds;
}

}  // namespace djkivo::bench
