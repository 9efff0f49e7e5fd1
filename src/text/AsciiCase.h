// Case mapping of the ASCII letters A-Z and a-z only, for protocol words,
// scheme names, tag and header names: every other byte, 128 to 255
// included, stays as it is, whatever the locale. Letters of words in the
// list fold with their Windows-1252 forms instead (Cp1252Case.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

constexpr char UpperAsciiChar(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr char LowerAsciiChar(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Any string of chars (std::string, std::pmr::string), changed in place.
template <class String>
void UpperAsciiInPlace(String& text) {
  for (char& c : text) c = UpperAsciiChar(c);
}
template <class String>
void LowerAsciiInPlace(String& text) {
  for (char& c : text) c = LowerAsciiChar(c);
}

inline std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  UpperAsciiInPlace(upper);
  return upper;
}
inline std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  LowerAsciiInPlace(lower);
  return lower;
}

constexpr bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAsciiChar(a[i]) != UpperAsciiChar(b[i])) return false;
  }
  return true;
}

constexpr bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         EqualIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}
