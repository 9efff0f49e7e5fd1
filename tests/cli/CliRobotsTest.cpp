// tirasel-cli --robots and --sitemap against nginx: a robots.txt with a
// group for Tirasel and one for everybody, wildcards and "$", and sitemaps
// (a plain one, an index, a gzip-compressed one) it names.
#include <gtest/gtest.h>

#include <string>

#include "CliProcess.h"
#include "CompressedText.h"
#include "NginxServer.h"

namespace {

using clitest::Result;
using clitest::RunCli;

struct MannersSite {
  MannersSite() {
    web.AddFile("/a/index.html",
                "<p>Start</p><a href=\"private1.html\">x</a><a href=\"private-ok.html\">x</a>"
                "<a href=\"secret.html\">x</a><a href=\"open.html\">x</a>");
    web.AddFile("/a/private1.html", "<p>Privat</p>");
    web.AddFile("/a/private-ok.html", "<p>Erlaubt</p>");
    web.AddFile("/a/secret.html", "<p>Geheim</p>");
    web.AddFile("/a/open.html", "<p>Offen</p>");
    web.AddFile("/a/map1.html", "<p>Karte</p>");
    web.AddFile("/a/map2.html", "<p>Gepackt</p>");
    web.AddFile("/b/other.html", "<p>Anderswo</p>");
    web.Start();
    const std::string root = web.Url("");
    web.AddFile("/robots.txt",
                "User-agent: *\nDisallow: /a/secret\n\n"
                "User-agent: Tirasel\nDisallow: /a/private*.html$\nAllow: /a/private-ok.html\n"
                "Sitemap: " + root + "/maps/index.xml\n");
    const std::string urlset = "<?xml version=\"1.0\"?>"
                               "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">";
    web.AddFile("/sitemap.xml", urlset + "<url><loc>" + root + "/a/map1.html</loc></url>"
                                "<url><loc>" + root + "/b/other.html</loc></url></urlset>");
    web.AddFile("/maps/index.xml",
                "<sitemapindex xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">"
                "<sitemap><loc>" + root + "/maps/part.xml.gz</loc></sitemap></sitemapindex>");
    web.AddFile("/maps/part.xml.gz",
                testsupport::Gzip(urlset + "<url><loc> " + root + "/a/map2.html </loc></url>"
                                  "<url><loc>" + root + "/a/private1.html</loc></url></urlset>"));
  }
  testsupport::NginxServer web;
};

TEST(CliRobots, DisallowedAddressesAreLoggedOnceAndLeftOut) {
  MannersSite site;
  const std::string start = site.web.Url("/a/index.html");
  EXPECT_EQ(RunCli({start}).out, "Start\nx\nPrivat\nErlaubt\nGeheim\nOffen\n");
  const Result obeyed = RunCli({"--robots", start});
  EXPECT_EQ(obeyed.status, 0) << obeyed.err;
  // The group for Tirasel holds; the one for everybody does not.
  EXPECT_EQ(obeyed.out, "Start\nx\nErlaubt\nGeheim\nOffen\n");
  const std::string forbids = "robots.txt forbids " + site.web.Url("/a/private1.html") + "\n";
  const size_t at = obeyed.err.find(forbids);
  EXPECT_NE(at, std::string::npos) << obeyed.err;
  EXPECT_EQ(obeyed.err.find(forbids, at + 1), std::string::npos);
}

TEST(CliRobots, SitemapsQueueTheirAddressesThroughTheLinkRules) {
  MannersSite site;
  const std::string start = site.web.Url("/a/index.html");
  const Result mapped = RunCli({"--sitemap", start});
  EXPECT_EQ(mapped.status, 0) << mapped.err;
  // After the start: /sitemap.xml, then the index robots.txt names and its
  // compressed sitemap; /b/ lies off the start directory.
  EXPECT_EQ(mapped.out, "Start\nx\nKarte\nGepackt\nPrivat\nErlaubt\nGeheim\nOffen\n");
  EXPECT_EQ(RunCli({"--sitemap", "--scope", "host", start}).out,
            "Start\nx\nKarte\nAnderswo\nGepackt\nPrivat\nErlaubt\nGeheim\nOffen\n");
  EXPECT_EQ(RunCli({"--sitemap", "--robots", start}).out,
            "Start\nx\nKarte\nGepackt\nErlaubt\nGeheim\nOffen\n");
}

}  // namespace
