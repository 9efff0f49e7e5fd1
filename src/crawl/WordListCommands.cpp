#include "WordListCommands.h"

#include <algorithm>

#include "AsciiCase.h"
#include "Fenwick.h"

namespace {

unsigned char SortKeyByte(char c) { return static_cast<unsigned char>(UpperAsciiChar(c)); }

// The run of one key. `positions` are the key's list positions, ascending;
// `smaller` counts the list positions of the smaller keys. The queue is
// simulated as an array read cyclically from a front index: joining the
// back inserts before the front, and a move to the back advances the front.
// The insertion indexes alone decide the array, which is then rebuilt
// backwards, each element taking the free slot its index names.
std::vector<size_t> RunOfKey(const std::vector<size_t>& positions, const TFenwick& smaller,
                             size_t smallerTotal) {
  size_t m = positions.size();
  std::vector<size_t> insertAt(m);
  size_t front = 0;
  for (size_t i = 0; i < m; ++i) {
    insertAt[i] = front;
    size_t size = i + 1;
    front = (front + 1) % size;
    size_t passedTo = i + 1 < m ? smaller.CountBefore(positions[i + 1]) : smallerTotal;
    size_t moves = passedTo - smaller.CountBefore(positions[i]);
    front = (front + moves) % size;
  }
  std::vector<size_t> slots(m);
  TFenwick freeSlots(m);
  for (size_t s = 0; s < m; ++s) freeSlots.Add(s, 1);
  for (size_t i = m; i-- > 0;) {
    size_t slot = freeSlots.FindKth(insertAt[i]);
    slots[slot] = positions[i];
    freeSlots.Add(slot, -1);
  }
  std::rotate(slots.begin(), slots.begin() + static_cast<std::ptrdiff_t>(front), slots.end());
  return slots;
}

}  // namespace

int CompareSortKeys(std::string_view a, std::string_view b) {
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    unsigned char x = SortKeyByte(a[i]);
    unsigned char y = SortKeyByte(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::vector<size_t> ExchangeSortOrder(const std::vector<std::string_view>& captions) {
  size_t n = captions.size();
  // Upper-cased copies of the captions, side by side: comparing them is a
  // plain unsigned byte comparison, which is what the key order is.
  std::string keyBytes;
  size_t total = 0;
  for (std::string_view caption : captions) total += caption.size();
  keyBytes.reserve(total);
  for (std::string_view caption : captions) {
    for (char c : caption) keyBytes += static_cast<char>(SortKeyByte(c));
  }
  struct TKeyed {
    std::string_view key;
    size_t position;
  };
  std::vector<TKeyed> byKey(n);
  for (size_t i = 0, at = 0; i < n; at += captions[i].size(), ++i) {
    byKey[i] = {std::string_view(keyBytes).substr(at, captions[i].size()), i};
  }
  // string_view compares char_traits<char>, which orders bytes as unsigned.
  std::sort(byKey.begin(), byKey.end(), [](const TKeyed& a, const TKeyed& b) {
    int order = a.key.compare(b.key);
    return order != 0 ? order < 0 : a.position < b.position;
  });

  std::vector<size_t> order;
  order.reserve(n);
  TFenwick smaller(n);
  size_t smallerTotal = 0;
  std::vector<size_t> positions;
  for (size_t first = 0; first < n;) {
    size_t last = first + 1;
    while (last < n && byKey[last].key == byKey[first].key) ++last;
    if (last - first == 1) {  // a key of its own: nothing to turn round
      order.push_back(byKey[first].position);
      smaller.Add(byKey[first].position, 1);
      ++smallerTotal;
      first = last;
      continue;
    }
    positions.clear();
    for (size_t k = first; k < last; ++k) positions.push_back(byKey[k].position);
    std::vector<size_t> run = RunOfKey(positions, smaller, smallerTotal);
    order.insert(order.end(), run.begin(), run.end());
    for (size_t position : positions) smaller.Add(position, 1);
    smallerTotal += positions.size();
    first = last;
  }
  return order;
}

void SortWords(WordList& words) {
  std::vector<size_t> order;
  std::vector<bool> marks(words.WordCount());
  {
    std::vector<std::string_view> captions;
    captions.reserve(words.WordCount());
    for (const WordEntry& entry : words.Entries()) captions.push_back(entry.Caption);
    order = ExchangeSortOrder(captions);
  }
  for (size_t i = 0; i < marks.size(); ++i) marks[i] = words.IsMarked(i);
  TWordBatch batch(words);
  words.Reorder(order);
  for (size_t i = 0; i < marks.size(); ++i) words.SetMarked(i, marks[i]);
}

void DeleteMarkedWords(WordList& words) {
  TWordBatch batch(words);
  words.DeleteMarked();
}
