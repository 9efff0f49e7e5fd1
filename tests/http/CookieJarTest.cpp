#include "CookieJar.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

// Tue, 15 Jan 2030 08:00:00 GMT: a fixed "now" for every case.
constexpr std::int64_t kNow = 1894694400;

std::string Saved(const TCookieJar& jar) {
  std::ostringstream out;
  jar.Save(out);
  return out.str();
}

// The cookie lines of the saved jar, without the header comment.
std::string SavedCookies(const TCookieJar& jar) {
  std::string text = Saved(jar);
  return text.substr(text.find("\n\n") + 2);
}

std::string ExpiryOf(std::string_view setCookie) {
  TCookieJar jar;
  jar.Store(true, "h.test", "/", setCookie, kNow);
  std::string line = SavedCookies(jar);
  if (line.empty()) return "none";
  // domain, subdomains, path, secure, then the expiry
  std::size_t start = 0;
  for (int i = 0; i < 4; ++i) start = line.find('\t', start) + 1;
  return line.substr(start, line.find('\t', start) - start);
}

TEST(CookieJar, HostOnlyAndDomainCookiesNeverReachAnotherSite) {
  TCookieJar jar;
  jar.Store(false, "a.test", "/", "host=1", kNow);
  jar.Store(false, "a.test", "/", "dom=2; Domain=.A.Test", kNow);
  EXPECT_EQ(jar.HeaderFor(false, "a.test", "/", kNow), "host=1; dom=2");
  EXPECT_EQ(jar.HeaderFor(false, "A.TEST", "/", kNow), "host=1; dom=2");
  EXPECT_EQ(jar.HeaderFor(false, "www.a.test", "/", kNow), "dom=2");
  for (const char* other : {"b.test", "a.test.evil", "xa.test", "test", "www.b.test"}) {
    EXPECT_EQ(jar.HeaderFor(false, other, "/", kNow), "") << other;
  }
  // A domain the request host does not lie under is refused.
  jar.Store(false, "a.test", "/", "x=1; Domain=b.test", kNow);
  jar.Store(false, "a.test", "/", "x=1; Domain=www.a.test", kNow);
  jar.Store(false, "a.test", "/", "x=1; Domain=a.test.evil", kNow);
  EXPECT_EQ(jar.Size(), 2u);
  // A subdomain may set a cookie for its parent.
  jar.Store(false, "www.a.test", "/", "up=3; Domain=a.test", kNow);
  EXPECT_EQ(jar.HeaderFor(false, "a.test", "/", kNow), "host=1; dom=2; up=3");
}

TEST(CookieJar, PublicSuffixDomainsAreRefusedUnlessTheHostIsTheSuffix) {
  TCookieJar jar;
  jar.Store(false, "www.example.co.uk", "/", "a=1; Domain=co.uk", kNow);
  jar.Store(false, "example.com", "/", "a=1; Domain=com", kNow);
  jar.Store(false, "example.com", "/", "a=1; Domain=.COM", kNow);
  jar.Store(false, "x.github.io", "/", "a=1; Domain=github.io", kNow);
  EXPECT_EQ(jar.Size(), 0u);
  // The suffix's own host keeps it, bound to itself alone.
  jar.Store(false, "co.uk", "/", "own=1; Domain=co.uk", kNow);
  EXPECT_EQ(jar.HeaderFor(false, "co.uk", "/", kNow), "own=1");
  EXPECT_EQ(jar.HeaderFor(false, "example.co.uk", "/", kNow), "");
}

