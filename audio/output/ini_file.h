// One value of an INI file, read and written in place: what the sound output keeps its
// calibrated latency in.
#pragma once

#include <optional>
#include <string>

namespace djkivo {

/// The value of `key` in `section` of the INI file at `path`, trimmed; nullopt when the file,
/// the section or the key is missing. Section and key names match in any letter case; the first
/// matching section and, within it, the first matching key count.
std::optional<std::string> ReadIniValue(const std::string& path, const std::string& section,
                                        const std::string& key);

/// Sets `key` in `section` to `value`, keeping every other line as it was: the key's line is
/// replaced, or the key is added right after the section's line, or the section and the key are
/// added at the end. False when the file cannot be written.
bool WriteIniValue(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value);

}  // namespace djkivo
