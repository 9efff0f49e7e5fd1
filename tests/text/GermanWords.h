// Two German words, "können Straße", in UTF-8 and in Windows-1252: the text
// that the charset and UTF-8 tests turn from one form into the other.
#pragma once

#include <string>

inline const std::string kUtf8Words =
    "k\xC3\xB6nnen Stra\xC3\x9F"
    "e";
inline const std::string kCp1252Words =
    "k\xF6nnen Stra\xDF"
    "e";
