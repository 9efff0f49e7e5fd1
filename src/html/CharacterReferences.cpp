#include "CharacterReferences.h"

#include <cstring>
#include <optional>
#include <unordered_map>

#include "ByteScan.h"

const std::array<TNamedEntity, 100> NamedEntities = {{
    {"&quot;", "&#34;"},    {"&amp;", "&#38;"},     {"&lt;", "&#60;"},      {"&gt;", "&#62;"},
    {"&nbsp;", "&#160;"},   {"&iexcl;", "&#161;"},  {"&cent;", "&#162;"},   {"&pound;", "&#163;"},
    {"&curren;", "&#164;"}, {"&yen;", "&#165;"},    {"&brvbar;", "&#166;"}, {"&sect;", "&#167;"},
    {"&uml;", "&#168;"},    {"&copy;", "&#169;"},   {"&ordf;", "&#170;"},   {"&laquo;", "&#171;"},
    {"&not;", "&#172;"},    {"&shy;", "&#173;"},    {"&reg;", "&#174;"},    {"&macr;", "&#175;"},
    {"&deg;", "&#176;"},    {"&plusmn;", "&#177;"}, {"&sup2;", "&#178;"},   {"&sup3;", "&#179;"},
    {"&acute;", "&#180;"},  {"&micro;", "&#181;"},  {"&para;", "&#182;"},   {"&middot;", "&#183;"},
    {"&cedil;", "&#184;"},  {"&sup1;", "&#185;"},   {"&ordm;", "&#186;"},   {"&raquo;", "&#187;"},
    {"&frac14;", "&#188;"}, {"&frac12;", "&#189;"}, {"&frac34;", "&#190;"}, {"&iquest;", "&#191;"},
    {"&Agrave;", "&#192;"}, {"&Aacute;", "&#193;"}, {"&Acirc;", "&#194;"},  {"&Atilde;", "&#195;"},
    {"&Auml;", "&#196;"},   {"&Aring;", "&#197;"},  {"&AElig;", "&#198;"},  {"&Ccedil;", "&#199;"},
    {"&Egrave;", "&#200;"}, {"&Eacute;", "&#201;"}, {"&Ecirc;", "&#202;"},  {"&Euml;", "&#203;"},
    {"&Igrave;", "&#204;"}, {"&Iacute;", "&#205;"}, {"&Icirc;", "&#206;"},  {"&Iuml;", "&#207;"},
    {"&ETH;", "&#208;"},    {"&Ntilde;", "&#209;"}, {"&Ograve;", "&#210;"}, {"&Oacute;", "&#211;"},
    {"&Ocirc;", "&#212;"},  {"&Otilde;", "&#213;"}, {"&Ouml;", "&#214;"},   {"&times;", "&#215;"},
    {"&Oslash;", "&#216;"}, {"&Ugrave;", "&#217;"}, {"&Uacute;", "&#218;"}, {"&Ucirc;", "&#219;"},
    {"&Uuml;", "&#220;"},   {"&Yacute;", "&#221;"}, {"&THORN;", "&#222;"},  {"&szlig;", "&#223;"},
    {"&agrave;", "&#224;"}, {"&aacute;", "&#225;"}, {"&acirc;", "&#226;"},  {"&atilde;", "&#227;"},
    {"&auml;", "&#228;"},   {"&aring;", "&#229;"},  {"&aelig;", "&#230;"},  {"&ccedil;", "&#231;"},
    {"&egrave;", "&#232;"}, {"&eacute;", "&#233;"}, {"&ecirc;", "&#234;"},  {"&euml;", "&#235;"},
    {"&igrave;", "&#236;"}, {"&iacute;", "&#237;"}, {"&icirc;", "&#238;"},  {"&iuml;", "&#239;"},
    {"&eth;", "&#240;"},    {"&ntilde;", "&#241;"}, {"&ograve;", "&#242;"}, {"&oacute;", "&#243;"},
    {"&ocirc;", "&#244;"},  {"&otilde;", "&#245;"}, {"&ouml;", "&#246;"},   {"&divide;", "&#247;"},
    {"&oslash;", "&#248;"}, {"&ugrave;", "&#249;"}, {"&uacute;", "&#250;"}, {"&ucirc;", "&#251;"},
    {"&uuml;", "&#252;"},   {"&yacute;", "&#253;"}, {"&thorn;", "&#254;"},  {"&yuml;", "&#255;"},
}};