TEST(CookieJar, LoopbackSitesUnderLocalhostShareADomainCookie) {
  TCookieJar jar;
  jar.Store(false, "a.localhost", "/", "s=1; Domain=localhost", kNow);
  jar.Store(false, "a.localhost", "/", "own=2", kNow);
  EXPECT_EQ(jar.HeaderFor(false, "b.localhost", "/", kNow), "s=1");
  EXPECT_EQ(jar.HeaderFor(false, "localhost", "/", kNow), "s=1");
  EXPECT_EQ(jar.HeaderFor(false, "a.localhost", "/", kNow), "s=1; own=2");
  // An address matches only itself.
  jar.Store(false, "127.0.0.1", "/", "ip=1; Domain=0.0.1", kNow);
  jar.Store(false, "127.0.0.1", "/", "ip=2; Domain=127.0.0.1", kNow);
  EXPECT_EQ(jar.HeaderFor(false, "127.0.0.1", "/", kNow), "ip=2");
  EXPECT_EQ(jar.HeaderFor(false, "10.127.0.0.1", "/", kNow), "");
}

TEST(CookieJar, PathsMatchWholeSegmentsAndDefaultToTheRequestDirectory) {
  TCookieJar jar;
  jar.Store(false, "h.test", "/", "d=1; Path=/docs", kNow);
  for (const char* path : {"/docs", "/docs/", "/docs/a/b", "/docs?q", "/docs#f"}) {
    EXPECT_EQ(jar.HeaderFor(false, "h.test", path, kNow), "d=1") << path;
  }
  for (const char* path : {"/docsx", "/", "/Docs", "/doc", ""}) {
    EXPECT_EQ(jar.HeaderFor(false, "h.test", path, kNow), "") << path;
  }

  TCookieJar defaults;
  defaults.Store(false, "h.test", "/a/b/page.html?x=/y/z", "p=1", kNow);
  defaults.Store(false, "h.test", "/top", "q=1", kNow);
  defaults.Store(false, "h.test", "/a/b/c", "r=1; Path=relative", kNow);
  defaults.Store(false, "h.test", "", "s=1", kNow);
  // An attribute value over 1024 bytes is ignored.
  defaults.Store(false, "h.test", "/a/b/c", "t=1; Path=/" + std::string(1024, 'p'), kNow);
  EXPECT_EQ(SavedCookies(defaults),
            "h.test\tFALSE\t/a/b\tFALSE\t0\tp\t1\n"
            "h.test\tFALSE\t/\tFALSE\t0\tq\t1\n"
            "h.test\tFALSE\t/a/b\tFALSE\t0\tr\t1\n"
            "h.test\tFALSE\t/\tFALSE\t0\ts\t1\n"
            "h.test\tFALSE\t/a/b\tFALSE\t0\tt\t1\n");
}

TEST(CookieJar, LongerPathsFirstThenEarlierCreationAndReplacementKeepsItsPlace) {
  TCookieJar jar;
  jar.Store(false, "h.test", "/", "a=1", kNow);
  jar.Store(false, "h.test", "/", "b=1; Path=/docs", kNow + 1);
  jar.Store(false, "h.test", "/", "c=1", kNow + 1);
  jar.Store(false, "h.test", "/", "d=1", kNow + 1);
  EXPECT_EQ(jar.HeaderFor(false, "h.test", "/docs/x", kNow + 2), "b=1; a=1; c=1; d=1");
  // Same name, domain and path: the value changes, the creation time stays.
  jar.Store(false, "h.test", "/", "a=2", kNow + 3);
  jar.Store(false, "h.test", "/", "c=2; Max-Age=100", kNow + 3);
  EXPECT_EQ(jar.HeaderFor(false, "h.test", "/docs/x", kNow + 4), "b=1; a=2; c=2; d=1");
  // Another path is another cookie.
  jar.Store(false, "h.test", "/", "a=3; Path=/docs", kNow + 4);
  EXPECT_EQ(jar.HeaderFor(false, "h.test", "/docs/x", kNow + 5), "b=1; a=3; a=2; c=2; d=1");
  EXPECT_EQ(jar.Size(), 5u);
}

