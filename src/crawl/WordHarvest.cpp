#include "WordHarvest.h"

#include <cstring>

#include "ByteScan.h"

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

void SplitLines(const char* data, size_t size, TStringList& lines) {
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

// The row that matches at `at` (an ampersand), or nullptr.
const TCrawlEntity* RowAt(std::string_view text, size_t at, size_t firstRow, size_t endRow) {
  for (size_t row = firstRow; row < endRow; ++row) {
    if (text.substr(at).starts_with(CrawlEntities[row].Reference)) return &CrawlEntities[row];
  }
  return nullptr;
}

constexpr size_t kAmpRow = 7;  // "&amp;"

}  // namespace

// Replacing row by row, each time the first occurrence and searching again
// from the start, comes down to one forward scan: references cannot overlap
// (each begins with the only ampersand it holds), and only "&amp;" yields a
// byte that can start a new reference. That new reference is replaced again
// when it is "&amp;" or one of the rows after it, and stays when it belongs
// to an earlier row, whose turn has passed.
std::string DecodeEntities(std::string_view text) {
  size_t at = text.find('&');
  if (at == std::string_view::npos) return std::string(text);
  std::string out(text.substr(0, at));
  out.reserve(text.size());
  while (at < text.size()) {
    const TCrawlEntity* row = RowAt(text, at, 0, CrawlEntities.size());
    if (row == &CrawlEntities[kAmpRow]) {
      // The ampersand left behind may start "&amp;" again, or a later row.
      at += row->Reference.size();
      const std::string_view tail = row->Reference.substr(1);
      while (text.substr(at).starts_with(tail)) at += tail.size();
      out.push_back('&');
      for (size_t later = kAmpRow + 1; later < CrawlEntities.size(); ++later) {
        if (text.substr(at).starts_with(CrawlEntities[later].Reference.substr(1))) {
          out.back() = static_cast<char>(CrawlEntities[later].Replacement);
          at += CrawlEntities[later].Reference.size() - 1;
          break;
        }
      }
    } else if (row) {
      out.push_back(static_cast<char>(row->Replacement));
      at += row->Reference.size();
    } else {
      out.push_back('&');
      ++at;
    }
    size_t next = text.find('&', at);
    if (next == std::string_view::npos) next = text.size();
    out.append(text, at, next - at);
    at = next;
  }
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
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const char* word = p;
    while (p < end && *p != ' ') ++p;
    if (p > word) CompleteWord(std::string_view(word, static_cast<size_t>(p - word)));
    ++p;
  }
}

void TWordHarvest::CompleteWord(std::string_view word) {
  if (!word.empty() && word.back() == ',') word.remove_suffix(1);
  if (!word.empty() && word.back() == '.') word.remove_suffix(1);
  if (!word.empty() && word.back() == '"') word.remove_suffix(1);
  if (!word.empty() && word.front() == '"') word.remove_prefix(1);
  if (word.empty()) return;
  if (words_.FindWord(word)) return;
  words_.AddWord(std::string(word));
  UpdateWordCount();
}

void TWordHarvest::UpdateWordCount() {
  if (setCountLabel_) setCountLabel_(WordCountLabel(words_.WordCount()));
}
