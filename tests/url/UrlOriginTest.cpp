#include "UrlOrigin.h"

#include <gtest/gtest.h>

namespace {

TEST(UrlOrigin, SchemeAndHostInLowerCaseWithThePortAlwaysWritten) {
  EXPECT_EQ(OriginOf(false, "WWW.H.de", ""), "http://www.h.de:80");
  EXPECT_EQ(OriginOf(true, "h.de", ""), "https://h.de:443");
  EXPECT_EQ(OriginOf(true, "h.de", "8443"), "https://h.de:8443");
  EXPECT_EQ(OriginOf(false, "h.de", "0080"), "http://h.de:80");
  // A port that is no number counts as none.
  EXPECT_EQ(OriginOf(false, "h.de", "x"), "http://h.de:80");
  EXPECT_EQ(UrlOrigin("HTTPS://u:p@H.de/a"), "https://h.de:443");
  EXPECT_EQ(UrlOrigin("h.de:81/a"), "http://h.de:81");
  // Only https is told apart: every other scheme travels as http.
  EXPECT_EQ(UrlOrigin("ftp://h.de/a"), "http://h.de:80");
}

}  // namespace