TEST(CookieJar, SecureCookiesComeOnlyFromAndGoOnlyToHttps) {
  TCookieJar jar;
  jar.Store(false, "h.test", "/", "plain=1; Secure", kNow);
  EXPECT_EQ(jar.Size(), 0u);
  jar.Store(true, "h.test", "/", "id=s; secure; HttpOnly", kNow);
  jar.Store(true, "h.test", "/", "open=1", kNow);
  EXPECT_EQ(jar.HeaderFor(true, "h.test", "/", kNow), "id=s; open=1");
  EXPECT_EQ(jar.HeaderFor(false, "h.test", "/", kNow), "open=1");
  // Plain http cannot put its own cookie in place of a Secure one, on the
  // same host or one above or below it.
  jar.Store(false, "h.test", "/", "id=forged", kNow);
  jar.Store(false, "www.h.test", "/", "id=forged; Domain=h.test", kNow);
  jar.Store(false, "h.test", "/", "id=forged; Path=/sub", kNow);
  EXPECT_EQ(jar.HeaderFor(true, "h.test", "/sub", kNow), "id=s; open=1");
  EXPECT_EQ(jar.Size(), 2u);
}

TEST(CookieJar, NamePrefixesAskForSecureAndForAHostOnlyRootCookie) {
  TCookieJar jar;
  jar.Store(false, "h.test", "/", "__Secure-a=1; Secure", kNow);
  jar.Store(true, "h.test", "/", "__Secure-b=1", kNow);
  jar.Store(true, "h.test", "/", "__Host-c=1; Secure", kNow);  // no Path
  jar.Store(true, "h.test", "/", "__Host-d=1; Secure; Path=/x", kNow);
  jar.Store(true, "www.h.test", "/", "__Host-e=1; Secure; Path=/; Domain=h.test", kNow);
  jar.Store(true, "h.test", "/", "__HOST-f=1; Path=/", kNow);
  // A nameless cookie cannot pass for a prefixed one by its value.
  jar.Store(true, "h.test", "/", "__Host-g=1", kNow);
  jar.Store(true, "h.test", "/", "=__Secure-h=1", kNow);
  EXPECT_EQ(jar.Size(), 0u);
  jar.Store(true, "h.test", "/", "__Secure-ok=1; Secure; Domain=h.test", kNow);
  jar.Store(true, "h.test", "/x/y", "__Host-ok=2; Secure; Path=/", kNow);
  EXPECT_EQ(jar.HeaderFor(true, "h.test", "/", kNow), "__Secure-ok=1; __Host-ok=2");
}

TEST(CookieJar, MaxAgeWinsOverExpiresAndEitherMakesTheCookieLastUntilThen) {
  EXPECT_EQ(ExpiryOf("a=1"), "0");
  EXPECT_EQ(ExpiryOf("a=1; Max-Age=60"), std::to_string(kNow + 60));
  EXPECT_EQ(ExpiryOf("a=1; Max-Age=60; Expires=Wed, 01 Jan 2031 00:00:00 GMT"),
            std::to_string(kNow + 60));
  EXPECT_EQ(ExpiryOf("a=1; Expires=Wed, 01 Jan 2031 00:00:00 GMT; Max-Age=60"),
            std::to_string(kNow + 60));
  EXPECT_EQ(ExpiryOf("a=1; Expires=Wed, 01 Jan 2031 00:00:00 GMT; Max-Age=0"), "none");
  EXPECT_EQ(ExpiryOf("a=1; Expires=Wed, 01 Jan 1999 00:00:00 GMT; Max-Age=60"),
            std::to_string(kNow + 60));
  // A Max-Age that is no number is ignored; a huge one stays at the end of time.
  EXPECT_EQ(ExpiryOf("a=1; Max-Age=1e3"), "0");
  EXPECT_EQ(ExpiryOf("a=1; Max-Age=+60"), "0");
  EXPECT_EQ(ExpiryOf("a=1; Max-Age=99999999999999999999999"), "9223372036854775807");
  EXPECT_EQ(ExpiryOf("a=1; Max-Age=-5"), "none");

  TCookieJar jar;
  jar.Store(false, "h.test", "/", "a=1; Max-Age=60", kNow);
  EXPECT_EQ(jar.HeaderFor(false, "h.test", "/", kNow + 59), "a=1");
  EXPECT_EQ(jar.HeaderFor(false, "h.test", "/", kNow + 60), "");
  jar.RemoveExpired(kNow + 60);
  EXPECT_EQ(jar.Size(), 0u);
}

