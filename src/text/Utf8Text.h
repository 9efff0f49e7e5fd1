// UTF-8 at the program's edges (the command line's output and log, word list
// files): conversion between UTF-8 and the program's Windows-1252 texts, in
// which "&#N;" stands for a character Windows-1252 cannot hold.
#pragma once

#include <string>
#include <string_view>

// Each byte as its character, each "&#N;" that names a character without a
// byte as that character, in UTF-8. Utf8ToCp1252 reads the result back into
// the same text.
std::string Cp1252ToUtf8(std::string_view text);

// UTF-8 text as Windows-1252 bytes and "&#N;"; a byte-order mark at the start
// is dropped, malformed bytes become "&#65533;".
std::string Utf8ToCp1252(std::string_view utf8);

// True when the bytes start with a UTF-8 byte-order mark, or are valid UTF-8
// holding at least one multi-byte sequence. Pure ASCII is not UTF-8 here: it
// reads the same either way.
bool IsUtf8Text(std::string_view bytes);
