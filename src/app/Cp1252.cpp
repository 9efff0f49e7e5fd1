#include "Cp1252.h"

#include <optional>

#include "Windows1252.h"

namespace {

char ByteOfChar(char32_t ch) {
  std::optional<unsigned char> byte = Cp1252Byte(ch);
  return byte ? static_cast<char>(*byte) : '?';
}

}  // namespace

QString FromCp1252(std::string_view bytes) {
  QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
  QChar* out = text.data();
  for (size_t i = 0; i < bytes.size(); ++i) {
    out[i] = QChar(static_cast<char16_t>(Cp1252Char(static_cast<unsigned char>(bytes[i]))));
  }
  return text;
}

std::string ToCp1252(const QString& text) {
  std::string bytes;
  bytes.reserve(static_cast<size_t>(text.size()));
  for (qsizetype i = 0; i < text.size(); ++i) {
    QChar ch = text[i];
    // A surrogate pair is one character outside Windows-1252: one '?'.
    if (ch.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ++i;
    bytes += ByteOfChar(ch.unicode());
  }
  return bytes;
}
