#include "UrlFragment.h"

#include <algorithm>
#include <cstdint>

std::optional<char32_t> NumericCharReference(std::string_view text, std::size_t at,
                                             std::size_t& length) {
  if (text.substr(at, 2) != "&#") return std::nullopt;
  size_t pos = at + 2;
  const bool hex = pos < text.size() && (text[pos] == 'x' || text[pos] == 'X');
  if (hex) ++pos;
  const size_t digitsStart = pos;
  std::uint32_t value = 0;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) break;
    // Past the last code point the number stays above it.
    value = std::min<std::uint32_t>(value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit),
                                    0x110000);
  }
  if (pos == digitsStart || pos >= text.size() || text[pos] != ';') return std::nullopt;
  length = pos + 1 - at;
  const bool named = value > 0 && value < 0x110000 && (value < 0xD800 || value > 0xDFFF);
  return named ? static_cast<char32_t>(value) : U'\uFFFD';
}

std::size_t FragmentStart(std::string_view address) {
  for (size_t at = address.find('#'); at != std::string_view::npos;
       at = address.find('#', at + 1)) {
    size_t length = 0;
    if (at == 0 || !NumericCharReference(address, at - 1, length)) return at;
  }
  return std::string_view::npos;
}
