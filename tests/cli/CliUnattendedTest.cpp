// The options for unattended runs of tirasel-cli, each against loopback
// servers: nginx for real sites, small scripted servers for stalls.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "NginxServer.h"
#include "TempDirectory.h"
#include "TinyProxy.h"
#include "SiteServer.h"
#include "TempDir.h"

namespace {

using clitest::Result;

// These runs compare lists in the window's format (Windows-1252, CR LF).
Result RunCli(std::vector<std::string> args, const std::string& input = "",
              const std::function<int(const std::string&)>& onError = nullptr) {
  args.insert(args.begin(), {"--encoding", "windows-1252"});
  return clitest::RunCli(args, input, onError);
}
using Pages = std::map<std::string, std::string>;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// nginx serving the pages.
struct NginxSite {
  explicit NginxSite(const Pages& pages) {
    for (const auto& [path, body] : pages) web.AddFile(path, body);
    web.Start();
  }
  testsupport::NginxServer web;
};

// The addresses a run logged as it took them into work, in order.
std::vector<std::string> FetchLog(const std::string& err, const std::string& root) {
  std::vector<std::string> fetched;
  for (size_t at = err.find(root); at != std::string::npos; at = err.find(root, at + 1)) {
    if (at != 0 && err[at - 1] != '\n') continue;
    fetched.push_back(err.substr(at + root.size(), err.find('\n', at) - at - root.size()));
  }
  return fetched;
}

using Strings = std::vector<std::string>;

// ---------------------------------------------------------------------------
// What to write

// Harvested in this order: Haus (3 times in all), Baum (3), (Klammer), Frage?,
// 2024, R2D2, ÄRGER (2, once as ärger), Stra&#8364;e, Zug (2), Zwei.
Pages WordSite() {
  return {
      {"/w/index.html",
       "<p>Haus haus Baum (Klammer) Frage? 2024 R2D2 &#196;RGER &#228;rger Stra&#8364;e Zug.</p>"
       "<a href=\"two.html\">Zwei</a>"},
      {"/w/two.html", "<p>Baum baum Zug Haus</p>"}};
}

TEST(CliOutput, FiltersAndCountsCompareWithTheExpectedLists) {
  NginxSite site(WordSite());
  auto run = [&](std::vector<std::string> args) {
    args.push_back(site.web.Url("/w/index.html"));
    Result result = RunCli(args);
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
  };
  const std::string plain =
      "Haus\r\nBaum\r\n(Klammer)\r\nFrage?\r\n2024\r\nR2D2\r\n\xC4RGER\r\nStra&#8364;"
      "e\r\nZug\r\nZwei\r\n";
  EXPECT_EQ(run({}), plain);
  EXPECT_EQ(run({"--count"}),
            "Haus, 3\r\nBaum, 3\r\n\xC4RGER, 2\r\nZug, 2\r\n(Klammer), 1\r\nFrage?, 1\r\n2024, "
            "1\r\nR2D2, 1\r\n"
            "Stra&#8364;e, 1\r\nZwei, 1\r\n");
  EXPECT_EQ(run({"--lowercase"}),
            "haus\r\nbaum\r\n(klammer)\r\nfrage?\r\n2024\r\nr2d2\r\n\xE4rger\r\nstra&#8364;"
            "e\r\nzug\r\nzwei\r\n");
  EXPECT_EQ(run({"--no-numbers"}),
            "Haus\r\nBaum\r\n(Klammer)\r\nFrage?\r\n\xC4RGER\r\nStra&#8364;e\r\nZug\r\nZwei\r\n");
  EXPECT_EQ(run({"--strip-punctuation"}),
            "Haus\r\nBaum\r\nKlammer\r\nFrage\r\n2024\r\nR2D2\r\n\xC4RGER\r\nStra&#8364;"
            "e\r\nZug\r\nZwei\r\n");
  // Stra&#8364;e is six characters in twelve bytes.
  EXPECT_EQ(run({"--min-length", "6"}), "(Klammer)\r\nFrage?\r\nStra&#8364;e\r\n");
  EXPECT_EQ(
      run({"--max-length=6"}),
      "Haus\r\nBaum\r\nFrage?\r\n2024\r\nR2D2\r\n\xC4RGER\r\nStra&#8364;e\r\nZug\r\nZwei\r\n");
  // The crossword maker's recipe.
  EXPECT_EQ(run({"--strip-punctuation", "--no-numbers"}),
            "Haus\r\nBaum\r\nKlammer\r\nFrage\r\n\xC4RGER\r\nStra&#8364;e\r\nZug\r\nZwei\r\n");
  EXPECT_EQ(run({"--count", "--lowercase", "--min-length", "5"}),
            "\xE4rger, 2\r\n(klammer), 1\r\nfrage?, 1\r\nstra&#8364;e, 1\r\n");
}

TEST(CliOutput, LowercaseWritesEachFoldedWordOnceAndCountsIncludeWordsTheListHad) {
  NginxSite site(Pages{{"/index.html", "<p>Wort wort neu</p>"}});
  TTempDir dir;
  dir.Write("list.txt", "Wort\r\nWORT\r\nalt\r\n");
  Result plain = RunCli({"--list", dir.Path("list.txt"), site.web.Url("/index.html")});
  EXPECT_EQ(plain.out, "Wort\r\nWORT\r\nalt\r\nneu\r\n");
  Result lower =
      RunCli({"--list", dir.Path("list.txt"), "--lowercase", site.web.Url("/index.html")});
  EXPECT_EQ(lower.out, "wort\r\nalt\r\nneu\r\n");
  Result count = RunCli({"--list", dir.Path("list.txt"), "--count", site.web.Url("/index.html")});
  EXPECT_EQ(count.out, "Wort, 2\r\nneu, 1\r\nalt, 0\r\n");
}

TEST(CliOutput, SkipCodeLeavesOutScriptsStylesAndComments) {
  NginxSite site(
      Pages{{"/index.html",
             "<p>Sichtbar</p><script>var geheimnis = 1;</script><style>p { farbe: rot }</style>"
             "<!-- a > b kommentarwort --><p>Danach Ende</p>"}});
  Result plain = RunCli({site.web.Url("/index.html")});
  EXPECT_TRUE(Contains(plain.out, "\r\ngeheimnis\r\n"));
  EXPECT_TRUE(Contains(plain.out, "\r\nfarbe:\r\n"));
  EXPECT_TRUE(Contains(plain.out, "\r\nkommentarwort\r\n"));
  EXPECT_EQ(RunCli({"--skip-code", site.web.Url("/index.html")}).out,
            "Sichtbar\r\nDanach\r\nEnde\r\n");
  // The pentester's recipe.
  EXPECT_EQ(
      RunCli({"--min-length", "5", "--lowercase", "--skip-code", site.web.Url("/index.html")}).out,
      "sichtbar\r\ndanach\r\n");
}

TEST(CliOutput, EmailsFromMailtoLinksAndTextEachOnce) {
  NginxSite site(Pages{
      {"/index.html",
       "<a href=\"MAILTO:Info@Example.org?subject=Hallo\">Post</a>"
       "<p>Schreiben Sie an anna.b@firma.de. oder (kontakt@firma.de) oder INFO@example.org,</p>"
       "<p>kein@ a@b @firma.de x@-y.de</p><a href=\"two.html\">2</a>"},
      {"/two.html", "<p>auch&#64;zwei.example.com</p><a href=\"mailto:anna.b@FIRMA.de\">A</a>"}});
  TTempDir dir;
  Result run = RunCli({"--emails", dir.Path("mail.txt"), site.web.Url("/index.html")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dir.Read("mail.txt"),
            "Info@Example.org\r\nanna.b@firma.de\r\nkontakt@firma.de\r\nauch@zwei.example.com\r\n");
  // The word list is the one a run without the option writes.
  EXPECT_EQ(run.out, RunCli({site.web.Url("/index.html")}).out);

  Result unwritable =
      RunCli({"--emails", dir.Path("no/dir/mail.txt"), site.web.Url("/index.html")});
  EXPECT_EQ(unwritable.status, 2);  // found before the run
  EXPECT_TRUE(Contains(unwritable.err, "cannot write the e-mail addresses"));
}

// ---------------------------------------------------------------------------
// What to crawl

// start -> a1, a2; a1 -> b1; b1 -> c1 (and back to the start).
Pages Tree() {
  return {{"/t/index.html", "<p>null</p><a href=\"a1.html\">x</a><a href=\"a2.html\">x</a>"},
          {"/t/a1.html", "<p>eins</p><a href=\"b1.html\">x</a><a href=\"index.html\">x</a>"},
          {"/t/a2.html", "<p>eins</p>"},
          {"/t/b1.html", "<p>zwei</p><a href=\"c1.html\">x</a>"},
          {"/t/c1.html", "<p>drei</p>"}};
}

TEST(CliCrawl, DepthLimitsTheStepsFromTheStartPage) {
  NginxSite site(Tree());
  const std::string root = site.web.Url("/t/");
  auto fetched = [&](std::vector<std::string> args) {
    args.push_back(root + "index.html");
    Result run = RunCli(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return FetchLog(run.err, root);
  };
  EXPECT_EQ(fetched({"--depth", "0"}), (Strings{"index.html"}));
  EXPECT_EQ(fetched({"--depth", "1"}), (Strings{"index.html", "a1.html", "a2.html"}));
  EXPECT_EQ(fetched({"--depth=2"}), (Strings{"index.html", "a1.html", "a2.html", "b1.html"}));
  EXPECT_EQ(fetched({}), (Strings{"index.html", "a1.html", "a2.html", "b1.html", "c1.html"}));
  Result stats = RunCli({"--depth", "1", "--stats", root + "index.html"});
  EXPECT_TRUE(Contains(
      stats.err, "\npages fetched: 3\npages failed: 0\npages skipped by filters: 1\nwords: 3\n"))
      << stats.err;
}

TEST(CliCrawl, IncludeAndExcludePatternsFilterTheQueue) {
  NginxSite site(Pages{
      {"/s/index.html",
       "<a href=\"keep1.html\">k</a><a href=\"skip_me.html\">s</a><a href=\"sub/keep2.html\">k</a>"
       "<a href=\"other.html\">o</a>"},
      {"/s/keep1.html", "<p>eins</p>"},
      {"/s/skip_me.html", "<p>nein</p>"},
      {"/s/sub/keep2.html", "<p>zwei</p>"},
      {"/s/other.html", "<p>anders</p>"}});
  const std::string root = site.web.Url("/s/");
  auto fetched = [&](std::vector<std::string> args) {
    args.push_back(root + "index.html");
    return FetchLog(RunCli(args).err, root);
  };
  EXPECT_EQ(fetched({"--exclude", "skip"}),
            (Strings{"index.html", "keep1.html", "sub/keep2.html", "other.html"}));
  // The start address is never filtered; patterns are searched in the whole address.
  EXPECT_EQ(fetched({"--include", "keep"}),
            (Strings{"index.html", "keep1.html", "sub/keep2.html"}));
  EXPECT_EQ(fetched({"--include", "keep1", "--include=/sub/"}),
            (Strings{"index.html", "keep1.html", "sub/keep2.html"}));
  EXPECT_EQ(fetched({"--include", "keep", "--exclude", "/sub/"}),
            (Strings{"index.html", "keep1.html"}));
  EXPECT_EQ(fetched({"--include", "^http://127\\.0\\.0\\.1:[0-9]+/s/[a-k].*\\.html$"}),
            (Strings{"index.html", "keep1.html"}));
  Result bad = RunCli({"--exclude", "a[", root + "index.html"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(Contains(bad.err, "tirasel-cli: --exclude: bad regular expression \"a[\""));
}

// A single long link must not end the run: matching takes no recursion
// per character of the address.
TEST(CliCrawl, PatternsCopeWithAVeryLongAddress) {
  const std::string longName = std::string(200'000, 'a') + ".html";
  NginxSite site(
      Pages{{"/s/index.html", "<a href=\"" + longName + "\">l</a><a href=\"keep1.html\">k</a>"},
            {"/s/keep1.html", "<p>eins</p>"}});
  const std::string root = site.web.Url("/s/");
  Result run =
      RunCli({"--include", "/s/.*\\.html$", "--exclude", "/s/a+\\.html", root + "index.html"});
  EXPECT_EQ(run.status, 0) << run.err.substr(0, 300);
  EXPECT_EQ(FetchLog(run.err, root), (Strings{"index.html", "keep1.html"}));
}

TEST(CliCrawl, MaxPagesEndsTheRunLikeAbbrechen) {
  NginxSite site(Tree());
  Result run = RunCli({"--max-pages", "2", site.web.Url("/t/index.html")});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(FetchLog(run.err, site.web.Url("/t/")), (Strings{"index.html", "a1.html"}));
  EXPECT_TRUE(Contains(run.err, "Done! (2 html files found...)...\n"));
  EXPECT_EQ(run.out, "null\r\nx\r\neins\r\n");
}

TEST(CliCrawl, DelayPausesBetweenRequests) {
  NginxSite site(Tree());
  auto start = std::chrono::steady_clock::now();
  Result run = RunCli({"--delay", "300", site.web.Url("/t/index.html")});
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(FetchLog(run.err, site.web.Url("/t/")).size(), 5u);
  // Four pauses at least; a lower bound holds however slow the machine is.
  EXPECT_GE(elapsed, std::chrono::milliseconds(1200));
}

TEST(CliCrawl, BasicAuthorizationAndUserAgentReachTheServer) {
  testsupport::NginxServer web;
  web.AddFile("/private/index.html", "<p>Geheim</p><a href=\"two.html\">x</a>");
  web.AddFile("/private/two.html", "<p>Auch</p>");
  web.AddBasicAuth("/private/", "anna", "s3 cret");
  web.Start();
  const std::string start = web.Url("/private/index.html");

  Result none = RunCli({start});
  EXPECT_EQ(none.status, 3);
  EXPECT_TRUE(Contains(none.err, "Error...\nDone! (0 html files found...)...\n"));
  EXPECT_EQ(RunCli({"--auth", "anna:wrong", start}).status, 3);
  Result authorized = RunCli({"--auth", "anna:s3 cret", "--user-agent", "TiraselTest/1.0", start});
  EXPECT_EQ(authorized.status, 0) << authorized.err << testsupport::ReadFile(web.ErrorLog());
  EXPECT_EQ(authorized.out, "Geheim\r\nx\r\nAuch\r\n");
  web.SettleLog();
  std::string log = testsupport::ReadFile(web.AccessLog());
  EXPECT_TRUE(Contains(log, "\"Mozilla/3.0 (compatible)\""));
  EXPECT_TRUE(Contains(log, "\"GET /private/two.html HTTP/1.1\" 200"));
  EXPECT_TRUE(Contains(log, "\"TiraselTest/1.0\""));
}

TEST(CliCrawl, ProxyAuthorizationReachesTheProxy) {
  NginxSite site(Pages{{"/index.html", "<p>Durch den Proxy</p>"}});
  testsupport::TinyProxy proxy;
  proxy.RequireBasicAuth("paul", "pw");
  proxy.Start();
  const std::string start = site.web.Url("/index.html");
  EXPECT_EQ(RunCli({"--proxy", proxy.HostPort(), start}).status, 3);
  EXPECT_EQ(RunCli({"--proxy", proxy.HostPort(), "--proxy-auth", "paul:falsch", start}).status, 3);
  Result authorized = RunCli({"--proxy", proxy.HostPort(), "--proxy-auth=paul:pw", start});
  EXPECT_EQ(authorized.status, 0) << authorized.err;
  EXPECT_EQ(authorized.out, "Durch\r\nden\r\nProxy\r\n");
}

TEST(CliCrawl, ExitStatusThreeWhenNothingWasFetched) {
  Result dead = RunCli(
      {"--timeout", "5", "http://127.0.0.1:" + testpeer::SiteServer({}).PortText() + "/x.html"});
  EXPECT_EQ(dead.status, 3);
  EXPECT_EQ(dead.out, "");
}

// Runs tirasel-cli with standard error on a terminal (standard output
// discarded); returns what the terminal showed, or "" when it did not end
// within about 30 s.
std::string RunCliOnTerminal(const std::vector<std::string>& args) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return "";
  // Held open here too, so that reading never finds the terminal without a
  // holder before the child has it; the child's exit ends the reading.
  int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(slave, 2);
    std::vector<char*> argv = {const_cast<char*>(TIRASEL_CLI_PATH)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(TIRASEL_CLI_PATH, argv.data());
    ::_exit(127);
  }
  std::string shown;
  int status = 0;
  bool exited = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 100) > 0) {
      char buf[4096];
      ssize_t n = ::read(master, buf, sizeof buf);
      if (n > 0) shown.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (exited) break;  // exited, and nothing more to read
    exited = ::waitpid(pid, &status, WNOHANG) == pid;
  }
  ::close(slave);
  ::close(master);
  if (!exited) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return "";
  }
  return shown;
}

TEST(CliProgress, ShownOnATerminalAtMostTenTimesASecondAndNeverOnAPipe) {
  // A chain of 300 pages: far more progress reports than a tenth of a second allows for.
  Pages pages;
  for (int i = 0; i < 300; ++i) {
    pages["/p/" + std::to_string(i) + ".html"] =
        "<p>w" + std::to_string(i) + "</p><a href=\"" + std::to_string(i + 1) + ".html\">n</a>";
  }
  NginxSite site(pages);
  auto start = std::chrono::steady_clock::now();
  std::string shown = RunCliOnTerminal({site.web.Url("/p/0.html")});
  auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  ASSERT_TRUE(Contains(shown, "Done! (300 html files found...)...")) << shown;
  // A fresh state clears the line and draws it; after a log line the same
  // state is only drawn again (it follows the line end).
  const std::string fresh = "\r\033[Kpages fetched: ";
  size_t draws = 0;
  for (size_t at = shown.find(fresh); at != std::string::npos; at = shown.find(fresh, at + 1))
    ++draws;
  EXPECT_GE(draws, 1u);
  EXPECT_LE(draws, static_cast<size_t>(elapsedMs.count() / 100 + 1)) << elapsedMs.count() << " ms";
  EXPECT_TRUE(Contains(shown, "  pages/s: "));
  EXPECT_TRUE(Contains(shown, "  words: "));
  EXPECT_TRUE(Contains(shown, "  queue left: "));

  Result piped = RunCli({site.web.Url("/p/0.html")});
  EXPECT_FALSE(Contains(piped.err, "pages fetched"));
  EXPECT_FALSE(Contains(piped.err, "\033"));
}

// ---------------------------------------------------------------------------
// Never hang

// A listening socket that never accepts, its backlog filled by connections
// of its own: a further connection gets no answer and stays in its connect.
class StalledListener {
 public:
  StalledListener() {
    listen_ = testpeer::ListenOnLoopback(port_, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port_);
    for (int& fd : fillers_) {
      fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
  }
  ~StalledListener() {
    for (int fd : fillers_) ::close(fd);
    ::close(listen_);
  }
  std::string Root() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  int listen_ = -1;
  int fillers_[4] = {};
  std::uint16_t port_ = 0;
};

// The run with --timeout 1: the stalled page fails, the next is fetched, and
// the whole run stays far below the 20 s for which the server would stall.
void ExpectStalledPageIsSkipped(const std::vector<std::string>& args,
                                const std::string& input = "") {
  auto start = std::chrono::steady_clock::now();
  Result run = RunCli(args, input);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.err, "slow.html\nHTTP Fehler: 3\nError...\n")) << run.err;
  EXPECT_TRUE(Contains(run.out, "\r\nweiter\r\n")) << run.out << run.err;
  EXPECT_LT(elapsed, std::chrono::seconds(8));
}

TEST(CliTimeout, ConnectThatIsNeverAnsweredIsAbortedAndTheRunGoesOn) {
  StalledListener stalled;
  testpeer::SiteServer site({{"/index.html", "<a href=\"" + stalled.Root() +
                                                 "slow.html\">x</a><a href=\"next.html\">n</a>"},
                             {"/next.html", "<p>weiter</p>"}});
  // The stalled host is another site: --ask and a Yes let the run queue it.
  ExpectStalledPageIsSkipped({"--ask", "--timeout", "1", site.Root() + "index.html"}, "y\n");
}

TEST(CliTimeout, HeaderAndBodyThatStallAreAbortedAndTheRunGoesOn) {
  const Pages pages = {{"/index.html", "<a href=\"slow.html\">x</a><a href=\"next.html\">n</a>"},
                       {"/next.html", "<p>weiter</p>"}};
  {
    testpeer::SiteServer silent(pages, "/slow.html");
    ExpectStalledPageIsSkipped({"--timeout", "1", silent.Root() + "index.html"});
  }
  {
    testpeer::SiteServer halfHeader(
        pages, "", {{"/slow.html", "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n"}});
    ExpectStalledPageIsSkipped({"--timeout", "1", halfHeader.Root() + "index.html"});
  }
  {
    testpeer::SiteServer halfBody(
        pages, "", {{"/slow.html", "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>halb"}});
    ExpectStalledPageIsSkipped({"--timeout=1", halfBody.Root() + "index.html"});
  }
}

}  // namespace
