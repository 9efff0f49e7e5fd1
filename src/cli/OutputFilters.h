// What tirasel-cli writes of the word list: the list itself as the window
// saves it (TWordListWriter), or, when output options are given, each caption cleaned,
// case-folded and filtered, optionally with how often it occurred.
//
// Captions are Windows-1252 bytes in which a character beyond the code page
// stands as a decimal reference ("&#8364;"): such a reference is one
// character, for lengths as for punctuation and digits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "WordList.h"
#include "WordListFile.h"

// The length of the decimal reference "&#N;" at `at`, or 0 when none starts there.
size_t NumericReferenceAt(std::string_view text, size_t at);
// Characters: each reference counts one, every other byte one.
size_t CharacterLength(std::string_view word);
// An ASCII digit outside the references.
bool ContainsDigit(std::string_view word);
// The word without its leading and trailing punctuation (ASCII and the
// Windows-1252 quotation marks, dashes, ellipsis, guillemets, inverted marks).
std::string_view StripPunctuation(std::string_view word);

struct TOutputRules {
  std::optional<size_t> MinLength, MaxLength;
  bool Lowercase = false;
  bool NoNumbers = false;
  bool StripPunctuation = false;
  bool Count = false;  // "word, n" lines, the most frequent first

  bool Any() const {
    return MinLength || MaxLength || Lowercase || NoNumbers || StripPunctuation || Count;
  }
  // Cleaning, folding and counting merge words; then each is written once.
  bool Merges() const { return Lowercase || StripPunctuation || Count; }
};

// Whether a (cleaned) word passes the length and digit filters.
bool PassesFilters(std::string_view text, const TOutputRules& rules);

// The bytes to write, one line per word, in the encoding's form (Windows-1252:
// each line ended by CR LF, as the window saves lists). Without rules,
// every caption as it stands, duplicates included. With rules, the cleaned
// and folded captions in list order; where the rules merge words, the first
// spelling is kept (equal without regard to case, as the list compares) and
// the counts are added. `counts[i]` is how often entry i occurred (missing
// entries: 0); with Count the lines are sorted by count, descending, ties in
// list order.
std::string FormatWordList(const WordList& words, const std::vector<std::uint32_t>& counts,
                           const TOutputRules& rules,
                           TListEncoding encoding = TListEncoding::Windows1252);
