#include "UrlFragment.h"

#include <gtest/gtest.h>

TEST(FragmentStart, FirstHashOutsideACharacterReference) {
  EXPECT_EQ(FragmentStart("a#b"), 1u);
  EXPECT_EQ(FragmentStart("#"), 0u);
  EXPECT_EQ(FragmentStart("abc"), std::string_view::npos);
  EXPECT_EQ(FragmentStart("&#1084;#x"), 7u);
  EXPECT_EQ(FragmentStart("&#1084"), 1u);  // unfinished: a plain "#"
  EXPECT_EQ(FragmentStart("list.php?a=1&#38;b=2"), std::string_view::npos);
  EXPECT_EQ(FragmentStart("k&#228;se.html#teil"), 14u);
  EXPECT_EQ(FragmentStart("&#x1F600;#a"), 9u);
  EXPECT_EQ(FragmentStart("&#x;#a"), 1u);  // no digits: a plain "#"
}
