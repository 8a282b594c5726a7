// A program's command-line options as one table: the parser, the `--help` text and the manual
// page's option list are all made from it, so they cannot disagree. Both programs, the window
// and the command-line tool, parse with it.
//
// A table is built by a function that binds each entry to a field of the program's options
// struct, so adding an option is one field and one line:
//
//   std::vector<CommandLineOption> MyOptionTable(MyOptions& o) {
//     return {{"--device", "DEVICE", "the sound device", &o.device},
//             {"--help", "", "print this help and exit", &o.help, "-h"}};
//   }
#pragma once

#include <cstddef>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace djkivo {

/// One option of a table. A value option is written "--name VALUE" or "--name=VALUE" and takes
/// a non-empty value (for a number, a decimal whole number); a flag (empty `value_name`) takes
/// none. Given twice, the last one counts.
struct CommandLineOption {
  std::string_view name;        ///< "--device"
  std::string_view value_name;  ///< "DEVICE" for a value option; empty for a flag
  std::string_view help;        ///< one line for the usage text and the manual page
  /// Where the parser stores what it read: a string or a number for a value option, a bool
  /// for a flag.
  std::variant<std::string*, int*, bool*> target;
  std::string_view short_name = {};  ///< "-h"; most options have none
};

/// Wrong usage: an unknown option, a missing or empty value, a value that is no whole number
/// for a number option, a value given to a flag, or an
/// argument the program does not take. `what()` is the message for the user, without the
/// program's name ("unknown option: --volume").
class EUsageError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

/// Reads the options at the front of `args` (the arguments after the program's name) into
/// their targets. Reading stops at the first argument that is no option ("-" alone is none)
/// and after a "--"; returns the index of the first argument not read (args.size() when all
/// were). Throws EUsageError.
std::size_t ParseOptions(std::span<const std::string> args,
                         std::span<const CommandLineOption> table);

/// The usage text: "usage: " and `synopsis`, then "options:" with one aligned line per option
/// and its help, then `epilogue` when it is not empty. Ends with a newline.
std::string UsageText(std::string_view synopsis, std::span<const CommandLineOption> table,
                      std::string_view epilogue = {});

/// `text` with the bytes scdoc gives a meaning ('*', '_' and the backslash) made plain.
std::string ScdocEscaped(std::string_view text);

/// The option list in scdoc markup for a manual page's OPTIONS section: per option a line with
/// its names and value (bold names, underlined value) and its help indented below it.
std::string ScdocOptionList(std::span<const CommandLineOption> table);

}  // namespace djkivo
