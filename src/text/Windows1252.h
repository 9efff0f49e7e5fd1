// The characters of the program's 8-bit texts (Windows code page 1252), and
// the one notation for characters that code page cannot hold: the decimal
// character reference "&#N;", which the tokenizer keeps as text for N above
// 255 and the output side turns back into the character.
//
// The five bytes without a character in Windows-1252 (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) stand for the control characters of the same number, so every
// byte has a character and survives a round trip.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The character (Unicode code point) of a byte.
char32_t Cp1252Char(unsigned char byte);

// The byte of a character, or nullopt when Windows-1252 cannot hold it (the
// inverse of Cp1252Char: of the controls U+0080 to U+009F only the five above).
std::optional<unsigned char> Cp1252Byte(char32_t ch);

// A reference "&#N;" (decimal digits only) at `at` that names a character
// (up to U+10FFFF, no surrogate): the character, and in `length` the
// reference's length; nullopt for anything else. Pages also write characters
// that have a byte this way ("&#8364;", "&#8217;"), and the tokenizer keeps
// those above 255 as text.
std::optional<char32_t> DecimalCharReference(std::string_view text, std::size_t at,
                                             std::size_t& length);

// A reference "&#N;" (decimal digits only) at `at` that stands for a
// character Windows-1252 cannot hold: the character, and in `length` the
// reference's length. nullopt for anything else, also for "&#228;", which
// names a character that has a byte.
std::optional<char32_t> UnheldCharReference(std::string_view text, std::size_t at,
                                            std::size_t& length);

// Appends a character as a Windows-1252 byte or, when it has none, as "&#N;".
void AppendAsCp1252(std::string& out, char32_t ch);
