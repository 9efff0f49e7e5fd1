// The figures of a run's words beyond the list itself: how often each word
// occurred, on how many pages, the first page it was seen on and a piece of
// the text around its first occurrence; the same for word groups, runs of
// two or more consecutive words of one text node. The word harvest feeds it
// as it adds words to the list; the command line writes it.
//
// Entries are counted under a key the caller chooses for each list caption
// (the caption cleaned of punctuation, say, or nothing for a word the
// output leaves out), so entries the output merges are counted as one from
// the start: a page holding "Zug" and "(Zug)" counts once for "Zug".
// Keys compare as the list compares captions, without regard to case; an
// entry is written as the first spelling seen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "IndexTable.h"
#include "LargeMemory.h"
#include "TextStore.h"

class WordList;

struct TVocabularyOptions {
  // The key a list caption is counted under; nullopt: not counted (and it
  // ends a word group). Unset: the caption itself.
  std::function<std::optional<std::string>(std::string_view caption)> KeyOf;
  // The longest word group counted; 1: single words only.
  std::size_t Groups = 1;
  // Characters of text kept around an entry's first occurrence; 0: none.
  std::size_t Context = 0;
};

// An entry's context as it is written: on one line, control characters
// and runs of blanks one space, none at either end. `text` itself when it
// is so already (as most are), else made in `line`.
std::string_view ContextLine(std::string_view text, std::string& line);

struct TVocabularyEntry {
  static constexpr std::uint32_t kNoPage = UINT32_MAX;
  // The first spelling; a group's words joined by spaces. Kept by the
  // vocabulary, as the context is.
  std::string_view Text;
  std::string_view Context;           // as it stands in the text: see ContextLine
  std::uint64_t Count = 0;            // occurrences
  std::uint32_t Pages = 0;            // pages it occurs on
  std::uint32_t FirstPage = kNoPage;  // see TVocabulary::PageAddress
  std::uint32_t Words = 1;            // 1: a word; more: a group of that many
  std::uint32_t LastPage = 0;         // the serial of the last page counted
};

class TVocabulary {
 public:
  explicit TVocabulary(TVocabularyOptions options);

  // The list's entries so far (a list file opened before the run), in list
  // order and without occurrences, as the list output writes them.
  void AddListEntries(const WordList& words);
  // A page's harvest begins; its words count for it.
  void StartPage(std::string_view address);
  // A text node begins (word groups never reach across nodes); its words
  // are given by their place in it.
  void StartText(std::string_view text);
  // The word at [offset, offset + length) of the current text is the list
  // entry `listIndex` (the first entry FindWord names), written `caption`.
  void Occurred(std::size_t listIndex, std::string_view caption, std::size_t offset,
                std::size_t length);
  // The text node has ended; its text may go.
  void EndText() { StartText({}); }

  // In order of first occurrence (list entries added before the run first).
  const TChunkedArray<TVocabularyEntry>& Entries() const { return entries_; }
  std::string_view PageAddress(std::uint32_t page) const {
    return page < pages_.size() ? pages_[page] : std::string_view();
  }
  // Occurrences of all single words together, and of all groups of n words.
  std::uint64_t Occurrences(std::uint32_t words) const {
    return words < totals_.size() ? totals_[words] : 0;
  }
  const TVocabularyOptions& Options() const { return options_; }

 private:
  static constexpr std::uint32_t kUnknown = UINT32_MAX;
  static constexpr std::uint32_t kDropped = UINT32_MAX - 1;

  std::uint32_t EntryOfListIndex(std::size_t listIndex, std::string_view caption);
  std::uint32_t EntryOf(std::string_view key, std::uint32_t words, std::uint32_t hash, bool& added);
  void Count(std::uint32_t id, std::size_t offset, std::size_t length);
  void KeepContext(TVocabularyEntry& entry, std::size_t offset, std::size_t length);
  void CountGroups(std::size_t offset, std::size_t length);

  TVocabularyOptions options_;
  TChunkedArray<TVocabularyEntry> entries_;
  TIndexTable index_;                       // key (case folded) to entry
  std::vector<std::uint32_t> entryOfList_;  // by list index
  std::vector<std::uint64_t> totals_;
  // Entries' texts, contexts and first pages.
  TTextStore texts_;
  // The pages that are some entry's first, and the page being harvested.
  std::vector<std::string_view> pages_;
  std::string pageAddress_;
  std::uint32_t pageSerial_ = 0;
  bool pageStored_ = false;
  // The current text node, and the words of the group run so far: their
  // entries and where each began in the node.
  std::string_view text_;
  std::vector<std::uint32_t> run_;
  std::vector<std::size_t> runStart_;
  std::vector<std::string> groupKeys_;  // by words in the group
  std::vector<std::uint32_t> groupHashes_;
  // The current text node's number, and the stretch of a text node that
  // the latest contexts are pieces of: where it began in that node.
  std::uint64_t textSerial_ = 0;
  std::string_view stretch_;
  std::size_t stretchBegin_ = 0;
  std::uint64_t stretchText_ = 0;
};
