// The word list commands that work on the list as a whole: sort and delete
// the marked entries (open and save are in WordListFile.h).
#pragma once

#include <string_view>
#include <vector>

#include "WordList.h"

// BeginBatch/EndBatch for a scope: the view repaints once, at the end.
class TWordBatch {
 public:
  explicit TWordBatch(WordList& words) : words_(words) { words_.BeginBatch(); }
  ~TWordBatch() { words_.EndBatch(); }
  TWordBatch(const TWordBatch&) = delete;
  TWordBatch& operator=(const TWordBatch&) = delete;

 private:
  WordList& words_;
};

// The sort key order: ASCII letters upper-cased, then unsigned bytes; a
// prefix is smaller than the longer text. Negative, 0 or positive.
int CompareSortKeys(std::string_view a, std::string_view b);

// The order the exchange sort leaves the captions in ("for each i, for each
// j > i: exchange when caption i is strictly greater"), found in O(n log n):
// order[k] is the old position of the caption that ends up at position k.
//
// The exchange sort's result, key by key in ascending order: walk the list
// from the start over the captions with keys up to this key; a caption with
// exactly this key joins a queue, one with a smaller key sends the queue's
// front to its back. The queue is this key's run of the result.
std::vector<size_t> ExchangeSortOrder(const std::vector<std::string_view>& captions);

// Sorts the captions; the marked states stay at their positions.
void SortWords(WordList& words);

// Deletes every marked entry; the others keep their order.
void DeleteMarkedWords(WordList& words);
