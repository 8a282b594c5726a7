// djkivo-option-list: prints the lists a manual page is written around, in scdoc markup, from
// the same tables the programs' --help prints:
//   djkivo-option-list djkivo            the window's options
//   djkivo-option-list djkivo-cli        the command-line tool's options
//   djkivo-option-list djkivo-cli-commands   the command-line tool's commands
#include <cstdio>
#include <string>
#include <string_view>

#include "app/core/program_options.h"
#include "cli/command.h"

int main(int argc, char** argv) {
  using namespace djkivo;
  const std::string_view list = argc == 2 ? argv[1] : "";
  std::string text;
  if (list == "djkivo") {
    app::WindowOptions options;
    text = ScdocOptionList(app::WindowOptionTable(options));
  } else if (list == "djkivo-cli") {
    cli::CliOptions options;
    text = ScdocOptionList(app::SharedOptionTable(options));
  } else if (list == "djkivo-cli-commands") {
    text = cli::ScdocCommandList();
  } else {
    std::fputs("usage: djkivo-option-list djkivo|djkivo-cli|djkivo-cli-commands\n", stderr);
    return app::kExitUsage;
  }
  std::fputs(text.c_str(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
