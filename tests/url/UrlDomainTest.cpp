#include "UrlDomain.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(UrlDomain, RegistrableDomainIsOneLabelBelowTheLongestSuffixInLowerCase) {
  EXPECT_EQ(RegistrableDomain("www.example.co.uk"), "example.co.uk");
  EXPECT_EQ(RegistrableDomain("WWW.Example.COM"), "example.com");
  EXPECT_EQ(RegistrableDomain("example.com"), "example.com");
  EXPECT_EQ(RegistrableDomain("a.b.c.example.org"), "example.org");
  // Rules of the list's private section count: each github.io user is a site.
  EXPECT_EQ(RegistrableDomain("y.x.github.io"), "x.github.io");
  // A wildcard rule and its exception.
  EXPECT_EQ(RegistrableDomain("a.b.kawasaki.jp"), "a.b.kawasaki.jp");
  EXPECT_EQ(RegistrableDomain("www.city.kawasaki.jp"), "city.kawasaki.jp");
  // An unknown top-level label is a suffix of its own.
  EXPECT_EQ(RegistrableDomain("b.a.test"), "a.test");
}

TEST(UrlDomain, NoRegistrableDomainForSuffixesAddressesAndMalformedHosts) {
  for (const char* host :
       {"com", "co.uk", "github.io", "test", "", ".", "127.0.0.1", "1.2.3.4", "127.1", "0x7f.0.0.1",
        "[::1]", "::1", "fe80::1", ".example.com", "example.com.", "a..example.com", "a b.com",
        "a/b.com", "\xe9t\xe9.fr"}) {
    EXPECT_EQ(RegistrableDomain(host), "") << host;
  }
  EXPECT_EQ(RegistrableDomain(std::string(64, 'a') + ".com"), "");
  EXPECT_EQ(RegistrableDomain(std::string(63, 'a') + ".com"), std::string(63, 'a') + ".com");
  // A host of more than 253 bytes, although every label is short.
  std::string longHost;
  for (int i = 0; i < 64; ++i) longHost += "abc.";
  EXPECT_EQ(RegistrableDomain(longHost + "com"), "");
}

TEST(UrlDomain, LocalhostAndTheNamesUnderItAreOneSite) {
  EXPECT_EQ(RegistrableDomain("localhost"), "localhost");
  EXPECT_EQ(RegistrableDomain("a.localhost"), "localhost");
  EXPECT_EQ(RegistrableDomain("B.LocalHost"), "localhost");
  EXPECT_EQ(RegistrableDomain("x.b.localhost"), "localhost");
  EXPECT_FALSE(IsPublicSuffix("localhost"));
  EXPECT_FALSE(IsPublicSuffix("a.localhost"));
  // Only the whole label: "notlocalhost" is a name under an unknown suffix.
  EXPECT_EQ(RegistrableDomain("notlocalhost"), "");
  EXPECT_EQ(RegistrableDomain("a.notlocalhost"), "a.notlocalhost");
}

TEST(UrlDomain, PublicSuffixesOfBothSectionsAndTheDefaultRule) {
  for (const char* host :
       {"com", "COM", "co.uk", "github.io", "test", "example", "x.kawasaki.jp"}) {
    EXPECT_TRUE(IsPublicSuffix(host)) << host;
  }
  for (const char* host : {"example.com", "x.github.io", "city.kawasaki.jp", "a.test", "127.0.0.1",
                           "[::1]", "", "co..uk"}) {
    EXPECT_FALSE(IsPublicSuffix(host)) << host;
  }
}

TEST(UrlDomain, IpAddressesInTheFormsAddressParsersRead) {
  for (const char* host : {"127.0.0.1", "10.1", "2130706433", "0x7f.0.0.1", "a.0x1F", "[::1]",
                           "::1", "[fe80::1%25eth0]",
                           // A bare "0x" is read as the number 0.
                           "a.0x"}) {
    EXPECT_TRUE(IsIpAddressHost(host)) << host;
  }
  for (const char* host : {"example.com", "1.2.3.com", "a.0xg", "localhost", "1a.com"}) {
    EXPECT_FALSE(IsIpAddressHost(host)) << host;
  }
}

TEST(UrlDomain, DomainMatchIsIdentityOrASuffixAtALabelBoundary) {
  EXPECT_TRUE(DomainMatches("example.com", "example.com"));
  EXPECT_TRUE(DomainMatches("WWW.example.com", "Example.COM"));
  EXPECT_TRUE(DomainMatches("a.b.example.com", "example.com"));
  EXPECT_FALSE(DomainMatches("badexample.com", "example.com"));
  EXPECT_FALSE(DomainMatches("example.com", "www.example.com"));
  EXPECT_FALSE(DomainMatches("a.test.evil", "a.test"));
  EXPECT_FALSE(DomainMatches("example.com", ""));
  EXPECT_FALSE(DomainMatches("", ""));
  // An address matches only itself: 1.2.3.4 does not lie under 3.4.
  EXPECT_TRUE(DomainMatches("1.2.3.4", "1.2.3.4"));
  EXPECT_FALSE(DomainMatches("1.2.3.4", "3.4"));
  EXPECT_FALSE(DomainMatches("1.2.3.4", "4"));
}

TEST(UrlDomain, TheListIsLoadedOnceForThreadsAskingTogether) {
  std::vector<std::thread> threads;
  std::vector<std::string> answers(4);
  for (std::size_t i = 0; i < answers.size(); ++i) {
    threads.emplace_back([&answers, i] { answers[i] = RegistrableDomain("www.example.co.uk"); });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& answer : answers) EXPECT_EQ(answer, "example.co.uk");
}

}  // namespace
