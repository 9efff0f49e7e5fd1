// The words of a text by the Unicode word boundaries (ICU's word break
// iterator): letters with the apostrophes and periods inside them
// ("Schmidt's", "l'homme", "www.h.de"), numbers with their separators
// ("1.4", "1,5"), runs of kana and dictionary words of Chinese and Japanese.
// Spaces, no-break spaces, punctuation, symbols and emoji separate words
// and belong to none.
//
// Unlike the plain rules, words joined by one hyphen stay one word
// ("E-Mail-Adresse", "2020-2021"): a hyphen-minus, a hyphen U+2010, a
// non-breaking hyphen U+2011 or a soft hyphen (byte 0xAD). Two hyphens in a
// row, or a hyphen at a word's edge, join nothing and belong to no word.
//
// The text is the program's Windows-1252 bytes in which "&#N;" stands for a
// character the code page cannot hold. Every decimal reference that names a
// character is that one character here and is never cut, also one of a
// character with a byte, as pages write them ("don&#8217;t", "5&#8364;").
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// A word as the bytes of the text it covers, references included.
struct TWordSpan {
  std::size_t Offset = 0;
  std::size_t Length = 0;
};

// The words of `text`, in order, none empty. Soft hyphens at a word's end
// are left out of it. When ICU cannot give a word break iterator, or the
// text is longer than ICU can index (2 GiB), the words are those of
// SpaceSeparatedWords.
std::vector<TWordSpan> UnicodeWords(std::string_view text);

// The words of `text` between the bytes space, tab, line feed, vertical tab,
// form feed, carriage return and no-break space (0xA0).
std::vector<TWordSpan> SpaceSeparatedWords(std::string_view text);
