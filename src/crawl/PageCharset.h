// The character set of a downloaded page, and its text as the program's
// Windows-1252 bytes.
//
// The set is taken from, in this order: the "charset" parameter of the
// response's content type; a byte-order mark; a meta charset declaration
// (<meta charset=...> or the content of <meta http-equiv="Content-Type">) in
// the first 1,024 bytes; UTF-8 when the bytes are valid UTF-8 and hold a
// multi-byte sequence; else Windows-1252. ISO-8859-1 and US-ASCII count as
// Windows-1252, as browsers treat them, and so does a name no decoder knows
// and UTF-7, which browsers refuse (it can write markup without its bytes).
//
// Windows-1252 pages are not decoded at all: their bytes stay byte for byte.
// Other pages are decoded by Qt's decoders (ICU behind the less common sets);
// a character Windows-1252 cannot hold becomes "&#N;" (Windows1252.h).
// Decoding takes time in proportion to the page and holds, beside the page
// and its text, only buffers of a fixed size: a page is decoded a piece at a
// time, and twice, to count its text and then to write it into a string of
// exactly that size.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The value of the "charset" parameter of a content type, lower-cased and
// without quotes; nullopt when there is none.
std::optional<std::string> CharsetParameter(std::string_view contentType);

// The set named by a meta declaration in the first 1,024 bytes, as written
// (lower-cased); nullopt when there is none.
std::optional<std::string> MetaCharset(std::string_view document);

// The decoder name for a page, or "" when its bytes are Windows-1252 and are
// taken as they are.
std::string PageCharset(std::string_view contentType, std::string_view document);

// The page's text in Windows-1252 bytes; nullopt when the page is
// Windows-1252 already and its bytes are the text.
std::optional<std::string> DecodePage(std::string_view contentType, std::string_view document);

// Decodes bytes in a set that PageCharset named (an initial byte-order mark
// is dropped; malformed bytes become U+FFFD, written "&#65533;", except that
// ICU's decoders drop a sequence cut short by the end of the text).
std::string DecodeToCp1252(std::string_view bytes, const std::string& charset);

// The same, decoding `pieceBytes` bytes at a time (16 at least); the text
// does not depend on it. Tests take small pieces to cut a short text often.
std::string DecodeToCp1252(std::string_view bytes, const std::string& charset, size_t pieceBytes);
