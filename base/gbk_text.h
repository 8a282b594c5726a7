// Conversion between the core's GBK byte strings and UTF-8, for the places where text meets a
// user or is written in source: the window's widgets, the command-line tool's arguments, and
// the demo site's own texts. Everything else keeps GBK bytes unconverted. Uses glibc iconv with
// GB18030, a superset of GBK, so every byte sequence a GBK site sends converts and converts back
// unchanged. Any thread (each thread keeps its own converters).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace djkivo {

/// `utf8` as GBK (GB18030) bytes, or nothing when `utf8` is not valid UTF-8.
std::optional<std::string> Utf8ToGbk(std::string_view utf8);

/// `gbk` as UTF-8, or nothing when `gbk` holds a byte sequence that is no GB18030 character
/// (a double-byte character cut in half, for one).
std::optional<std::string> GbkToUtf8(std::string_view gbk);

/// `utf8` as GBK bytes, for the program's own texts, which are valid UTF-8 by construction.
/// Throws std::invalid_argument naming the text when it is not.
std::string Gbk(std::string_view utf8);

}  // namespace djkivo
