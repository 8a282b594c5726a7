// djkivo-cli: fetch, scrape, resolve, match, play, list, search and playlist from the command
// line: the options it shares with the window, then a command and its arguments.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "net/network_settings.h"

int main(int argc, char** argv) {
  using namespace djkivo;
  using namespace djkivo::cli;
  const std::vector<std::string> args(argv + 1, argv + argc);
  CliOptions options;
  std::size_t next = 0;
  try {
    next = ParseOptions(args, app::SharedOptionTable(options));
  } catch (const EUsageError& error) {
    std::fprintf(stderr, "djkivo-cli: %s\n%s", error.what(), CliUsageText().c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(CliUsageText().c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (options.version) {
    std::fputs(app::VersionText("djkivo-cli").c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  net::InstallNetworkSettings(app::NetworkSettings(options));
  if (next >= args.size()) {
    std::fputs(CliUsageText().c_str(), stderr);
    return kExitUsage;
  }
  const Command* command = FindCommand(args[next]);
  if (command == nullptr) {
    std::fprintf(stderr, "djkivo-cli: unknown command: %s\n%s", args[next].c_str(),
                 CliUsageText().c_str());
    return kExitUsage;
  }
  return command->run(options, std::vector<std::string>(args.begin() + next + 1, args.end()));
}
