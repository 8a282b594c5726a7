// djkivo-cli match PATTERN FILE|- [--all] [--groups LIST] [--replace TEXT]
// Runs the player's own pattern matcher over a file or standard input.
// Covered by tests/cli/match_command_test.cpp.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "pattern/matcher.h"

namespace djkivo::cli {
namespace {

constexpr int kExitBadPattern = 2;
constexpr int kExitCannotRead = 1;

bool ReadAll(const std::string& path, std::string& out) {
  if (path == "-") {
    out.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return !std::cin.bad();
  }
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// "1,2,3" -> {1, 2, 3}; false on anything that is not a comma-separated list of numbers.
bool ParseGroups(const std::string& list, std::vector<int>& groups) {
  std::stringstream stream(list);
  std::string item;
  while (std::getline(stream, item, ',')) {
    if (item.empty() || item.size() > 3 ||
        item.find_first_not_of("0123456789") != std::string::npos)
      return false;
    groups.push_back(std::stoi(item));
  }
  return !groups.empty();
}

void Write(const std::string& bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

int RunMatch(const CliOptions&, const std::vector<std::string>& args) {
  std::vector<std::string> positional;
  bool all = false;
  bool replace = false;
  std::string replacement;
  std::vector<int> groups;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--all") {
      all = true;
    } else if (args[i] == "--groups" && i + 1 < args.size()) {
      if (!ParseGroups(args[++i], groups)) {
        std::fprintf(stderr, "djkivo-cli match: bad group list: %s\n", args[i].c_str());
        return kExitUsage;
      }
    } else if (args[i] == "--replace" && i + 1 < args.size()) {
      replace = true;
      replacement = args[++i];
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 2) {
    std::fprintf(stderr,
                 "usage: djkivo-cli match PATTERN FILE|- [--all] [--groups LIST] "
                 "[--replace TEXT]\n");
    return kExitUsage;
  }
  std::string text;
  if (!ReadAll(positional[1], text)) {
    std::fprintf(stderr, "djkivo-cli match: cannot read %s\n", positional[1].c_str());
    return kExitCannotRead;
  }
  pattern::TPatternMatcher matcher;
  try {
    matcher.SetExpression(positional[0]);
    if (replace) {
      Write(matcher.ReplaceAll(text, replacement, true));
      return 0;
    }
    for (bool found = matcher.Exec(text); found; found = all && matcher.ExecNext()) {
      std::string line;
      if (groups.empty()) {
        for (int n = 0; n <= matcher.GroupCount(); ++n)
          line += (n ? "\t" : "") + matcher.GroupText(n);
      } else {
        for (std::size_t k = 0; k < groups.size(); ++k)
          line += (k ? "\t" : "") + matcher.GroupText(groups[k]);
      }
      line += '\n';
      Write(line);
    }
  } catch (const pattern::EPatternError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return kExitBadPattern;
  }
  return 0;
}

}  // namespace

const Command kMatchCommand = {"match", "PATTERN FILE|- [--all] [--groups LIST] [--replace TEXT]",
                               RunMatch};

}  // namespace djkivo::cli
