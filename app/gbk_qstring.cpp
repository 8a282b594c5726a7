#include "app/gbk_qstring.h"

#include <optional>

#include "base/gbk.h"
#include "base/gbk_text.h"

namespace djkivo::app {

QString FromGbkText(const std::string& bytes) {
  if (std::optional<std::string> utf8 = GbkToUtf8(bytes))
    return QString::fromUtf8(*utf8);
  QString text;
  for (std::size_t pos = 0; pos < bytes.size();) {
    const std::size_t length = GbkCharLength(bytes, pos);
    std::optional<std::string> piece = GbkToUtf8(std::string_view(bytes).substr(pos, length));
    text += piece ? QString::fromUtf8(*piece) : QString(QChar::ReplacementCharacter);
    pos += length;
  }
  return text;
}

std::string ToGbkText(const QString& text) {
  return Utf8ToGbk(text.toUtf8().toStdString()).value_or(std::string());
}

}  // namespace djkivo::app
