// The window's side of the GBK boundary: the core's GBK bytes as Qt text and back.
#pragma once

#include <string>

#include <QString>

namespace djkivo::app {

/// GBK bytes for display. A byte sequence that is no character (a name cut inside a
/// double-byte character, say) shows as U+FFFD, and the rest of the text still shows.
QString FromGbkText(const std::string& bytes);

/// Typed text as GBK (GB18030) bytes; every character converts.
std::string ToGbkText(const QString& text);

}  // namespace djkivo::app