namespace {

constexpr std::array<unsigned char, 256> MakeCodeToChar() {
  std::array<unsigned char, 256> table{};
  for (int code = 0; code < 256; ++code) {
    table[code] = (code < 32 || code == 160) ? ' ' : static_cast<unsigned char>(code);
  }
  return table;
}

// Name to character code, built once from NamedEntities.
const std::unordered_map<std::string_view, unsigned char>& EntityCodes() {
  static const auto* codes = [] {
    auto* map = new std::unordered_map<std::string_view, unsigned char>;
    for (const auto& entity : NamedEntities) {
      std::string_view digits = entity.Numeric.substr(2, entity.Numeric.size() - 3);
      int code = 0;
      for (char c : digits) code = code * 10 + (c - '0');
      map->emplace(entity.Name, static_cast<unsigned char>(code));
    }
    return map;
  }();
  return *codes;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a whole number: decimal digits with an optional sign, or hexadecimal
// digits after "x", "X", "$" or "0x". Fails unless the whole text is read.
std::optional<long> ReadNumber(std::string_view text) {
  int base = 10;
  bool negative = false;
  if (!text.empty() && (text[0] == 'x' || text[0] == 'X' || text[0] == '$')) {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() >= 2 && text[0] == '0' && text[1] == 'x') {
    base = 16;
    text.remove_prefix(2);
  } else if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 8) return std::nullopt;
  long value = 0;
  for (char c : text) {
    int digit = HexDigit(c);
    if (digit < 0 || digit >= base) return std::nullopt;
    value = value * base + digit;
  }
  return negative ? -value : value;
}

// The byte a numeric reference stands for, when it is decoded at all:
// at most three characters, read completely, and a code from 0 to 255.
std::optional<unsigned char> NumericReferenceByte(std::string_view number) {
  if (number.empty() || number.size() > 3) return std::nullopt;
  auto value = ReadNumber(number);
  if (!value || *value < 0 || *value > 255) return std::nullopt;
  return CodeToChar[static_cast<size_t>(*value)];
}

// The byte a complete reference (ampersand to terminator) decodes to, if any.
std::optional<unsigned char> ReferenceByte(std::string_view reference) {
  if (reference.size() > 2 && reference[1] == '#') {
    return NumericReferenceByte(reference.substr(2, reference.size() - 3));
  }
  const auto& codes = EntityCodes();
  auto found = codes.find(reference);
  if (found == codes.end()) return std::nullopt;
  // A named reference becomes its numeric form, which is then decoded.
  return CodeToChar[found->second];
}

}  // namespace

const std::array<unsigned char, 256> CodeToChar = MakeCodeToChar();

// The scan goes on behind a decoded byte; references that stay are kept
// unchanged. Bytes are moved only where a reference is decoded.
size_t DecodeReferencesInPlace(char* data, const size_t size) {
  const void* first = std::memchr(data, '&', size);
  if (!first) return size;
  size_t at = static_cast<size_t>(static_cast<const char*>(first) - data);
  size_t to = at;        // where kept bytes go
  size_t copyFrom = at;  // start of the bytes not yet kept
  while (at < size) {
    // data[at] is an ampersand; in a run of them only the last one counts.
    while (at + 1 < size && data[at + 1] == '&') ++at;
    const char* stop = FindFirstOf<';', ' ', '&'>(data + at + 1, data + size);
    size_t end = static_cast<size_t>(stop - data);
    if (end == size) break;
    if (data[end] == '&') {  // a later ampersand restarts the reference
      at = end;
      continue;
    }
    if (auto byte = ReferenceByte(std::string_view(data + at, end - at + 1))) {
      std::memmove(data + to, data + copyFrom, at - copyFrom);
      to += at - copyFrom;
      data[to++] = static_cast<char>(*byte);
      copyFrom = end + 1;
    }
    const void* next = std::memchr(data + end + 1, '&', size - end - 1);
    at = next ? static_cast<size_t>(static_cast<const char*>(next) - data) : size;
  }
  std::memmove(data + to, data + copyFrom, size - copyFrom);
  return to + size - copyFrom;
}
