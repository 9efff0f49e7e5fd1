#include "Utf8Text.h"

#include <QString>
#include <QStringDecoder>
#include <algorithm>

#include "CharsetDecode.h"
#include "Windows1252.h"

std::string Cp1252ToUtf8(std::string_view text) {
  std::u32string chars;
  chars.reserve(text.size());
  for (size_t at = 0; at < text.size(); ++at) {
    size_t length = 0;
    if (std::optional<char32_t> ch = UnheldCharReference(text, at, length)) {
      chars.push_back(*ch);
      at += length - 1;
    } else {
      chars.push_back(Cp1252Char(static_cast<unsigned char>(text[at])));
    }
  }
  QByteArray utf8 = QString::fromUcs4(chars.data(), static_cast<qsizetype>(chars.size())).toUtf8();
  return std::string(utf8.constData(), static_cast<size_t>(utf8.size()));
}

std::string Utf8ToCp1252(std::string_view utf8) { return DecodeToCp1252(utf8, "utf-8"); }

bool IsUtf8Text(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return true;
  auto isHigh = [](char c) { return static_cast<unsigned char>(c) >= 0x80; };
  if (std::none_of(bytes.begin(), bytes.end(), isHigh)) return false;
  QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
  QString ignored = decoder(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  return !decoder.hasError();
}
