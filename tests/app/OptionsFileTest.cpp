#include "OptionsFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "FileIO.h"
#include "TempDir.h"

TEST(OptionsFile, LayoutIsFlagThenTwoLengthPrefixedTexts) {
  std::string address(20, 'w');
  std::string bytes = EncodeOptions(true, address, "");
  ASSERT_EQ(bytes.size(), 23u);
  EXPECT_EQ(bytes[0], '\1');
  EXPECT_EQ(bytes[1], '\x14');
  EXPECT_EQ(bytes.back(), '\0');
  EXPECT_EQ(EncodeOptions(false, "a", "p:8"), std::string("\0\1a\3p:8", 7));
}

TEST(OptionsFile, TextsOverLengthByteKeepTheirFirst255Bytes) {
  std::string bytes = EncodeOptions(false, std::string(300, 'a'), std::string(256, 'b'));
  TOptionsReader reader(bytes);
  reader.ReadFlag();
  EXPECT_EQ(reader.ReadString(), std::string(255, 'a'));
  EXPECT_EQ(reader.ReadString(), std::string(255, 'b'));
}

TEST(OptionsFile, ReaderStopsAtTheFirstIncompleteField) {
  TOptionsReader empty("");
  EXPECT_THROW(empty.ReadFlag(), EInOutError);

  TOptionsReader shortText(
      std::string("\x07\x05"
                  "abc",
                  5));
  EXPECT_TRUE(shortText.ReadFlag());
  try {
    shortText.ReadString();
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_STREQ(error.what(), "Read beyond end of file");
  }

  TOptionsReader noProxy(std::string("\0\2ab", 4));
  EXPECT_FALSE(noProxy.ReadFlag());
  EXPECT_EQ(noProxy.ReadString(), "ab");
  EXPECT_THROW(noProxy.ReadString(), EInOutError);
}

TEST(OptionsFile, ReadsOnlyTheLongestPossibleContents) {
  TTempDir dir;
  dir.Write("options.dat", std::string(100'000, '\xFF'));
  std::optional<std::string> bytes = ReadOptionsBytes(dir.Path("options.dat"));
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), 513u);
  EXPECT_FALSE(ReadOptionsBytes(dir.Path("missing.dat")));
}

// Proxy addresses may carry "user:password@": a new file is the user's
// alone, while one the user opened up on purpose stays as it is.
TEST(OptionsFile, ANewFileIsPrivateAndAnOldOneKeepsItsMode) {
  TTempDir dir;
  mode_t mask = ::umask(022);
  ASSERT_TRUE(WriteOptionsFile(dir.Path("options.dat"), EncodeOptions(false, "a", "u:pw@p")));
  dir.Write("shared.dat", "");
  ASSERT_EQ(::chmod(dir.Path("shared.dat").c_str(), 0644), 0);
  ASSERT_TRUE(WriteOptionsFile(dir.Path("shared.dat"), EncodeOptions(false, "a", "p")));
  ::umask(mask);
  struct stat status {};
  ASSERT_EQ(::stat(dir.Path("options.dat").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  ASSERT_EQ(::stat(dir.Path("shared.dat").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644u);
}
