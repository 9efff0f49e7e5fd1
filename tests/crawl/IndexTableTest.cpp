#include "IndexTable.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "FixedHashes.h"
#include "WordList.h"

namespace {

// The most keys that share one bucket of a table of `mask` + 1 slots.
template <class Hash>
size_t LargestBucket(const std::vector<std::string>& keys, uint32_t mask, Hash hash) {
  std::map<uint32_t, size_t> buckets;
  size_t largest = 0;
  for (const std::string& key : keys) largest = std::max(largest, ++buckets[hash(key) & mask]);
  return largest;
}

// 300 keys in 1024 buckets: a random hash puts at most a handful into one
// (ten or more happens once in 10^10 processes).
TEST(KeyedHashes, KeysThatShareABucketUnderTheFixedHashesAreSpreadOut) {
  constexpr uint32_t kMask = 1023;
  auto addresses = fixedhash::CollidingKeys("http://127.0.0.1/p", 300, kMask, fixedhash::Bytes);
  EXPECT_LT(LargestBucket(addresses, kMask, HashBytes), 10u);

  auto words = fixedhash::CollidingKeys(
      "w", 300, kMask, [](std::string_view text) { return fixedhash::Word(text, FoldCase); });
  EXPECT_LT(LargestBucket(words, kMask, WordKeyHash), 10u);
}

TEST(KeyedHashes, WordHashIgnoresCaseAndBytesHashDoesNot) {
  EXPECT_EQ(WordKeyHash("Stra\xdf"
                        "e und \xc4pfel"),
            WordKeyHash("STRA\xdf"
                        "E UND \xe4PFEL"));
  EXPECT_EQ(WordKeyHash(""), WordKeyHash(""));
  EXPECT_NE(HashBytes("http://h/A"), HashBytes("http://h/a"));
  EXPECT_EQ(HashBytes("http://h/a.html"), HashBytes(std::string("http://h/a.html")));
}

}  // namespace
