#include "WordHarvest.h"

#include <cstring>
#include <tuple>
#include <utility>

#include "ByteScan.h"
#include "WordBreak.h"

const std::array<TCrawlEntity, 11> CrawlEntities = {{
    {"&auml;", 228},
    {"&Auml;", 196},
    {"&ouml;", 246},
    {"&Ouml;", 214},
    {"&uuml;", 252},
    {"&Uuml;", 220},
    {"&szlig;", 223},
    {"&amp;", 38},
    {"&quot;", 34},
    {"&lt;", 60},
    {"&gt;", 62},
}};

namespace {

// At least the number of lines SplitLines makes of the document.
size_t LineCountBound(const char* p, const char* end) {
  size_t count = 1;
  for (p = FindFirstOf<'\r', '\n'>(p, end); p < end; p = FindFirstOf<'\r', '\n'>(p + 1, end))
    ++count;
  return count;
}

}  // namespace

// Room for every line is made first: growing the list of line ends step by
// step would briefly need half as much again for a document of empty lines.
void SplitLines(const char* data, size_t size, TStringList& lines) {
  lines.Reserve(size);
  lines.ReserveEntries(lines.size() + LineCountBound(data, data + size));
  const char* p = data;
  const char* end = data + size;
  while (p < end) {
    const char* start = p;
    p = FindFirstOf<'\r', '\n', '\0'>(p, end);
    const char* textEnd = p;
    if (p < end && *p == '\0') p = FindFirstOf<'\r', '\n'>(p, end);  // drop the rest of the line
    lines.Add(std::string_view(start, static_cast<size_t>(textEnd - start)));
    if (p == end) break;
    if (*p == '\r' && p + 1 < end && p[1] == '\n') ++p;
    ++p;
  }
}

namespace {

constexpr size_t kAmpRow = 7;  // "&amp;"

bool HasAt(std::string_view text, size_t at, std::string_view piece) {
  return text.size() - at >= piece.size() &&
         std::memcmp(text.data() + at, piece.data(), piece.size()) == 0;
}

// The row whose reference stands at `at` (an ampersand), or nullptr. Looks
// only at the rows that begin with the letter after the ampersand.
const TCrawlEntity* RowAt(std::string_view text, size_t at) {
  if (at + 1 >= text.size()) return nullptr;
  for (const TCrawlEntity& row : CrawlEntities) {
    if (row.Reference[1] == text[at + 1] && HasAt(text, at, row.Reference)) return &row;
  }
  return nullptr;
}

// After "&amp;" at `at`: the end of the whole "&amp;amp;..." chain, and the
// byte it leaves, which may form one of the rows after "&amp;" with what
// follows.
std::pair<size_t, char> AmpersandChain(std::string_view text, size_t at) {
  const std::string_view tail = CrawlEntities[kAmpRow].Reference.substr(1);
  at += CrawlEntities[kAmpRow].Reference.size();
  while (HasAt(text, at, tail)) at += tail.size();
  for (size_t later = kAmpRow + 1; later < CrawlEntities.size(); ++later) {
    std::string_view rest = CrawlEntities[later].Reference.substr(1);
    if (HasAt(text, at, rest))
      return {at + rest.size(), static_cast<char>(CrawlEntities[later].Replacement)};
  }
  return {at, '&'};
}

}  // namespace

// Replacing row by row, each time the first occurrence and searching again
// from the start, comes down to one forward scan: references cannot overlap
// (each begins with the only ampersand it holds), and only "&amp;" yields a
// byte that can start a new reference. That new reference is replaced again
// when it is "&amp;" or one of the rows after it, and stays when it belongs
// to an earlier row, whose turn has passed.
std::string DecodeEntities(std::string_view text) {
  std::string out;
  size_t copyFrom = 0;  // start of the bytes not yet copied
  size_t at = text.find('&');
  while (at != std::string_view::npos) {
    const TCrawlEntity* row = RowAt(text, at);
    size_t next = at + 1;
    if (row) {
      if (out.empty()) out.reserve(text.size());
      out.append(text, copyFrom, at - copyFrom);
      char replacement = static_cast<char>(row->Replacement);
      next = at + row->Reference.size();
      if (row == &CrawlEntities[kAmpRow]) std::tie(next, replacement) = AmpersandChain(text, at);
      out.push_back(replacement);
      copyFrom = next;
    }
    at = text.find('&', next);
  }
  if (copyFrom == 0) return std::string(text);
  out.append(text, copyFrom);
  return out;
}

TWordHarvest::TWordHarvest(WordList& words, std::function<void(const std::string&)> setCountLabel)
    : words_(words), setCountLabel_(std::move(setCountLabel)) {}

void TWordHarvest::HarvestText(std::string_view text) {
  std::string decoded;
  if (text.find('&') != std::string_view::npos) {
    decoded = DecodeEntities(text);
    text = decoded;
  }
  if (vocabulary_) vocabulary_->StartText(text);
  if (Split == TWordSplit::Unicode) {
    for (const TWordSpan& span : UnicodeWords(text)) HarvestWord(text, span.Offset, span.Length);
  } else {
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
      const char* word = p;
      while (p < end && *p != ' ') ++p;
      if (p > word) {
        HarvestWord(text, static_cast<size_t>(word - text.data()), static_cast<size_t>(p - word));
      }
      ++p;
    }
  }
  if (vocabulary_) vocabulary_->EndText();
}

void TWordHarvest::HarvestWord(std::string_view text, size_t offset, size_t length) {
  if (!vocabulary_) {
    CompleteWord(text.substr(offset, length));
    return;
  }
  std::string_view word = text.substr(offset, length);
  const std::optional<size_t> index = AddWord(word);
  if (!index) return;
  vocabulary_->Occurred(*index, words_.Entries()[*index].Caption,
                        static_cast<size_t>(word.data() - text.data()), word.size());
}

void TWordHarvest::CompleteWord(std::string_view word) { AddWord(word); }

std::optional<size_t> TWordHarvest::AddWord(std::string_view& word) {
  if (!word.empty() && word.back() == ',') word.remove_suffix(1);
  if (!word.empty() && word.back() == '.') word.remove_suffix(1);
  if (!word.empty() && word.back() == '"') word.remove_suffix(1);
  if (!word.empty() && word.front() == '"') word.remove_prefix(1);
  if (word.empty()) return std::nullopt;
  if (std::optional<size_t> found = words_.FindWord(word)) {
    if (counts_) CountOccurrence(*found);
    return found;
  }
  words_.AddWord(std::string(word));
  UpdateWordCount();
  const size_t index = words_.WordCount() - 1;
  if (counts_) CountOccurrence(index);
  return index;
}

void TWordHarvest::CountOccurrence(size_t index) {
  if (counts_->size() <= index) counts_->resize(words_.WordCount());
  // Saturates instead of wrapping on a page that repeats one word 4 billion times.
  std::uint32_t& count = (*counts_)[index];
  if (count != UINT32_MAX) ++count;
}

void TWordHarvest::UpdateWordCount() {
  if (setCountLabel_) setCountLabel_(WordCountLabel(words_.WordCount()));
}
