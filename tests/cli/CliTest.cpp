// tirasel-cli as a user runs it: a child process against a loopback site,
// with its standard input, output and error captured.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "CharsetSite.h"
#include "CliProcess.h"
#include "FixtureSite.h"
#include "HttpsFixtureSite.h"
#include "NginxServer.h"
#include "TinyProxy.h"
#include "SiteServer.h"
#include "TempDir.h"
#include "TlsCertificates.h"
#include "TlsErrors.h"

namespace {

using testpeer::SiteServer;
using Pages = std::map<std::string, std::string>;
using clitest::Result;
using clitest::RunCli;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

Pages Site() {
  return {{"/s/index.html",
           "<p>Hallo Welt</p><a href=\"two.html\">zwei</a><a href=\"/other/x.html\">fremd</a>"},
          {"/s/two.html", "<p>Zweite Seite, sch&ouml;n</p>"},
          {"/other/x.html", "<p>Ausland</p>"}};
}

TEST(Cli, UsageErrorsAndHelp) {
  Result none = RunCli({});
  EXPECT_EQ(none.status, 2);
  EXPECT_TRUE(Contains(none.err, "Usage: tirasel-cli"));
  EXPECT_EQ(RunCli({"--bogus", "http://x/"}).status, 2);
  EXPECT_EQ(RunCli({"--output"}).status, 2);
  EXPECT_EQ(RunCli({"http://a/", "http://b/"}).status, 2);
  Result help = RunCli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Contains(help.out, "--proxy HOST[:PORT]"));
}

TEST(Cli, ALineBreakInAHeaderValueEndsTheRunBeforeTheFirstRequest) {
  SiteServer site(Site());
  Result run = RunCli({"--user-agent", "x\r\nX-Injected: 1", site.Root() + "s/index.html"});
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(Contains(run.err, "tirasel-cli: --user-agent: ")) << run.err;
  EXPECT_EQ(site.Requested(), std::vector<std::string>{});
}

