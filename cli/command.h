// The commands of djkivo-cli. Each command file registers itself with a `RegisterCommand`
// object at namespace scope; main() parses the global options and dispatches by name.
#pragma once

#include <string>
#include <vector>

namespace djkivo::cli {

/// Options given before the command name.
struct CliOptions {
  std::string catalogue_host;  // --catalogue-host HOST[:PORT]
  std::string home_host;       // --home-host HOST[:PORT]
  std::string playlist;        // --playlist PATH
  std::string device;          // --device portaudio|null|wav:PATH
};

/// A command's entry: gets the words after the command name, returns the exit status.
/// Output goes to stdout as raw bytes; errors go to stderr.
using CommandFn = int (*)(const CliOptions& options, const std::vector<std::string>& args);

struct Command {
  const char* name;
  const char* usage;  // the arguments, for the usage text
  CommandFn run;
};

/// Registers a command at static-initialisation time.
struct RegisterCommand {
  explicit RegisterCommand(Command command);
};

/// The registered commands, in registration order.
const std::vector<Command>& Commands();

/// Exit status for wrong usage.
inline constexpr int kExitUsage = 64;

}  // namespace djkivo::cli
