#include <gtest/gtest.h>

#include <limits>

#include "HttpUtils.h"

TEST(EncodeBase64, PaddingAndBinaryBytes) {
  EXPECT_EQ(EncodeBase64(""), "");
  EXPECT_EQ(EncodeBase64("a"), "YQ==");
  EXPECT_EQ(EncodeBase64("ab"), "YWI=");
  EXPECT_EQ(EncodeBase64("abc"), "YWJj");
  EXPECT_EQ(EncodeBase64("user:pass"), "dXNlcjpwYXNz");
  EXPECT_EQ(EncodeBase64(std::string("\xff\xfe\x00\xe4", 4)), "//4A5A==");
  EXPECT_EQ(EncodeBase64(std::string(100, 'x')).find('\n'), std::string::npos);
}

TEST(FormatHttpDate, WeekdayPaddingAndTime) {
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(2026, 12, 6, 17, 27, 53)), "Sun, 06 Dec 2026 17:27:53");
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(2027, 3, 1, 5, 4, 3)), "Mon, 01 Mar 2027 05:04:03");
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(2000, 2, 29, 0, 0, 0)), "Tue, 29 Feb 2000 00:00:00");
  EXPECT_EQ(FormatHttpDate(1.0), "Sun, 31 Dec 1899 00:00:00");
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 12, 0, 0), 0.5);
}

TEST(UnixTimeOf, SecondsSince1970InUtc) {
  EXPECT_EQ(UnixTimeOf(1970, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(UnixTimeOf(2000, 2, 29, 12, 0, 0), 951825600);
  EXPECT_EQ(UnixTimeOf(1969, 12, 31, 23, 59, 59), -1);
  EXPECT_EQ(UnixTimeOf(9999, 12, 31, 23, 59, 59), 253402300799);
}

TEST(FormatHttpDate, ValuesOutsideTheCalendarClampToItsEnds) {
  const std::string first = "Mon, 01 Jan 0001 00:00:00";
  const std::string last = "Fri, 31 Dec 9999 23:59:59";
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(1, 1, 1, 0, 0, 0)), first);
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(9999, 12, 31, 23, 59, 59)), last);
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(1, 1, 1, 0, 0, 0) - 1), first);
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(9999, 12, 31, 23, 59, 59) + 0.5), last);
  EXPECT_EQ(FormatHttpDate(1e18), last);
  EXPECT_EQ(FormatHttpDate(1e300), last);
  EXPECT_EQ(FormatHttpDate(-1e300), first);
  EXPECT_EQ(FormatHttpDate(std::numeric_limits<double>::infinity()), last);
  EXPECT_EQ(FormatHttpDate(-std::numeric_limits<double>::infinity()), first);
  // NaN has no place in the calendar: it takes the earliest date.
  EXPECT_EQ(FormatHttpDate(std::numeric_limits<double>::quiet_NaN()), first);
}

TEST(DocumentNames, ExtensionsAndPaths) {
  std::string name = "run.exe";
  ReplaceExtension(name, "htm");
  EXPECT_EQ(name, "run.htm");
  name = "run";
  ReplaceExtension(name, "htm");
  EXPECT_EQ(name, "run.htm");
  name = "a.b.c";
  ReplaceExtension(name, "d");
  EXPECT_EQ(name, "a.b.d");

  EXPECT_EQ(DocumentNameOf(""), "document.htm");
  EXPECT_EQ(DocumentNameOf("/"), "document.htm");
  EXPECT_EQ(DocumentNameOf("/dir/"), "dir");
  EXPECT_EQ(DocumentNameOf("/dir/page.html?x=1"), "page.html");
  EXPECT_EQ(DocumentNameOf("/?x"), "");
  EXPECT_EQ(DocumentNameOf("/a?u=/b/c.htm"), "c.htm");  // a "/" in the query counts
  EXPECT_EQ(DocumentNameOf("/" + std::string(300, 'n')), std::string(255, 'n'));
}
