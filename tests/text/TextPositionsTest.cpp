#include "TextPositions.h"

#include <gtest/gtest.h>

TEST(Pos, FindsTheFirstOccurrence) {
  EXPECT_EQ(Pos("/", "/a/b"), 1);
  EXPECT_EQ(Pos("ab", "xabab"), 2);
  EXPECT_EQ(Pos("z", "abc"), 0);
}

TEST(LastPos, FindsTheLastOccurrence) {
  EXPECT_EQ(LastPos("/", "/a/b"), 3u);
  EXPECT_EQ(LastPos("ab", "abxab"), 4u);
  EXPECT_EQ(LastPos("z", "abc"), 0u);
  EXPECT_EQ(LastPos("a", ""), 0u);
}

TEST(Copy, ClampsLikeAPieceOfText) {
  EXPECT_EQ(Copy("abc", 0, 2), "ab");
  EXPECT_EQ(Copy("abc", 2, 10), "bc");
  EXPECT_EQ(Copy("abc", 2, -1), "");
  EXPECT_EQ(Copy("abc", 4, 1), "");
}
