#include <string_view>

#include "base/ascii.h"
#include "cli/command.h"

namespace djkivo::cli {

namespace {

// The order of the usage text: a page load, the window's steps from a page to a stream, the
// playing chain, the window's list loads, and the play list.
constexpr const Command* kCommands[] = {
    &kFetchCommand, &kScrapeCommand, &kResolveCommand, &kMatchCommand,
    &kPlayCommand,  &kListCommand,   &kSearchCommand,  &kPlaylistCommand,
};

}  // namespace

std::span<const Command* const> Commands() { return kCommands; }

const Command* FindCommand(std::string_view name) {
  for (const Command* command : kCommands)
    if (command->name == name)
      return command;
  return nullptr;
}

std::string CliUsageText() {
  std::string commands = "commands:\n";
  for (const Command* command : kCommands)
    commands.append("  ").append(command->name).append(" ").append(command->usage).append("\n");
  CliOptions unused;
  return UsageText("djkivo-cli [OPTION]... COMMAND [ARG]...", app::SharedOptionTable(unused),
                   commands);
}

std::string ScdocCommandList() {
  std::string text;
  for (const Command* command : kCommands) {
    if (!text.empty())
      text.append("\n");
    // A usage that runs over two lines is one line in the manual: scdoc takes an indented line
    // for markup of its own.
    std::string usage;
    for (std::string_view rest = command->usage; !rest.empty();) {
      const std::size_t line_end = rest.find('\n');
      if (!usage.empty())
        usage.append(" ");
      usage.append(Trimmed(rest.substr(0, line_end)));
      rest = line_end == std::string_view::npos ? std::string_view() : rest.substr(line_end + 1);
    }
    text.append("*").append(command->name).append("* ").append(ScdocEscaped(usage)).append("\n");
  }
  return text;
}

}  // namespace djkivo::cli
