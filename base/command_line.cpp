#include "base/command_line.h"

#include <algorithm>
#include <charconv>

namespace djkivo {

namespace {

// The help column of the usage text starts after the widest option, within these bounds: a
// very long option does not push every help line to the right, it gets its help on its own
// line instead.
constexpr std::size_t kMinHelpColumn = 24;
constexpr std::size_t kMaxHelpColumn = 34;
constexpr std::string_view kIndent = "  ";

const CommandLineOption* Find(std::span<const CommandLineOption> table, std::string_view name) {
  for (const CommandLineOption& option : table)
    if (option.name == name || (!option.short_name.empty() && option.short_name == name))
      return &option;
  return nullptr;
}

bool IsFlag(const CommandLineOption& option) { return option.value_name.empty(); }

// "-h, --help" or "--device DEVICE".
std::string Names(const CommandLineOption& option) {
  std::string names;
  if (!option.short_name.empty())
    names.append(option.short_name).append(", ");
  names.append(option.name);
  if (!IsFlag(option))
    names.append(" ").append(option.value_name);
  return names;
}

}  // namespace

std::string ScdocEscaped(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '*' || c == '_' || c == '\\')
      escaped.push_back('\\');
    escaped.push_back(c);
  }
  return escaped;
}

std::size_t ParseOptions(std::span<const std::string> args,
                         std::span<const CommandLineOption> table) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--")
      return i + 1;
    if (arg.size() < 2 || arg[0] != '-')
      return i;
    const std::size_t equals = arg.starts_with("--") ? arg.find('=') : std::string::npos;
    const std::string_view name = std::string_view(arg).substr(0, equals);
    const CommandLineOption* option = Find(table, name);
    if (option == nullptr)
      throw EUsageError("unknown option: " + std::string(name));
    if (IsFlag(*option)) {
      if (equals != std::string::npos)
        throw EUsageError("option " + std::string(name) + " takes no value");
      *std::get<bool*>(option->target) = true;
      continue;
    }
    std::string value;
    if (equals != std::string::npos)
      value = arg.substr(equals + 1);
    else if (i + 1 < args.size())
      value = args[++i];
    if (value.empty())
      throw EUsageError("option " + std::string(name) + " needs a value");
    if (int* const* number = std::get_if<int*>(&option->target)) {
      const char* end = value.data() + value.size();
      const auto [stop, error] = std::from_chars(value.data(), end, **number);
      if (error != std::errc() || stop != end)
        throw EUsageError("option " + std::string(name) + " needs a whole number: " + value);
      continue;
    }
    *std::get<std::string*>(option->target) = std::move(value);
  }
  return args.size();
}

std::string UsageText(std::string_view synopsis, std::span<const CommandLineOption> table,
                      std::string_view epilogue) {
  std::size_t column = kMinHelpColumn;
  for (const CommandLineOption& option : table) {
    const std::size_t wanted = kIndent.size() + Names(option).size() + 2;
    if (wanted <= kMaxHelpColumn)
      column = std::max(column, wanted);
  }

  std::string text = "usage: ";
  text.append(synopsis).append("\noptions:\n");
  for (const CommandLineOption& option : table) {
    std::string line = std::string(kIndent) + Names(option);
    if (line.size() + 2 > column)
      line.append("\n").append(column, ' ');
    else
      line.append(column - line.size(), ' ');
    text.append(line).append(option.help).append("\n");
  }
  if (!epilogue.empty()) {
    text.append(epilogue);
    if (!epilogue.ends_with('\n'))
      text.append("\n");
  }
  return text;
}

std::string ScdocOptionList(std::span<const CommandLineOption> table) {
  std::string text;
  for (const CommandLineOption& option : table) {
    if (!text.empty())
      text.append("\n");
    if (!option.short_name.empty())
      text.append("*").append(ScdocEscaped(option.short_name)).append("*, ");
    text.append("*").append(ScdocEscaped(option.name)).append("*");
    if (!IsFlag(option))
      text.append(" _").append(ScdocEscaped(option.value_name)).append("_");
    text.append("\n\t").append(ScdocEscaped(option.help)).append("\n");
  }
  return text;
}

}  // namespace djkivo
