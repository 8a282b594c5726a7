// The commands of djkivo-cli, in one ordered table (cli/commands.cpp): each command file
// defines its `Command`; main() reads the options the tool shares with the window, then runs
// the command named next with the words after it.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "app/core/program_options.h"

namespace djkivo::cli {

/// Options given before the command name: the ones the tool shares with the window.
using CliOptions = app::SharedOptions;

/// Exit status for wrong usage.
using app::kExitUsage;

/// A command's entry: gets the words after the command name, returns the exit status.
/// Output goes to stdout as raw bytes; errors go to stderr.
using CommandFn = int (*)(const CliOptions& options, const std::vector<std::string>& args);

struct Command {
  const char* name;
  const char* usage;  // the arguments, for the usage text
  CommandFn run;
};

/// Defined by the command files.
extern const Command kFetchCommand;
extern const Command kScrapeCommand;
extern const Command kResolveCommand;
extern const Command kMatchCommand;
extern const Command kPlayCommand;
extern const Command kListCommand;
extern const Command kSearchCommand;
extern const Command kPlaylistCommand;

/// Every command, in the order the usage text lists them.
std::span<const Command* const> Commands();

/// The command named `name`, or nullptr.
const Command* FindCommand(std::string_view name);

/// The tool's usage text: the synopsis, its options and its commands. Ends with a newline.
std::string CliUsageText();

/// The commands in scdoc markup, for the manual page: per command its name and arguments.
std::string ScdocCommandList();

}  // namespace djkivo::cli
