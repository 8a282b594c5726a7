// Runs a program (the command-line tool) to its end and captures its output bytes.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace djkivo::test {

struct ProcessResult {
  int exit_code = -1;  // -1 when it was killed or did not end in time
  std::string out;     // standard output, as bytes
  std::string err;     // standard error, as bytes
};

/// Runs `argv` (argv[0] is the program's path) with no input, waits for it up to `timeout`
/// (then kills it) and returns its exit code and output. Throws std::runtime_error when it
/// cannot be started.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace djkivo::test