TEST(CookieJar, ExpiresReadsTheDateFormsServersWrite) {
  const std::string sunday1994 = "784111777";  // 06 Nov 1994 08:49:37 GMT
  for (const char* date : {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
                           "Sun Nov  6 08:49:37 1994", "6 nov 1994 8:49:37",
                           "Sun, 06-NOVEMBER-1994 08:49:37 UTC", "1994 Nov 06 08:49:37"}) {
    // 1994 lies in the past: read right, the cookie deletes itself.
    EXPECT_EQ(ExpiryOf(std::string("a=1; Expires=") + date), "none") << date;
  }
  TCookieJar jar;
  jar.Store(false, "h.test", "/", "a=1; Expires=Sun, 06 Nov 1994 08:49:37 GMT", 784111776);
  EXPECT_EQ(SavedCookies(jar), "h.test\tFALSE\t/\tFALSE\t" + sunday1994 + "\ta\t1\n");
  EXPECT_EQ(ExpiryOf("a=1; Expires=Thu, 01-Jan-70 00:00:00 GMT"), "none");
  EXPECT_EQ(ExpiryOf("a=1; Expires=Fri, 01 Jan 2049 23:59:59 GMT"), "2493158399");
  EXPECT_EQ(ExpiryOf("a=1; Expires=29 Feb 2032 00:00:00"), "1961625600");
  // Dates that do not exist, or lack a part, leave a session cookie.
  for (const char* date :
       {"30 Feb 2031 00:00:00", "31 Apr 2031 00:00:00", "29 Feb 2031 00:00:00",
        "01 Jan 1600 00:00:00", "01 Jan 2031 24:00:00", "01 Jan 2031 00:60:00", "01 Jan 2031",
        "Jan 2031 00:00:00", "01 2031 00:00:00", "01 Foo 2031 1:2:3", "001 Jan 2031 00:00:00",
        "01 Jan 20311 00:00:00", ""}) {
    EXPECT_EQ(ExpiryOf(std::string("a=1; Expires=") + date), "0") << date;
  }
}

TEST(CookieJar, AnExpiredCookieDeletesOnlyItsOwnNameDomainAndPath) {
  TCookieJar jar;
  jar.Store(false, "h.test", "/", "a=1", kNow);
  jar.Store(false, "h.test", "/", "a=1; Path=/x", kNow);
  jar.Store(false, "h.test", "/", "a=1; Domain=h.test", kNow);
  jar.Store(false, "h.test", "/", "b=1", kNow);
  jar.Store(false, "h.test", "/", "a=; Max-Age=0; Path=/x", kNow);
  EXPECT_EQ(jar.HeaderFor(false, "h.test", "/x", kNow), "a=1; b=1");
  // Host-only and domain cookies of one domain share the name, domain and path.
  jar.Store(false, "h.test", "/", "a=gone; Expires=Thu, 01 Jan 1970 00:00:00 GMT", kNow);
  EXPECT_EQ(jar.HeaderFor(false, "h.test", "/x", kNow), "b=1");
  EXPECT_EQ(jar.Size(), 1u);
  // Deleting what is not there stores nothing.
  jar.Store(false, "h.test", "/", "z=1; Max-Age=0", kNow);
  EXPECT_EQ(jar.Size(), 1u);
}

