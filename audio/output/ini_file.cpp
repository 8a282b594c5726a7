#include "audio/output/ini_file.h"

#include <cctype>
#include <fstream>
#include <vector>

namespace djkivo {

namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos)
    return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The lines of an INI file and where a key (or its section) lies in them.
struct IniLines {
  std::vector<std::string> lines;
  int section = -1;  // index of the section's line
  int key = -1;      // index of the key's line within it
};

IniLines ReadLines(const std::string& path, const std::string& section, const std::string& key) {
  IniLines ini;
  std::ifstream in(path);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    const std::string trimmed = Trim(line);
    const int index = static_cast<int>(ini.lines.size());
    if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
      inside = SameName(Trim(trimmed.substr(1, trimmed.size() - 2)), section);
      if (inside && ini.section < 0)
        ini.section = index;
    } else if (inside && ini.key < 0) {
      const auto equals = trimmed.find('=');
      if (equals != std::string::npos && SameName(Trim(trimmed.substr(0, equals)), key))
        ini.key = index;
    }
    ini.lines.push_back(line);
  }
  return ini;
}

}  // namespace

std::optional<std::string> ReadIniValue(const std::string& path, const std::string& section,
                                        const std::string& key) {
  const IniLines ini = ReadLines(path, section, key);
  if (ini.key < 0)
    return std::nullopt;
  const std::string& line = ini.lines[static_cast<std::size_t>(ini.key)];
  return Trim(line.substr(line.find('=') + 1));
}

bool WriteIniValue(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value) {
  IniLines ini = ReadLines(path, section, key);
  const std::string entry = key + "=" + value;
  if (ini.key >= 0) {
    ini.lines[static_cast<std::size_t>(ini.key)] = entry;
  } else if (ini.section >= 0) {
    ini.lines.insert(ini.lines.begin() + ini.section + 1, entry);
  } else {
    ini.lines.push_back("[" + section + "]");
    ini.lines.push_back(entry);
  }
  std::ofstream out(path, std::ios::trunc);
  for (const std::string& line : ini.lines)
    out << line << '\n';
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace djkivo
