// Letter case of the words in the list: the Windows-1252 letters that have
// both forms (A-Z, À-Þ but ×, Š, Œ, Ž, Ÿ and their lower-case forms) pair up;
// every other byte has one form only. The list compares its words through
// FoldCase; the command line writes lower-case words through LowerCp1252, the
// same pairs the other way round. Protocol words and tag names fold as ASCII
// only (AsciiCase.h).
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "AsciiCase.h"

namespace cp1252_case_detail {

constexpr std::array<unsigned char, 256> MakeUpperTable() {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = static_cast<unsigned char>(c);
  for (int c = 0; c < 128; ++c)
    table[c] = static_cast<unsigned char>(UpperAsciiChar(static_cast<char>(c)));
  // à-þ pair with À-Þ, except ÷ (× has no lower-case form either).
  for (int c = 0xE0; c <= 0xFE; ++c) {
    if (c != 0xF7) table[c] = static_cast<unsigned char>(c - 32);
  }
  table[0x9A] = 0x8A;  // š Š
  table[0x9C] = 0x8C;  // œ Œ
  table[0x9E] = 0x8E;  // ž Ž
  table[0xFF] = 0x9F;  // ÿ Ÿ
  return table;
}

// The same pairs the other way round: a byte that folds to another is the
// lower-case form of that other.
constexpr std::array<unsigned char, 256> MakeLowerTable(
    const std::array<unsigned char, 256>& upper) {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = static_cast<unsigned char>(c);
  for (int c = 0; c < 256; ++c) {
    if (upper[c] != c) table[upper[c]] = static_cast<unsigned char>(c);
  }
  return table;
}

}  // namespace cp1252_case_detail

// By byte: its upper-case form, and its lower-case form.
inline constexpr std::array<unsigned char, 256> kUpperCp1252 = cp1252_case_detail::MakeUpperTable();
inline constexpr std::array<unsigned char, 256> kLowerCp1252 =
    cp1252_case_detail::MakeLowerTable(kUpperCp1252);

// The upper-case form of a letter that has both forms, every other byte
// unchanged: the list's case folding.
constexpr unsigned char FoldCase(unsigned char c) { return kUpperCp1252[c]; }

// The letters that have both forms in lower case; every other byte unchanged.
inline std::string LowerCp1252(std::string_view word) {
  std::string out(word);
  for (char& c : out) c = static_cast<char>(kLowerCp1252[static_cast<unsigned char>(c)]);
  return out;
}
