// GBK text for the demo site's pages: the site's own texts are written in UTF-8 source.
#pragma once

#include <string>
#include <string_view>

namespace djkivo::demo {

/// `utf8` converted to GBK bytes (glibc iconv). Throws std::runtime_error on text that has
/// no GBK form; the site's texts all have one.
std::string Gbk(std::string_view utf8);

}  // namespace djkivo::demo