TEST(CookieJar, BytesThatCouldBreakTheRequestAreRefused) {
  TCookieJar jar;
  for (std::string bad :
       {std::string("a=1\r\nX-Injected: 1"), std::string("a=1\nb=2"), std::string("a=\0", 3) + "x",
        std::string("a\tb=1"), std::string("a=b\tc"), std::string("a=\x7f"),
        std::string("a=1; Path=/x\ty"), std::string("="), std::string(" ; Path=/"),
        "n=" + std::string(4096, 'v')}) {
    jar.Store(false, "h.test", "/", bad, kNow);
  }
  for (const std::string& host : std::initializer_list<std::string>{
           "", ".h.test", "#h.test", "h test", "h\ttest", "h.test/x", std::string(256, 'h')}) {
    jar.Store(false, host, "/", "a=1", kNow);
  }
  // A path longer than an attribute may be.
  jar.Store(false, "h.test", "/" + std::string(1025, 'p') + "/page", "a=1", kNow);
  EXPECT_EQ(jar.Size(), 0u);
  // Blanks around name and value go; a pair without "=" is a nameless value.
  jar.Store(false, "h.test", "/", " \tname = some value \t; Path=/", kNow);
  jar.Store(false, "h.test", "/", "bare", kNow);
  jar.Store(false, "h.test", "/", "n=" + std::string(4095, 'v'), kNow);
  EXPECT_TRUE(jar.HeaderFor(false, "h.test", "/", kNow) ==
              "name=some value; bare; n=" + std::string(4095, 'v'));
}

TEST(CookieJar, AFloodKeepsTheNewestWithinTheLimits) {
  TCookieJar jar;
  for (int i = 0; i < 10000; ++i) {
    jar.Store(false, "h.test", "/", "c" + std::to_string(i) + "=1", kNow + i);
  }
  EXPECT_EQ(jar.Size(), kMaxCookiesPerDomain);
  std::string header = jar.HeaderFor(false, "h.test", "/", kNow + 10000);
  EXPECT_EQ(header.substr(0, 9), "c9950=1; ");
  EXPECT_TRUE(header.ends_with("; c9999=1"));

  TCookieJar hosts;
  for (std::size_t i = 0; i < kMaxCookies + 500; ++i) {
    hosts.Store(false, "h" + std::to_string(i) + ".test", "/", "a=1", kNow);
  }
  EXPECT_EQ(hosts.Size(), kMaxCookies);
  EXPECT_EQ(hosts.HeaderFor(false, "h499.test", "/", kNow), "");
  EXPECT_EQ(hosts.HeaderFor(false, "h500.test", "/", kNow), "a=1");
}

TEST(CookieJar, ExpiredCookiesMakeRoomBeforeTheOldest) {
  TCookieJar jar;
  jar.Store(false, "h.test", "/", "old=1", kNow);
  for (std::size_t i = 1; i < kMaxCookiesPerDomain; ++i) {
    jar.Store(false, "h.test", "/", "s" + std::to_string(i) + "=1; Max-Age=10", kNow + 1);
  }
  jar.Store(false, "h.test", "/", "new=1", kNow + 100);
  EXPECT_EQ(jar.Size(), 2u);
  EXPECT_EQ(jar.HeaderFor(false, "h.test", "/", kNow + 100), "old=1; new=1");
}

// As curl -c writes it, with a browser export's CRLF line and a line whose
// empty value lost its last TAB.
const char kCurlFile[] =
    "# Netscape HTTP Cookie File\n"
    "# https://curl.se/docs/http-cookies.html\n"
    "# This file was generated by libcurl! Edit at your own risk.\n"
    "\n"
    "#HttpOnly_.example.com\tTRUE\t/\tFALSE\t1924992000\tsid\tabc123\n"
    "www.example.com\tFALSE\t/docs\tTRUE\t0\tpref\tdark mode\n"
    ".example.com\tTRUE\t/\tFALSE\t0\tempty\t\r\n"
    "other.test\tFALSE\t/\tFALSE\t1924992000\tnovalue\n";

