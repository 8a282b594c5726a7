// djkivo-cli: fetch, scrape, resolve, match, play, list and search from the command line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/command.h"

namespace djkivo::cli {

namespace {
std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}
}  // namespace

RegisterCommand::RegisterCommand(Command command) { Registry().push_back(command); }

const std::vector<Command>& Commands() { return Registry(); }

namespace {

void PrintUsage() {
  std::fprintf(stderr,
               "usage: djkivo-cli [--catalogue-host HOST[:PORT]] [--home-host HOST[:PORT]]\n"
               "                  [--playlist PATH] [--device DEVICE] COMMAND ...\n"
               "commands:\n");
  for (const Command& command : Commands())
    std::fprintf(stderr, "  %s %s\n", command.name, command.usage);
}

}  // namespace
}  // namespace djkivo::cli

int main(int argc, char** argv) {
  using namespace djkivo::cli;
  CliOptions options;
  struct Option {
    const char* name;
    std::string* value;
  };
  const Option kOptions[] = {{"--catalogue-host", &options.catalogue_host},
                             {"--home-host", &options.home_host},
                             {"--playlist", &options.playlist},
                             {"--device", &options.device}};
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
    const Option* found = nullptr;
    for (const Option& option : kOptions)
      if (std::strcmp(argv[i], option.name) == 0)
        found = &option;
    if (!found || i + 1 >= argc) {
      std::fprintf(stderr, "djkivo-cli: unknown option or missing value: %s\n", argv[i]);
      PrintUsage();
      return kExitUsage;
    }
    *found->value = argv[i + 1];
  }
  if (i >= argc) {
    PrintUsage();
    return kExitUsage;
  }
  for (const Command& command : Commands()) {
    if (std::strcmp(argv[i], command.name) == 0)
      return command.run(options, std::vector<std::string>(argv + i + 1, argv + argc));
  }
  std::fprintf(stderr, "djkivo-cli: unknown command: %s\n", argv[i]);
  PrintUsage();
  return kExitUsage;
}
