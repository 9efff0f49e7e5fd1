// The character references a text node decodes: the named Latin-1
// references, the byte each character code stands for, and the decoding
// itself.
//
// A reference runs from an ampersand to the next semicolon or space. Decoded
// are the named references below and the numeric ones of at most three
// characters (decimal with an optional sign, or hexadecimal after "x", "X",
// "$" or "0x") for the codes 0 to 255; every other reference stays as it is.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

// One named character reference and its decimal numeric form, both written
// as they stand in a document ("&auml;" / "&#228;").
struct TNamedEntity {
  std::string_view Name;
  std::string_view Numeric;
};

// The HTML 4 Latin-1 references: quot, amp, lt, gt, then nbsp (160) to yuml (255).
extern const std::array<TNamedEntity, 100> NamedEntities;

// Byte for each character code: 0-31 and 160 become a space, all others themselves.
extern const std::array<unsigned char, 256> CodeToChar;

// Decodes the references of the `size` bytes at `data` in one left-to-right
// pass, in place (a decoded reference is always shorter than its text), and
// returns the new size. In a run of ampersands only the last one starts a
// reference; a decoded byte is never scanned again.
size_t DecodeReferencesInPlace(char* data, size_t size);