TEST(CookieJar, LoadsWhatCurlWritesAndSavesItBackTheSame) {
  TCookieJar jar;
  std::istringstream in(kCurlFile);
  std::string error = "stale";
  ASSERT_TRUE(jar.Load(in, error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(jar.Size(), 4u);
  EXPECT_EQ(jar.HeaderFor(true, "www.example.com", "/docs/a", kNow),
            "pref=dark mode; sid=abc123; empty=");
  EXPECT_EQ(jar.HeaderFor(false, "www.example.com", "/docs/a", kNow), "sid=abc123; empty=");
  EXPECT_EQ(jar.HeaderFor(false, "example.com", "/", kNow), "sid=abc123; empty=");
  EXPECT_EQ(jar.HeaderFor(false, "other.test", "/", kNow), "novalue=");
  EXPECT_EQ(jar.HeaderFor(false, "x.other.test", "/", kNow), "");
  EXPECT_EQ(SavedCookies(jar),
            "#HttpOnly_.example.com\tTRUE\t/\tFALSE\t1924992000\tsid\tabc123\n"
            "www.example.com\tFALSE\t/docs\tTRUE\t0\tpref\tdark mode\n"
            ".example.com\tTRUE\t/\tFALSE\t0\tempty\t\n"
            "other.test\tFALSE\t/\tFALSE\t1924992000\tnovalue\t\n");
  EXPECT_TRUE(Saved(jar).starts_with("# Netscape HTTP Cookie File\n"));

  // The largest cookie a server can set, HttpOnly, on the longest host.
  const std::string host = std::string(250, 'h') + ".test";
  jar.Store(true, host, "/",
            "n=" + std::string(4094, 'v') + "; Domain=" + host +
                "; Secure; HttpOnly; Max-Age=9999999999; Path=/" + std::string(1023, 'p'),
            kNow);
  EXPECT_EQ(jar.Size(), 5u);

  TCookieJar again;
  std::istringstream savedIn(Saved(jar));
  ASSERT_TRUE(again.Load(savedIn, error));
  EXPECT_TRUE(Saved(again) == Saved(jar));
  // Received cookies are younger than the loaded ones.
  again.Store(false, "example.com", "/", "late=1; Domain=example.com", kNow);
  EXPECT_EQ(again.HeaderFor(false, "example.com", "/", kNow), "sid=abc123; empty=; late=1");
}

TEST(CookieJar, BadLinesAreSkippedCountedAndTheFirstNamed) {
  const std::string file = std::string(
                               "# comment\n"
                               "good.test\tFALSE\t/\tFALSE\t0\ta\t1\n"
                               "five.test\tFALSE\t/\tFALSE\t0\n"  // line 3: too few fields
                               "flag.test\tMAYBE\t/\tFALSE\t0\ta\t1\n"
                               "time.test\tFALSE\t/\tFALSE\tsoon\ta\t1\n"
                               ".com\tTRUE\t/\tFALSE\t0\ta\t1\n"
                               "path.test\tFALSE\tdocs\tFALSE\t0\ta\t1\n"
                               "many.test\tFALSE\t/\tFALSE\t0\ta\t1\textra\n"
                               "ctl.test\tFALSE\t/\tFALSE\t0\ta\tb\x01\n") +
                           "long.test\tFALSE\t/\tFALSE\t0\ta\t" + std::string(100000, 'v') + "\n" +
                           "TRUE.TEST\tTRUE\t/\tTRUE\t99\tb\t2";
  TCookieJar jar;
  std::istringstream in(file);
  std::string error;
  EXPECT_FALSE(jar.Load(in, error));
  EXPECT_EQ(error, "8 lines are no cookie and skipped, the first is line 3");
  EXPECT_EQ(SavedCookies(jar),
            "good.test\tFALSE\t/\tFALSE\t0\ta\t1\n"
            ".true.test\tTRUE\t/\tTRUE\t99\tb\t2\n");
}

TEST(CookieJar, AFileOfAnythingElseLoadsNothing) {
  std::string binary;
  for (int i = 0; i < 5000; ++i) binary += static_cast<char>((i * 131 + 7) % 256);
  for (const std::string& text : {binary, std::string("<html><body>not cookies</body></html>"),
                                  std::string(200000, '\t'), std::string("\0\0\0\n", 4)}) {
    TCookieJar jar;
    std::istringstream in(text);
    std::string error;
    EXPECT_FALSE(jar.Load(in, error));
    EXPECT_TRUE(error.find("the first is line 1") != std::string::npos) << error;
    EXPECT_EQ(jar.Size(), 0u);
  }
  TCookieJar empty;
  std::istringstream nothing("");
  std::string error;
  EXPECT_TRUE(empty.Load(nothing, error));
}

}  // namespace
