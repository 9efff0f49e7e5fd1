// Arbitrary bytes as a text split into words by the Unicode word boundaries.
// Whatever the bytes, the words are in order, not empty, within the text,
// cut no reference, hold no space and neither begin nor end with a hyphen;
// and the words of the text are those of its pieces between spaces, since a
// space ends every word. The words between spaces, too, are in order and
// cut no reference.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "Windows1252.h"
#include "WordBreak.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// For each byte, whether it lies inside a reference after its first byte.
std::vector<bool> InsideReferences(std::string_view text) {
  std::vector<bool> inside(text.size() + 1, false);
  for (std::size_t at = 0; at < text.size(); ++at) {
    std::size_t length = 0;
    if (!DecimalCharReference(text, at, length)) continue;
    for (std::size_t i = at + 1; i < at + length; ++i) inside[i] = true;
    at += length - 1;
  }
  return inside;
}

// Words split at spaces may begin or end with a hyphen.
void CheckWords(std::string_view text, const std::vector<TWordSpan>& words, bool atSpaces) {
  std::vector<bool> inside = InsideReferences(text);
  std::size_t previousEnd = 0;
  for (const TWordSpan& word : words) {
    Check(word.Length > 0 && word.Offset >= previousEnd);
    Check(word.Offset <= text.size() && word.Length <= text.size() - word.Offset);
    Check(!inside[word.Offset] && !inside[word.Offset + word.Length]);
    std::string_view bytes = text.substr(word.Offset, word.Length);
    Check(bytes.find(' ') == std::string_view::npos);
    Check(atSpaces || (bytes.front() != '-' && bytes.back() != '-'));
    previousEnd = word.Offset + word.Length;
  }
}

std::vector<TWordSpan> WordsOfPieces(std::string_view text) {
  std::vector<TWordSpan> words;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = std::min(text.find(' ', start), text.size());
    for (TWordSpan word : UnicodeWords(text.substr(start, end - start))) {
      words.push_back({start + word.Offset, word.Length});
    }
    start = end + 1;
  }
  return words;
}

bool SameWords(const std::vector<TWordSpan>& a, const std::vector<TWordSpan>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].Offset != b[i].Offset || a[i].Length != b[i].Length) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<TWordSpan> words = UnicodeWords(text);
  CheckWords(text, words, false);
  Check(SameWords(WordsOfPieces(text), words));
  CheckWords(text, SpaceSeparatedWords(text), true);
  return 0;
}
