#include "WarcDigest.h"

#include <gtest/gtest.h>

namespace {

TEST(Base32, TheAlphabetAndPaddingOfTheStandardVectors) {
  EXPECT_EQ(Base32(""), "");
  EXPECT_EQ(Base32("f"), "MY======");
  EXPECT_EQ(Base32("fo"), "MZXQ====");
  EXPECT_EQ(Base32("foo"), "MZXW6===");
  EXPECT_EQ(Base32("foob"), "MZXW6YQ=");
  EXPECT_EQ(Base32("fooba"), "MZXW6YTB");
  EXPECT_EQ(Base32("foobar"), "MZXW6YTBOI======");
  EXPECT_EQ(Base32(std::string("\xff\xff\xff\xff\xff\x00\x00\x00\x00\x00", 10)),
            "77777777AAAAAAAA");
}

TEST(WarcSha1Digest, Sha1InBase32WithItsLabel) {
  EXPECT_EQ(WarcSha1Digest(""), "sha1:3I42H3S6NNFQ2MSVX7XZKYAYSCX5QBYJ");
  EXPECT_EQ(WarcSha1Digest("abc"), "sha1:VGMT4NSHA2AWVOR6EVYXQUGCNSONBWE5");
  EXPECT_EQ(WarcSha1Digest("The quick brown fox jumps over the lazy dog"),
            "sha1:F7KODRT2FUUPZ3MET3Q3W5XHHENZH2YS");
}

}  // namespace
