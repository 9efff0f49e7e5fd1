#include "Utf8Text.h"

#include <unicode/utf8.h>

#include <QStringDecoder>
#include <algorithm>
#include <climits>
#include <optional>

#include "CharsetDecode.h"
#include "Windows1252.h"

namespace {

void AppendUtf8(std::string& out, char32_t ch) {
  if (ch < 0x80) {
    out += static_cast<char>(ch);
  } else if (ch < 0x800) {
    out += static_cast<char>(0xC0 | (ch >> 6));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  } else if (ch < 0x10000) {
    out += static_cast<char>(0xE0 | (ch >> 12));
    out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (ch >> 18));
    out += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  }
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Well-formed UTF-8, read a code point at a time with ICU: for the short
// texts of a vocabulary (words, addresses) that is many times quicker than
// setting up a decoder. nullopt at the first malformed sequence, so that
// such a text is left to the decoder, whose replacement of it the rest of
// the program knows; and for a byte-order mark, which the decoder drops.
std::optional<std::string> WellFormedToCp1252(std::string_view utf8) {
  if (utf8.size() > INT32_MAX || utf8.starts_with("\xEF\xBB\xBF")) return std::nullopt;
  const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
  const auto length = static_cast<int32_t>(utf8.size());
  std::string text;
  text.reserve(utf8.size());
  for (int32_t at = 0; at < length;) {
    UChar32 ch = 0;
    U8_NEXT(bytes, at, length, ch);
    if (ch < 0) return std::nullopt;
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) {
      text += static_cast<char>(ch);
    } else {
      AppendAsCp1252(text, static_cast<char32_t>(ch));
    }
  }
  return text;
}

}  // namespace

// Every code point here is a scalar value (a reference to a surrogate or
// beyond U+10FFFF is no reference), so it is written as it stands.
std::string Cp1252ToUtf8(std::string_view text) {
  std::string utf8;
  utf8.reserve(text.size() + text.size() / 4);
  for (size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80 && byte != '&') {
      utf8 += static_cast<char>(byte);
      continue;
    }
    size_t length = 0;
    if (std::optional<char32_t> ch = UnheldCharReference(text, at, length)) {
      AppendUtf8(utf8, *ch);
      at += length - 1;
    } else {
      AppendUtf8(utf8, Cp1252Char(byte));
    }
  }
  return utf8;
}

// Text of ASCII alone reads the same in both (most words and addresses).
std::string Utf8ToCp1252(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  constexpr std::size_t kShort = 4096;
  if (utf8.size() <= kShort) {
    if (std::optional<std::string> text = WellFormedToCp1252(utf8)) return std::move(*text);
  }
  return DecodeToCp1252(utf8, "utf-8");
}

bool IsUtf8Text(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return true;
  auto isHigh = [](char c) { return static_cast<unsigned char>(c) >= 0x80; };
  if (std::none_of(bytes.begin(), bytes.end(), isHigh)) return false;
  QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
  QString ignored = decoder(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  return !decoder.hasError();
}
