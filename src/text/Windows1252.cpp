#include "Windows1252.h"

#include <array>

namespace {

// Characters of the bytes 0x80 to 0x9F; the unassigned bytes keep their value.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char32_t kLastCodePoint = 0x10FFFF;

bool IsSurrogate(char32_t ch) { return ch >= 0xD800 && ch <= 0xDFFF; }

}  // namespace

char32_t Cp1252Char(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
  return byte;
}

std::optional<unsigned char> Cp1252Byte(char32_t ch) {
  if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return static_cast<unsigned char>(ch);
  for (size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == ch) return static_cast<unsigned char>(0x80 + i);
  }
  return std::nullopt;
}

std::optional<char32_t> DecimalCharReference(std::string_view text, std::size_t at,
                                             std::size_t& length) {
  if (text.substr(at, 2) != "&#") return std::nullopt;
  char32_t value = 0;
  size_t pos = at + 2;
  // Seven digits hold every code point; more cannot name one.
  while (pos < text.size() && pos - at - 2 < 8 && text[pos] >= '0' && text[pos] <= '9') {
    value = value * 10 + static_cast<char32_t>(text[pos] - '0');
    ++pos;
  }
  if (pos == at + 2 || pos >= text.size() || text[pos] != ';') return std::nullopt;
  if (value > kLastCodePoint || IsSurrogate(value)) return std::nullopt;
  length = pos + 1 - at;
  return value;
}

std::optional<char32_t> UnheldCharReference(std::string_view text, std::size_t at,
                                            std::size_t& length) {
  std::size_t referenceLength = 0;
  std::optional<char32_t> ch = DecimalCharReference(text, at, referenceLength);
  if (!ch || Cp1252Byte(*ch)) return std::nullopt;
  length = referenceLength;
  return ch;
}

void AppendAsCp1252(std::string& out, char32_t ch) {
  if (std::optional<unsigned char> byte = Cp1252Byte(ch)) {
    out.push_back(static_cast<char>(*byte));
    return;
  }
  out += "&#";
  out += std::to_string(static_cast<unsigned long>(ch));
  out.push_back(';');
}