TEST(Cli, CrawlsInAutomaticModeAndWritesTheListAsTheWindowSavesIt) {
  SiteServer site(Site());
  Result run = RunCli({"--encoding", "windows-1252", site.Root() + "s/index.html"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Hallo\r\nWelt\r\nzwei\r\nfremd\r\nZweite\r\nSeite\r\nsch\xF6n\r\n");
  EXPECT_TRUE(Contains(run.err, site.Root() + "s/index.html\n" + site.Root() + "s/two.html\n"));
  EXPECT_TRUE(Contains(run.err, "Done! (2 html files found...)...\n"));
  EXPECT_FALSE(Contains(run.err, "weiterverfolgt"));
}

TEST(Cli, AskFollowsTheAnswersFromTheTerminal) {
  SiteServer site(Site());
  Result yes = RunCli({"--ask", site.Root() + "s/index.html"}, "y\n");
  EXPECT_EQ(yes.status, 0);
  EXPECT_TRUE(
      Contains(yes.err, "Soll der Link zu \"" + site.Root() + "\" weiterverfolgt werden? [y/n]"));
  EXPECT_TRUE(Contains(yes.out, "Ausland\n"));

  Result no = RunCli({"--ask", site.Root() + "s/index.html"}, "n\n");
  EXPECT_FALSE(Contains(no.out, "Ausland"));
  Result silent = RunCli({"--ask", site.Root() + "s/index.html"});  // no answer at all counts as No
  EXPECT_EQ(silent.status, 0);
  EXPECT_FALSE(Contains(silent.out, "Ausland"));
}

TEST(Cli, ListFileIsContinuedAndOutputFileWritten) {
  SiteServer site(Site());
  TTempDir dir;
  dir.Write("list.txt", "welt\r\nalt\r\n");
  Result run = RunCli({"--list", dir.Path("list.txt"), "--output", dir.Path("out.txt"),
                       "--encoding", "Windows-1252", site.Root() + "s/two.html"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(dir.Read("out.txt"), "welt\r\nalt\r\nZweite\r\nSeite\r\nsch\xF6n\r\n");
  // The same list in UTF-8, read back by --list and continued.
  Result utf8 = RunCli({"--list", dir.Path("list.txt"), "--output", dir.Path("out8.txt"),
                        site.Root() + "s/two.html"});
  EXPECT_EQ(utf8.status, 0) << utf8.err;
  EXPECT_EQ(dir.Read("out8.txt"), "welt\nalt\nZweite\nSeite\nsch\xC3\xB6n\n");
  Result again = RunCli({"--list", dir.Path("out8.txt"), site.Root() + "s/two.html"});
  EXPECT_EQ(again.out, "welt\nalt\nZweite\nSeite\nsch\xC3\xB6n\n");

  EXPECT_EQ(RunCli({"--list", dir.Path("missing.txt"), site.Root() + "s/two.html"}).status, 2);
}

// Its own UTF-8 output of ASCII words only has no CR and no multi-byte
// character: the LFs still end its lines.
TEST(Cli, AnAsciiListWithLineFeedsIsReadAsItsLines) {
  SiteServer site(Site());
  TTempDir dir;
  dir.Write("list.txt", "welt\nalt\n");
  Result run = RunCli({"--list", dir.Path("list.txt"), site.Root() + "s/two.html"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "welt\nalt\nZweite\nSeite\nsch\xC3\xB6n\n");
}

TEST(Cli, MaxPageSizeTurnsLargerPagesIntoFailedFetches) {
  SiteServer site(Pages{{"/1.html", "<p>klein</p><a href=2.html>2</a>"},
                        {"/2.html", "<p>gross " + std::string(3000, 'x') + "</p>"}});
  Result run = RunCli({"--max-page-size", "1000", site.Root() + "1.html"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "klein\n2\n");
  EXPECT_TRUE(Contains(run.err, site.Root() + "2.html\nHTTP Fehler: 6\nError...\n")) << run.err;
  EXPECT_TRUE(Contains(run.err, "Done! (1 html files found...)...\n"));

  Result unlimited = RunCli({"--max-page-size", "0", site.Root() + "1.html"});
  EXPECT_TRUE(Contains(unlimited.out, "gross\n"));
  EXPECT_EQ(RunCli({"--max-page-size", "1k", site.Root() + "1.html"}).status, 2);
  EXPECT_EQ(RunCli({"--max-page-size"}).status, 2);
}

TEST(Cli, CtrlCEndsTheRunAndKeepsTheWordsSoFar) {
  SiteServer site(Pages{{"/1.html", "<p>erste</p><a href=2.html>2</a><a href=3.html>3</a>"},
                        {"/3.html", "<p>dritte</p>"}},
                  "/2.html");
  bool sent = false;
  Result run = RunCli({site.Root() + "1.html"}, "", [&](const std::string& err) {
    if (sent || !Contains(err, "/2.html\n")) return 0;
    sent = true;
    return SIGINT;
  });
  site.Release();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "erste\n2\n3\n");
  EXPECT_TRUE(Contains(run.err, "Error...\n"));
  EXPECT_TRUE(Contains(run.err, "Done! (1 html files found...)...\n"));
  EXPECT_FALSE(Contains(run.err, "/3.html"));
}

// A page whose data keeps coming as fast as the connection takes it (an
// endless body, endless header lines) must not keep Ctrl+C from acting.
TEST(Cli, CtrlCEndsARunWhilePageDataKeepsArriving) {
  for (testpeer::TFlood kind : {testpeer::TFlood::Body, testpeer::TFlood::HeaderLines}) {
    SiteServer site(Pages{{"/1.html", "<p>erste</p><a href=flood.html>f</a><a href=3.html>3</a>"},
                          {"/3.html", "<p>dritte</p>"}});
    site.Flood("/flood.html", kind);
    TTempDir dir;
    // The server itself sends Ctrl+C once 1 MiB is out, so the program is
    // busy with the flood when it comes, however loaded the machine is.
    std::atomic<pid_t> child{0};
    site.WhenFloodedOnServer(std::int64_t{1} << 20, [&] {
      for (int i = 0; i < 1000 && child.load() == 0; ++i)
        ::usleep(10'000);  // the parent's fork has returned
      if (child.load() > 0) ::kill(child.load(), SIGINT);
    });
    Result run = RunCli({"--output", dir.Path("out.txt"), site.Root() + "1.html"}, "", nullptr,
                        false, [&](pid_t pid) { child = pid; });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(dir.Read("out.txt"), "erste\nf\n3\n");
    EXPECT_TRUE(Contains(run.err, "HTTP Fehler: 3\nError...\n")) << run.err;
    EXPECT_TRUE(Contains(run.err, "Done! (1 html files found...)...\n"));
    EXPECT_TRUE(testpeer::WaitUntil([&] { return site.FloodCutOff(); })) << site.FloodSent();
    EXPECT_LT(site.FloodSent(), SiteServer::kFloodLimit);
  }
}

// The first Ctrl+C comes while a question waits for its answer: as with
// "Abbrechen", the page is processed to its end, questions included, so the
// run goes on. The second ends it at once and still writes the words and
// the cookies so far.
TEST(Cli, ASecondCtrlCEndsAtOnceAndStillWritesTheWords) {
  SiteServer site(Site());
  TTempDir dir;
  int sent = 0;
  auto interrupt = [&](const std::string& err) {
    const bool next = (sent == 0 && Contains(err, "weiterverfolgt werden? [y/n] ")) ||
                      (sent == 1 && Contains(err, "Ctrl+C again ends at once"));
    if (!next) return 0;
    ++sent;
    return SIGINT;
  };
  const std::vector<std::string> args = {"--ask", "--output", dir.Path("out.txt"),
                                         "--save-cookies", dir.Path("jar.txt"),
                                         site.Root() + "s/index.html"};
  Result run = RunCli(args, "", interrupt, true);
  EXPECT_EQ(sent, 2);
  EXPECT_EQ(run.status, 0) << run.err;
  // The question came at the link whose text is "fremd".
  EXPECT_EQ(dir.Read("out.txt"), "Hallo\nWelt\nzwei\n");
  EXPECT_TRUE(dir.Read("jar.txt").starts_with("# Netscape HTTP Cookie File"));
  EXPECT_FALSE(Contains(run.err, "Done!"));
}

TEST(Cli, CrawlsTheNginxSiteThroughTinyproxy) {
  testsupport::NginxServer web;
  for (const auto& [path, body] : testsite::FixtureSite()) web.AddFile(path, body);
  web.Start();
  testsupport::TinyProxy proxy;
  proxy.Start();
  Result run = RunCli({"--proxy", proxy.HostPort(), web.Url("/a/index.html")});
  EXPECT_EQ(run.status, 0) << run.err;
  std::string expectedLog;
  for (const char* path : testsite::kAutomaticOrder) {
    expectedLog += web.Url("/") + path + "\n";
    if (std::string(path) == "a/missing.html") expectedLog += "Error...\n";
  }
  EXPECT_EQ(run.err, expectedLog + "Done! (7 html files found...)...\n");
  EXPECT_TRUE(Contains(run.out, "\nRahmen\n"));
  EXPECT_TRUE(Contains(run.out,
                       "\nzur\xC3\xBC"
                       "ck\n"));
}

TEST(Cli, WritesUtf8ByDefaultAndWindows1252OnRequest) {
  testsupport::NginxServer web;
  testsite::ServeCharsetPages(web);
  web.Start();
  const std::string german =
      "Seite\nWir\nk\xC3\xB6nnen\ndie\nStra\xC3\x9F"
      "e\nnicht\n\xC3\xBC"
      "berm\xC3\xA4\xC3\x9Fig\n"
      "sperren\nsagen\nB\xC3\xA4ren\n\xE2\x80\x9Eheute\xE2\x80\x9C\nf\xC3\xBCr\n5\n\xE2\x82\xAC\n";
  for (const char* page : {"/kopf.html", "/meta.html", "/roh.html", "/latin1.html", "/ohne.html"}) {
    Result run = RunCli({web.Url(page)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, german) << page;
  }
  // Characters outside Windows-1252 come out as themselves in UTF-8 and as
  // "&#N;" in the window's format.
  Result foreign = RunCli({web.Url("/fremd.html")});
  EXPECT_TRUE(Contains(foreign.out, "\n" + testsite::kForeignUtf8.substr(0, 6) + "\n"));
  Result cp1252 = RunCli({"--encoding", "windows-1252", web.Url("/fremd.html")});
  EXPECT_TRUE(Contains(cp1252.out, "\r\nk\xF6nnen\r\n"));
  EXPECT_TRUE(Contains(cp1252.out, "\r\n&#1084;&#1080;&#1088;\r\n&#26085;&#26412;\r\n"));
  EXPECT_EQ(RunCli({"--encoding", "latin-9", web.Url("/ohne.html")}).status, 2);
}

TEST(Cli, LogLinesAndQuestionsFollowTheEncoding) {
  SiteServer site(
      Pages{{"/s/index.html",
             "<a href=\"m\xFCll.html\">x</a> <a href=\"http://127.0.0.2/\xE4/y.html\">y</a>"}});
  Result utf8 = RunCli({"--ask", site.Root() + "s/index.html"}, "n\n");
  EXPECT_TRUE(Contains(utf8.err, site.Root() + "s/m\xC3\xBCll.html\n"));
  EXPECT_TRUE(Contains(
      utf8.err, "Soll der Link zu \"http://127.0.0.2/\xC3\xA4/\" weiterverfolgt werden? [y/n]"));
  Result cp1252 =
      RunCli({"--ask", "--encoding", "windows-1252", site.Root() + "s/index.html"}, "n\n");
  EXPECT_TRUE(Contains(cp1252.err, site.Root() + "s/m\xFCll.html\n"));
  EXPECT_TRUE(Contains(cp1252.err,
                       "Soll der Link zu \"http://127.0.0.2/\xE4/\" weiterverfolgt werden? [y/n]"));
  // The request went out percent-encoded.
  EXPECT_EQ(site.Requested().at(1), "/s/m%C3%BCll.html");
}

// The log a run in automatic mode writes for the fixture site under root.
std::string FixtureLog(const std::string& root) {
  std::string log;
  for (const char* path : testsite::kAutomaticOrder) {
    log += root + path + "\n";
    if (std::string(path) == "a/missing.html") log += "Error...\n";
  }
  return log + "Done! (7 html files found...)...\n";
}

TEST(Cli, HarvestsAnHttpsSiteDirectlyThroughTinyproxyAndFromAPlainSiteRelocatingToIt) {
  testsupport::NginxServer web;
  testsite::StartHttpsFixtureSite(web);
  testsupport::TinyProxy proxy;
  proxy.AllowConnectTo(web.TlsPort());
  proxy.Start();
  const std::string ca = testsupport::TestCertificates::Shared().CaFile().string();

  Result plain = RunCli({"--ca-file", ca, web.Url("/a/index.html")});
  Result direct = RunCli({"--ca-file", ca, web.TlsUrl("/a/index.html")});
  Result tunnelled =
      RunCli({"--ca-file", ca, "--proxy", proxy.HostPort(), web.TlsUrl("/a/index.html")});
  // Every address of the plain site relocates to https: after the start
  // page, the run goes on from the https addresses its links resolve to.
  const std::string start = web.Url("/a/index.html") + "\n";
  const std::string tlsLog = FixtureLog(web.TlsUrl("/"));
  EXPECT_EQ(plain.err, start + tlsLog.substr(tlsLog.find('\n') + 1));
  EXPECT_EQ(direct.err, FixtureLog(web.TlsUrl("/")));
  EXPECT_EQ(tunnelled.err, FixtureLog(web.TlsUrl("/")));
  for (const Result* run : {&plain, &direct, &tunnelled}) {
    EXPECT_EQ(run->status, 0) << run->err;
    EXPECT_TRUE(Contains(run->out, "\nRahmen\n"));
    EXPECT_TRUE(Contains(run->out,
                         "\nzur\xC3\xBC"
                         "ck\n"));
  }
  EXPECT_EQ(direct.out, plain.out);
  EXPECT_EQ(tunnelled.out, plain.out);
}

TEST(Cli, ABadCertificateEndsThePageUnlessInsecure) {
  const auto& certs = testsupport::TestCertificates::Shared();
  testsupport::NginxServer web;
  web.AddFile("/p.html", "<p>Geheim</p>");
  web.UseTls(certs.SelfSigned().cert, certs.SelfSigned().key);
  web.Start();
  Result strict = RunCli({web.TlsUrl("/p.html")});
  EXPECT_EQ(strict.err, web.TlsUrl("/p.html") +
                            "\nHTTP Fehler: " + std::to_string(TlsCertificateSelfSigned) +
                            "\nError...\nDone! (0 html files found...)...\n");
  Result insecure = RunCli({"--insecure", web.TlsUrl("/p.html")});
  EXPECT_EQ(insecure.err, web.TlsUrl("/p.html") + "\nDone! (1 html files found...)...\n");
  EXPECT_EQ(insecure.out, "Geheim\n");
  EXPECT_EQ(RunCli({"--ca-file"}).status, 2);
}

}  // namespace

TEST(Cli, AListThatIsNoRegularFileIsRefusedAndWriteErrorsNameTheFile) {
  SiteServer site(Site());
  TTempDir dir;
  ASSERT_EQ(::mkfifo(dir.Path("pipe").c_str(), 0600), 0);
  for (const std::string& list : {std::string("/dev/zero"), dir.Path("pipe")}) {
    Result run =
        RunCli({"--list", list, "--output", dir.Path("out.txt"), site.Root() + "s/two.html"});
    EXPECT_EQ(run.status, 2) << list << run.err;
    EXPECT_TRUE(Contains(run.err, "cannot open the list file " + list)) << run.err;
  }
  EXPECT_FALSE(dir.Exists("out.txt"));
  const std::string output = dir.Path("no/such/dir/out.txt");
  Result unwritable = RunCli({"--output", output, site.Root() + "s/two.html"});
  EXPECT_TRUE(Contains(unwritable.err, output + ": No such file or directory")) << unwritable.err;
}

// Each output is tried before the first request: a long run must not end
// in "cannot write" with every word lost.
TEST(Cli, AnOutputThatCannotBeWrittenEndsTheRunBeforeTheFirstRequest) {
  SiteServer site(Site());
  TTempDir dir;
  dir.Write("sub/list.txt", "");
  ASSERT_EQ(::mkfifo(dir.Path("pipe").c_str(), 0600), 0);
  struct Row {
    std::vector<std::string> args;
    std::string named;  // the file the message names, and why
  };
  const std::vector<Row> rows = {
      {{"--output", dir.Path("no/such/out.txt")},
       dir.Path("no/such/out.txt") + ": No such file or directory"},
      {{"--output", dir.Path("sub")}, "the word list " + dir.Path("sub") + ": Is a directory"},
      // Nobody reads the pipe: waiting for a reader could last for ever.
      {{"--emails", dir.Path("pipe")},
       "the e-mail addresses " + dir.Path("pipe") + ": No such device or address"},
      // The word list could be written, the addresses not; nothing is left of the first check.
      {{"--output", dir.Path("sub/out.txt"), "--emails", dir.Path("sub/no/mail.txt")},
       dir.Path("sub/no/mail.txt") + ": No such file or directory"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = row.args;
    args.push_back(site.Root() + "s/index.html");
    Result run = RunCli(args);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(run.err, "tirasel-cli: cannot write ")) << run.err;
    EXPECT_TRUE(Contains(run.err, row.named)) << run.err;
  }
  EXPECT_EQ(site.Requested(), std::vector<std::string>{});
  auto names = std::filesystem::directory_iterator(dir.Path("sub"));
  EXPECT_EQ(std::distance(names, {}), 1);  // list.txt alone
}

// What a pipe brings until its writer closes it; bounded by 30 s.
std::string ReadPipeToItsEnd(int fd) {
  std::string bytes;
  for (int round = 0; round < 300; ++round) {
    pollfd ready = {fd, POLLIN, 0};
    if (::poll(&ready, 1, 100) <= 0) continue;  // no writer yet, or nothing new
    char buffer[4096];
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  return bytes;
}

// A pipe is written in place, through the descriptor that its check opened:
// opening it again would first close it, and its reader would take that
// for the end.
TEST(Cli, APipeWithAReaderGetsTheWholeList) {
  SiteServer site(Site());
  TTempDir dir;
  ASSERT_EQ(::mkfifo(dir.Path("pipe").c_str(), 0600), 0);
  int reader = ::open(dir.Path("pipe").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  std::string received;
  std::thread drain([&] { received = ReadPipeToItsEnd(reader); });
  Result run = RunCli({"--output", dir.Path("pipe"), site.Root() + "s/two.html"});
  drain.join();
  ::close(reader);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(received, "Zweite\nSeite\nsch\xC3\xB6n\n");
}
