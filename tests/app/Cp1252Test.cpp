#include "Cp1252.h"

#include <gtest/gtest.h>

TEST(Cp1252, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  QString text = FromCp1252(all);
  EXPECT_EQ(text.size(), 256);
  EXPECT_EQ(ToCp1252(text), all);
}

TEST(Cp1252, MapsTheWindowsCharacters) {
  EXPECT_EQ(FromCp1252("\x80"), QString(QChar(0x20AC)));       // euro sign
  EXPECT_EQ(FromCp1252("\x9F"), QString(QChar(0x0178)));       // Y with diaeresis
  EXPECT_EQ(FromCp1252("\xE4\xDF"), QString::fromUtf8("äß"));  // Latin-1 range unchanged
  EXPECT_EQ(FromCp1252("\x81"), QString(QChar(0x0081)));       // unassigned byte: same number
  EXPECT_EQ(ToCp1252(QString::fromUtf8("€ „Wörter“")), "\x80 \x84W\xF6rter\x93");
}

TEST(Cp1252, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  EXPECT_EQ(ToCp1252(QString::fromUtf8("łЖ")), "??");
  EXPECT_EQ(ToCp1252(QString::fromUtf8("a😀b")), "a?b");  // one character, two UTF-16 units
}
