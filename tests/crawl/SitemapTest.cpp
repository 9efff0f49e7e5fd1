#include "Sitemap.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

using TAddresses = std::vector<std::string>;

constexpr std::size_t kLimit = kSitemapProtocolBytes;

// `piece`, `times` over, as one gzip member written by zlib.
std::string Gzipped(std::string_view piece, std::size_t times = 1) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out;
  char buffer[65536];
  for (std::size_t i = 0; i < times; ++i) {
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
    stream.avail_in = static_cast<uInt>(piece.size());
    do {
      stream.next_out = reinterpret_cast<Bytef*>(buffer);
      stream.avail_out = sizeof buffer;
      deflate(&stream, i + 1 == times ? Z_FINISH : Z_NO_FLUSH);
      out.append(buffer, sizeof buffer - stream.avail_out);
    } while (stream.avail_out == 0);
  }
  deflateEnd(&stream);
  return out;
}

std::string Urlset(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n" +
         entries + "</urlset>\n";
}

TEST(Sitemap, AUrlsetListsThePagesAndAnIndexTheSitemapsInAnyNamespace) {
  const TSitemap pages = ReadSitemap(
      Urlset("<url><loc>\n  http://h/a?x=1&amp;y=2 \n</loc><lastmod>2024-01-01</lastmod></url>"
             "<url><loc><![CDATA[http://h/b]]></loc></url><loc>http://h/outside-url</loc>"
             "<url><loc/></url><url><loc>http://h/\xC3\xA4\xE3\x83\x84</loc></url>"),
      kLimit);
  EXPECT_FALSE(pages.IsIndex);
  EXPECT_EQ(pages.Locations,
            (TAddresses{"http://h/a?x=1&y=2", "http://h/b", "http://h/\xE4&#12484;"}));
  EXPECT_EQ(pages.Error, "");

  const TSitemap index = ReadSitemap(
      "<sm:sitemapindex xmlns:sm=\"http://www.sitemaps.org/schemas/sitemap/0.9\">"
      "<sm:sitemap><sm:loc>http://h/1.xml.gz</sm:loc></sm:sitemap><url><loc>http://h/p</loc></url>"
      "<sitemap><loc>http://h/2.xml</loc></sitemap></sm:sitemapindex>",
      kLimit);
  EXPECT_TRUE(index.IsIndex);
  EXPECT_EQ(index.Locations, (TAddresses{"http://h/1.xml.gz", "http://h/2.xml"}));
}

TEST(Sitemap, PlainTextListsTheLinesThatAreAddresses) {
  const TSitemap sitemap = ReadSitemap(
      "\xEF\xBB\xBFhttp://h/a\r\nnot an address\n  HTTPS://h/b  \r\nftp://h/c\rhttp://h/d", kLimit);
  EXPECT_EQ(sitemap.Locations, (TAddresses{"http://h/a", "HTTPS://h/b", "http://h/d"}));
  EXPECT_EQ(sitemap.Error, "");
}

