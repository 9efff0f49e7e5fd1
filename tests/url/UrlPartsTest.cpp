#include "UrlParts.h"

#include <gtest/gtest.h>

namespace {

std::string Parts(const std::string& url) {
  TUrlParts p = SplitUrl(url);
  return p.Proto + "|" + p.User + "|" + p.Pass + "|" + p.Host + "|" + p.Port + "|" + p.Path;
}

}  // namespace

TEST(SplitUrl, FullAddressAndAuthorityForms) {
  EXPECT_EQ(Parts("http://u:p@h:81/a/b?c=d"), "http|u|p|h|81|/a/b?c=d");
  EXPECT_EQ(Parts("h"), "|||h||");
  EXPECT_EQ(Parts("h:81"), "|||h|81|");
  EXPECT_EQ(Parts("u@h"), "|u||h||");
  EXPECT_EQ(Parts("u:p@h"), "|u|p|h||");
  EXPECT_EQ(Parts("HTTPS://Host.Example/x"), "HTTPS|||Host.Example||/x");
  EXPECT_EQ(Parts(""), "|||||");
}

TEST(SplitUrl, PathsSchemesAndOddities) {
  EXPECT_EQ(Parts("/a/b"), "http|||||/a/b");
  EXPECT_EQ(Parts("/"), "http|||||");
  EXPECT_EQ(Parts("//h/x"), "http|||||/h/x");
  EXPECT_EQ(Parts("http:/x"), "http|||||/x");
  EXPECT_EQ(Parts("Http:"), "http|||||");
  EXPECT_EQ(Parts("mailto:u@h"), "mailto|u||h||");
  EXPECT_EQ(Parts("x/y?u=http://z"), "x/y?u=http|||z||");
  EXPECT_EQ(Parts("h/p:q@r"), "|||h||/p:q@r");  // only the authority is split
}

TEST(SchemePrefixLength, ALetterThenSchemeCharactersThenAColon) {
  EXPECT_EQ(SchemePrefixLength("http://h/"), 5u);
  EXPECT_EQ(SchemePrefixLength("HTTPS:x"), 6u);
  EXPECT_EQ(SchemePrefixLength("svn+ssh-1.0:"), 12u);
  EXPECT_EQ(SchemePrefixLength("http"), 0u);
  EXPECT_EQ(SchemePrefixLength(""), 0u);
  EXPECT_EQ(SchemePrefixLength(":x"), 0u);
  EXPECT_EQ(SchemePrefixLength("1http:"), 0u);
  EXPECT_EQ(SchemePrefixLength("ht tp:"), 0u);
  EXPECT_EQ(SchemePrefixLength("a/b:c"), 0u);
  // Only ASCII letters, whatever the locale reads into a byte from 128 up.
  EXPECT_EQ(SchemePrefixLength("\xE4x:"), 0u);
  EXPECT_EQ(SchemePrefixLength("x\xE4:"), 0u);
}

TEST(PortNumber, DecimalDigitsFromOneTo65535Only) {
  EXPECT_EQ(PortNumber("80"), 80);
  EXPECT_EQ(PortNumber("65535"), 65535);
  EXPECT_EQ(PortNumber("00081"), 81);
  for (const char* text : {"", "0", "65536", "000081", "+81", "-1", "81 ", " 81", "8a", "http"}) {
    EXPECT_EQ(PortNumber(text), std::nullopt) << text;
  }
}
