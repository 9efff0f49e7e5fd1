// The two ends of a page's way through the crawl: cutting the downloaded
// document into lines for the tokenizer, and cutting text nodes into words
// for the word list.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HTMLPars.h"
#include "Vocabulary.h"
#include "WordList.h"

// A reference the harvest replaces and the byte that replaces it.
struct TCrawlEntity {
  std::string_view Reference;
  unsigned char Replacement;
};

// "&auml;" ... "&gt;": the 11 references, in the order they are replaced.
extern const std::array<TCrawlEntity, 11> CrawlEntities;

// Appends the document's lines: CR, LF and CR LF each end a line; a NUL ends
// the line's text early (the bytes up to the line's end are dropped).
void SplitLines(const char* data, size_t size, TStringList& lines);

// Replaces the CrawlEntities row by row, each row until none is left.
std::string DecodeEntities(std::string_view text);

// Where a text node is cut into words: at spaces only (the window's rule),
// or at the Unicode word boundaries, with hyphens inside words kept.
enum class TWordSplit { Spaces, Unicode };

// Adds the words of text nodes to a word list.
class TWordHarvest {
 public:
  // `setCountLabel` receives the count label's new text after each added word.
  TWordHarvest(WordList& words, std::function<void(const std::string&)> setCountLabel);

  // Offers every word of a text node (see Split) to CompleteWord.
  void HarvestText(std::string_view text);
  // Strips one trailing ',', '.', '"' and one leading '"' in that order and
  // adds the rest unless the list holds it already.
  void CompleteWord(std::string_view word);

  TWordSplit Split = TWordSplit::Spaces;
  // Every completed word also goes to the vocabulary, text node by text
  // node. Not owned; nullptr: off.
  void FeedVocabulary(TVocabulary* vocabulary) { vocabulary_ = vocabulary; }

  // From now on every completed word adds 1 at the index of the list entry
  // equal to it (the vector grows with the list). Not owned; nullptr: off.
  void CountOccurrencesInto(std::vector<std::uint32_t>* counts) { counts_ = counts; }

 private:
  void UpdateWordCount();
  void CountOccurrence(size_t index);
  void HarvestWord(std::string_view text, size_t offset, size_t length);
  // The list index of the word (stripped as CompleteWord strips it), or
  // nullopt when nothing is left of it; `stripped` is what was added.
  std::optional<size_t> AddWord(std::string_view& word);

  WordList& words_;
  std::function<void(const std::string&)> setCountLabel_;
  std::vector<std::uint32_t>* counts_ = nullptr;
  TVocabulary* vocabulary_ = nullptr;
};