TEST(Sitemap, BrokenXmlKeepsTheAddressesBeforeTheFaultAndKeepsTheTerminalQuiet) {
  testing::internal::CaptureStderr();
  const TSitemap cut = ReadSitemap(Urlset("<url><loc>http://h/1</loc></url><url><loc>http://h/2</"
                                          "loc></url><url><loc>http://h/3</lo"),
                                   kLimit);
  EXPECT_EQ(cut.Locations, (TAddresses{"http://h/1", "http://h/2"}));
  EXPECT_TRUE(cut.Error.starts_with("XML error on line 3: ")) << cut.Error;
  const TSitemap page = ReadSitemap("<html><body><a href='http://h/'>x</a></body></html>", kLimit);
  EXPECT_EQ(page.Error, "not a sitemap: the root element is <html>");
  // Character set conversion reports through libxml2's thread-wide handlers.
  for (const char* charset : {"bogus", "ISO-2022-JP", "UTF-16"}) {
    const TSitemap sitemap =
        ReadSitemap(std::string("<?xml version=\"1.0\" encoding=\"") + charset +
                        "\"?>\n<urlset><url><loc>\x1B$B\xFF</loc></url></urlset>",
                    kLimit);
    EXPECT_NE(sitemap.Error, "") << charset;
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Sitemap, EntitiesAreNeitherPutInNorLoaded) {
  const std::string secret = testing::TempDir() + "sitemap-secret.txt";
  std::ofstream(secret) << "http://h/secret";
  std::string laughs =
      "<!DOCTYPE urlset [<!ENTITY x SYSTEM \"file://" + secret + "\">\n<!ENTITY lol0 \"lol\">\n";
  for (int i = 1; i <= 12; ++i) {
    const std::string before = "&lol" + std::to_string(i - 1) + ";";
    laughs += "<!ENTITY lol" + std::to_string(i) + " \"";
    for (int n = 0; n < 10; ++n) laughs += before;
    laughs += "\">\n";
  }
  laughs += "]>\n<urlset><url><loc>http://h/ok</loc></url>";
  for (const char* reference : {"&x;", "http://h/&lol12;"}) {
    const TSitemap sitemap = ReadSitemap(
        laughs + "<url><loc>" + reference + "</loc></url><url><loc>http://h/b</loc></url></urlset>",
        kLimit);
    EXPECT_EQ(sitemap.Locations, (TAddresses{"http://h/ok"})) << reference;
    EXPECT_NE(sitemap.Error.find("not defined"), std::string::npos) << sitemap.Error;
  }
  // After a DTD that is not loaded, a reference only spoils its own address.
  const TSitemap external = ReadSitemap("<!DOCTYPE urlset SYSTEM \"file://" + secret +
                                            "\"><urlset><url><loc>http://h/&e;</loc>"
                                            "</url><url><loc>http://h/ok</loc></url></urlset>",
                                        kLimit);
  EXPECT_EQ(external.Locations, (TAddresses{"http://h/ok"}));
  EXPECT_EQ(external.Error, "");
}

TEST(Sitemap, GzipIsReadMemberByMemberUpToAFault) {
  const std::string xml =
      Urlset("<url><loc>http://h/1</loc></url><url><loc>http://h/2</loc></url>");
  EXPECT_EQ(ReadSitemap(Gzipped(xml), kLimit).Locations, (TAddresses{"http://h/1", "http://h/2"}));
  const TSitemap members = ReadSitemap(Gzipped("http://h/a\nhttp://") + Gzipped("h/b\n"), kLimit);
  EXPECT_EQ(members.Locations, (TAddresses{"http://h/a", "http://h/b"}));
  EXPECT_EQ(members.Error, "");

  const std::string lines = Gzipped("http://h/a\n", 10000);
  const TSitemap cut = ReadSitemap(lines.substr(0, lines.size() - 30), kLimit);
  EXPECT_EQ(cut.Error, "the gzip data is cut short");
  EXPECT_GT(cut.Locations.size(), 9000u);
  std::string broken = lines;
  broken[20] ^= 0x55;
  EXPECT_TRUE(ReadSitemap(broken, kLimit).Error.starts_with("broken gzip data")) << broken;
}

TEST(Sitemap, DecodingStopsAtTheLimit) {
  const std::string lines = Gzipped("http://h/a\n", 1'000'000);
  const TSitemap first = ReadSitemap(lines, 115);
  EXPECT_EQ(first.Locations, TAddresses(10, "http://h/a"));
  EXPECT_EQ(first.Error, "the sitemap is larger than 115 bytes; only those were read");
  EXPECT_EQ(ReadSitemap(Gzipped("http://h/a\n", 10), 110).Error, "");
  // 64 MiB of zeros in 64 KiB.
  const TSitemap bomb = ReadSitemap(Gzipped(std::string(1 << 20, '\0'), 64), 1 << 20);
  EXPECT_TRUE(bomb.Locations.empty());
  EXPECT_NE(bomb.Error, "");
  const TSitemap plain = ReadSitemap("http://h/a\nhttp://h/b\n", 15);
  EXPECT_EQ(plain.Locations, TAddresses{"http://h/a"});
  EXPECT_NE(plain.Error, "");
}

TEST(Sitemap, AtMost50000AddressesAreKept) {
  std::string entries;
  for (std::size_t i = 0; i < kMaxSitemapLocations; ++i) {
    entries += "<url><loc>http://h/" + std::to_string(i) + "</loc></url>\n";
  }
  const TSitemap full = ReadSitemap(Urlset(entries), kLimit);
  EXPECT_EQ(full.Locations.size(), kMaxSitemapLocations);
  EXPECT_EQ(full.Error, "");
  const TSitemap over = ReadSitemap(Urlset(entries + "<url><loc>http://h/x</loc></url>"), kLimit);
  EXPECT_EQ(over.Locations.size(), kMaxSitemapLocations);
  EXPECT_EQ(over.Locations.back(), "http://h/49999");
  EXPECT_EQ(over.Error, "the sitemap lists more than 50000 addresses; the rest were left out");
}

}  // namespace
