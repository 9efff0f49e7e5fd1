// The memory of large vocabularies: pieces of 2 MiB and more mapped on
// their own, arrays growing in such pieces, texts kept in them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LargeMemory.h"
#include "TextStore.h"

TEST(LargeMemory, ArraysAndTextsKeepTheirContentAcrossPieces) {
  // Strings, so that construction and destruction in place are checked too
  // (the sanitizer build finds a string leaked or freed twice).
  TChunkedArray<std::string> array;
  const std::string& first = array.emplace_back("first, long enough to be on the heap");
  const std::size_t count = 3 * TChunkedArray<std::string>::kPerChunk + 7;
  for (std::size_t i = 1; i < count; ++i) array.emplace_back(std::to_string(i));
  ASSERT_EQ(array.size(), count);
  EXPECT_EQ(&first, &array[0]);  // growing moved nothing
  std::size_t seen = 0;
  for (const std::string& text : array) {
    if (seen > 0) {
      ASSERT_EQ(text, std::to_string(seen));
    }
    ++seen;
  }
  EXPECT_EQ(seen, count);

  // A vector crossing the size where its memory is mapped on its own, and
  // shrinking back below it.
  std::vector<int, TLargeAllocator<int>> numbers;
  for (int i = 0; i < 2'000'000; ++i) numbers.push_back(i);
  numbers.resize(10);
  numbers.shrink_to_fit();
  EXPECT_EQ(numbers.back(), 9);

  TTextStore store;
  const std::string big(TTextStore::kBlockSize + 3, 'x');
  const std::string_view small = store.Keep("Haus");
  const std::string_view kept = store.Keep(big);
  const std::string_view after = store.Keep("Baum");
  TTextStore moved = std::move(store);
  EXPECT_EQ(small, "Haus");
  EXPECT_EQ(kept, big);
  EXPECT_EQ(after, "Baum");
  EXPECT_EQ(moved.Keep(""), "");
}
