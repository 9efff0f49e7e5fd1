#include "OutputFilters.h"

#include <algorithm>
#include <numeric>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsPunctuation(unsigned char c) {
  if (c < 128)
    return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') ||
           (c >= '{' && c <= '~');
  switch (c) {
    case 0x82:
    case 0x84:
    case 0x85:
    case 0x8B:
    case 0x91:
    case 0x92:
    case 0x93:
    case 0x94:  // „ … ‹ ‘ ’ “ ”
    case 0x96:
    case 0x97:
    case 0x9B:
    case 0xA1:
    case 0xAB:
    case 0xB7:
    case 0xBB:
    case 0xBF:  // – — › ¡ « · » ¿
      return true;
    default:
      return false;
  }
}

// The start of a reference that ends the word, or npos.
size_t ReferenceAtEnd(std::string_view word) {
  size_t amp = word.rfind('&');
  if (amp == std::string_view::npos || NumericReferenceAt(word, amp) != word.size() - amp)
    return std::string_view::npos;
  return amp;
}

// A word to write: its caption, cleaned but not yet case-folded (the
// filters do not depend on case), and how often it occurred.
struct TOutputWord {
  std::string_view Text;  // into the list's caption
  std::uint64_t Count = 0;
};

constexpr std::uint32_t kNotWritten = UINT32_MAX;

}  // namespace

bool PassesFilters(std::string_view text, const TOutputRules& rules) {
  if (text.empty() || (rules.NoNumbers && ContainsDigit(text))) return false;
  if (!rules.MinLength && !rules.MaxLength) return true;
  size_t length = CharacterLength(text);
  return !(rules.MinLength && length < *rules.MinLength) &&
         !(rules.MaxLength && length > *rules.MaxLength);
}

namespace {

// Where the rules merge words: the list's own entries are unequal to each
// other unless a file brought duplicates, which FindWord tells (it names
// the first equal entry), so folding alone merges nothing new. Cleaning
// can make unequal captions equal ("(Zug)" and "Zug"): those are looked up
// among the cleaned words written so far.
std::vector<TOutputWord> SelectWords(const WordList& words,
                                     const std::vector<std::uint32_t>& counts,
                                     const TOutputRules& rules) {
  const std::vector<WordEntry>& entries = words.Entries();
  std::vector<TOutputWord> selected;
  std::vector<std::uint32_t> slotOf;  // by entry: its place in `selected`
  if (rules.Merges() && !rules.StripPunctuation) slotOf.assign(entries.size(), kNotWritten);
  WordList cleaned;  // with StripPunctuation and merging: the words written so far
  for (size_t i = 0; i < entries.size(); ++i) {
    std::uint64_t count = i < counts.size() ? counts[i] : 0;
    std::string_view text = entries[i].Caption;
    if (!slotOf.empty()) {
      size_t first = *words.FindWord(text);
      if (first != i) {
        if (slotOf[first] != kNotWritten) selected[slotOf[first]].Count += count;
        continue;
      }
    }
    if (rules.StripPunctuation) text = StripPunctuation(text);
    if (!PassesFilters(text, rules)) continue;
    if (rules.StripPunctuation && rules.Merges()) {
      if (std::optional<size_t> at = cleaned.FindWord(text)) {
        selected[*at].Count += count;
        continue;
      }
      cleaned.AddWord(std::string(text));
    }
    if (!slotOf.empty()) slotOf[i] = static_cast<std::uint32_t>(selected.size());
    selected.push_back({text, count});
  }
  return selected;
}

// The line of one word, in `line` (reused from word to word).
void MakeLine(std::string& line, const TOutputWord& word, const TOutputRules& rules) {
  line.assign(word.Text);
  if (rules.Lowercase) {
    for (char& c : line) c = static_cast<char>(kLowerCp1252[static_cast<unsigned char>(c)]);
  }
  if (rules.Count) line.append(", ").append(std::to_string(word.Count));
}

}  // namespace

size_t NumericReferenceAt(std::string_view text, size_t at) {
  if (at + 3 >= text.size() || text[at] != '&' || text[at + 1] != '#') return 0;
  size_t end = at + 2;
  while (end < text.size() && IsDigit(text[end])) ++end;
  if (end == at + 2 || end >= text.size() || text[end] != ';') return 0;
  return end + 1 - at;
}

size_t CharacterLength(std::string_view word) {
  size_t length = 0;
  for (size_t at = 0; at < word.size(); ++length) {
    size_t reference = word[at] == '&' ? NumericReferenceAt(word, at) : 0;
    at += reference ? reference : 1;
  }
  return length;
}

bool ContainsDigit(std::string_view word) {
  for (size_t at = 0; at < word.size(); ++at) {
    if (word[at] == '&') {
      if (size_t reference = NumericReferenceAt(word, at)) at += reference - 1;
    } else if (IsDigit(word[at])) {
      return true;
    }
  }
  return false;
}

std::string_view StripPunctuation(std::string_view word) {
  while (!word.empty() && IsPunctuation(static_cast<unsigned char>(word.front())) &&
         !NumericReferenceAt(word, 0)) {
    word.remove_prefix(1);
  }
  while (!word.empty() && IsPunctuation(static_cast<unsigned char>(word.back())) &&
         ReferenceAtEnd(word) == std::string_view::npos) {
    word.remove_suffix(1);
  }
  return word;
}

std::string FormatWordList(const WordList& words, const std::vector<std::uint32_t>& counts,
                           const TOutputRules& rules, TListEncoding encoding) {
  TWordListWriter writer(encoding);
  if (!rules.Any()) {
    for (const WordEntry& entry : words.Entries()) writer.AddLine(entry.Caption);
  } else {
    std::vector<TOutputWord> selected = SelectWords(words, counts, rules);
    if (rules.Count) {
      std::stable_sort(
          selected.begin(), selected.end(),
          [](const TOutputWord& a, const TOutputWord& b) { return a.Count > b.Count; });
    }
    std::string line;
    for (const TOutputWord& word : selected) {
      MakeLine(line, word, rules);
      writer.AddLine(line);
    }
  }
  writer.Finish();
  return writer.TakeBytes();
}
