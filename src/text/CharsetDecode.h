// Text in a named character set as the program's Windows-1252 bytes. Qt's
// decoders (ICU behind the less common sets) read the characters; a
// character Windows-1252 cannot hold becomes "&#N;" (Windows1252.h).
//
// Decoding takes time in proportion to the text and holds, beside the text
// and its result, only buffers of a fixed size: the text is decoded a piece at
// a time, and twice, to count its result and then to write it into a string
// of exactly that size.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Decodes bytes in a set that PageCharset named (an initial byte-order mark
// is dropped; malformed bytes become U+FFFD, written "&#65533;", except that
// ICU's decoders drop a sequence cut short by the end of the text).
std::string DecodeToCp1252(std::string_view bytes, const std::string& charset);

// The same, decoding `pieceBytes` bytes at a time (16 at least); the text
// does not depend on it. Tests take small pieces to cut a short text often.
std::string DecodeToCp1252(std::string_view bytes, const std::string& charset, size_t pieceBytes);
