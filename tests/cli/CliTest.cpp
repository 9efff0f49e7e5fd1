// tirasel-cli as a user runs it: a child process against a loopback site,
// with its standard input, output and error captured.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "FixtureSite.h"
#include "ServerFixtures.h"
#include "SiteServer.h"
#include "TempDir.h"

namespace {

using testpeer::SiteServer;
using Pages = std::map<std::string, std::string>;

struct Result {
  int status = -1;  // exit status, or -1 when it did not exit normally in time
  std::string out, err;
};

// Runs tirasel-cli with the arguments, feeding `input` to its standard input.
// `onError` sees standard error as it grows and may return a signal to send.
Result RunCli(const std::vector<std::string>& args, const std::string& input = "",
              const std::function<int(const std::string&)>& onError = nullptr) {
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    std::vector<char*> argv = {const_cast<char*>(TIRASEL_CLI_PATH)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(TIRASEL_CLI_PATH, argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  if (!input.empty()) [[maybe_unused]] ssize_t ignored = ::write(in[1], input.data(), input.size());
  ::close(in[1]);

  Result result;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  for (int rounds = 0; open > 0 && rounds < 300; ++rounds) {  // at most about 30 s
    if (::poll(fds, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[65536];
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        fds[i].fd = -fds[i].fd - 1;  // stop polling it
        --open;
        continue;
      }
      (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
      if (i == 1 && onError) {
        if (int signal = onError(result.err)) ::kill(pid, signal);
      }
    }
  }
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  for (int tries = 0; tries < 100 && ::waitpid(pid, &status, WNOHANG) == 0; ++tries) ::usleep(50000);
  if (::waitpid(pid, &status, WNOHANG) == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return result;
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

Pages Site() {
  return {{"/s/index.html", "<p>Hallo Welt</p><a href=\"two.html\">zwei</a><a href=\"/other/x.html\">fremd</a>"},
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

TEST(Cli, CrawlsInAutomaticModeAndWritesTheListAsTheWindowSavesIt) {
  SiteServer site(Site());
  Result run = RunCli({site.Root() + "s/index.html"});
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
  EXPECT_TRUE(Contains(yes.err, "Soll der Link zu \"" + site.Root() + "\" weiterverfolgt werden? [y/n]"));
  EXPECT_TRUE(Contains(yes.out, "Ausland\r\n"));

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
  Result run = RunCli({"--list", dir.Path("list.txt"), "--output", dir.Path("out.txt"), site.Root() + "s/two.html"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(dir.Read("out.txt"), "welt\r\nalt\r\nZweite\r\nSeite\r\nsch\xF6n\r\n");

  EXPECT_EQ(RunCli({"--list", dir.Path("missing.txt"), site.Root() + "s/two.html"}).status, 2);
  Result unwritable = RunCli({"--output", dir.Path("no/such/dir/out.txt"), site.Root() + "s/two.html"});
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_TRUE(Contains(unwritable.err, "cannot write"));
}

TEST(Cli, CtrlCEndsTheRunAndKeepsTheWordsSoFar) {
  SiteServer site(Pages{{"/1.html", "<p>erste</p><a href=2.html>2</a><a href=3.html>3</a>"}, {"/3.html", "<p>dritte</p>"}},
                  "/2.html");
  bool sent = false;
  Result run = RunCli({site.Root() + "1.html"}, "", [&](const std::string& err) {
    if (sent || !Contains(err, "/2.html\n")) return 0;
    sent = true;
    return SIGINT;
  });
  site.Release();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "erste\r\n2\r\n3\r\n");
  EXPECT_TRUE(Contains(run.err, "Error...\n"));
  EXPECT_TRUE(Contains(run.err, "Done! (1 html files found...)...\n"));
  EXPECT_FALSE(Contains(run.err, "/3.html"));
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
  EXPECT_TRUE(Contains(run.out, "\r\nRahmen\r\n"));
  EXPECT_TRUE(Contains(run.out, "\r\nzur\xFC" "ck\r\n"));
}

}  // namespace
