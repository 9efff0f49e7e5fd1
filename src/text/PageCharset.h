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
// Other pages are decoded by DecodeToCp1252 (CharsetDecode.h).
#pragma once

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
