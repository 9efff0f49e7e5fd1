#include "WordHarvest.h"

#include <cstring>

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

void SplitLines(const char* data, size_t size, std::vector<std::string>& lines) {
  const char* p = data;
  const char* end = data + size;
  while (p < end) {
    const char* start = p;
    while (p < end && *p != '\r' && *p != '\n') ++p;
    const char* nul = static_cast<const char*>(std::memchr(start, 0, static_cast<size_t>(p - start)));
    lines.emplace_back(start, nul ? nul : p);
    if (p == end) break;
    if (*p == '\r' && p + 1 < end && p[1] == '\n') ++p;
    ++p;
  }
}

namespace {

// Replaces every occurrence of `reference` as the literal loop would: each
// time the first occurrence, searching again from the start. Only a
// replacement that forms the reference again (the ampersand in "&amp;amp;")
// can create an occurrence at or before the search position, so that case
// is folded in here and one forward scan suffices.
std::string ReplaceReference(std::string_view text, std::string_view reference, char replacement) {
  std::string out;
  out.reserve(text.size());
  size_t at = 0;
  std::string_view tail = reference.substr(1);
  bool canRecur = replacement == reference.front();
  while (true) {
    size_t hit = text.find(reference, at);
    if (hit == std::string_view::npos) break;
    out.append(text, at, hit - at);
    at = hit + reference.size();
    if (canRecur) {
      while (text.substr(at).starts_with(tail)) at += tail.size();
    }
    out.push_back(replacement);
  }
  out.append(text, at);
  return out;
}

}  // namespace

std::string DecodeEntities(std::string_view text) {
  std::string result(text);
  for (const TCrawlEntity& row : CrawlEntities) {
    if (result.find('&') == std::string::npos) break;
    if (result.find(row.Reference) == std::string::npos) continue;
    result = ReplaceReference(result, row.Reference, static_cast<char>(row.Replacement));
  }
  return result;
}

TWordHarvest::TWordHarvest(WordList& words, std::function<void(const std::string&)> setCountLabel)
    : words_(words), setCountLabel_(std::move(setCountLabel)) {}

void TWordHarvest::HarvestText(std::string_view text) {
  std::string decoded;
  if (text.find('&') != std::string_view::npos) {
    decoded = DecodeEntities(text);
    text = decoded;
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t space = text.find(' ', start);
    if (space == std::string_view::npos) space = text.size();
    if (space > start) CompleteWord(text.substr(start, space - start));
    start = space + 1;
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
