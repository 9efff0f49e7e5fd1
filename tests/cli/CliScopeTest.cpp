// tirasel-cli --scope: how far links are followed without a question, on
// loopback names that share a registrable domain (a.localhost and
// b.localhost, entered into /etc/hosts when the resolver knows neither).
#include <gtest/gtest.h>
#include <netdb.h>

#include <fstream>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "NginxServer.h"

namespace {

using clitest::Result;
using clitest::RunCli;

bool Resolves(const char* name) {
  addrinfo* found = nullptr;
  const int failure = ::getaddrinfo(name, nullptr, nullptr, &found);
  if (found) ::freeaddrinfo(found);
  return failure == 0;
}

bool LoopbackNamesResolve() {
  if (Resolves("a.localhost") && Resolves("b.localhost")) return true;
  std::ofstream("/etc/hosts", std::ios::app) << "127.0.0.1 a.localhost b.localhost\n";
  return Resolves("a.localhost") && Resolves("b.localhost");
}

// The start page links a page of another directory and one of `otherHost`
// on the same server.
struct ScopeSite {
  explicit ScopeSite(const std::string& otherHost) {
    web.AddFile("/b/page.html", "<p>Nebenan</p>");
    web.AddFile("/c/x.html", "<p>Fremd</p>");
    web.Start();
    web.AddFile("/a/index.html", "<p>Start</p><a href=\"/b/page.html\">b</a><a href=\"http://" +
                                     otherHost + ":" + Port() + "/c/x.html\">c</a>");
  }
  std::string Port() const { return std::to_string(web.Port()); }
  testsupport::NginxServer web;
};

TEST(CliScope, HostFollowsEveryDirectoryOfTheStartHostOnly) {
  ScopeSite site("localhost");
  const std::string start = "http://127.0.0.1:" + site.Port() + "/a/index.html";
  EXPECT_EQ(RunCli({start}).out, "Start\nb\nc\n");
  EXPECT_EQ(RunCli({"--scope", "dir", start}).out, "Start\nb\nc\n");
  EXPECT_EQ(RunCli({"--scope", "host", start}).out, "Start\nb\nc\nNebenan\n");
  // An address has no registrable domain: domain is host there.
  EXPECT_EQ(RunCli({"--scope", "domain", start}).out, "Start\nb\nc\nNebenan\n");
  EXPECT_EQ(RunCli({"--scope", "site", start}).status, 2);
}

TEST(CliScope, DomainFollowsTheHostsOfTheRegistrableDomain) {
  if (!LoopbackNamesResolve()) GTEST_SKIP() << "a.localhost and b.localhost cannot be entered";
  ScopeSite site("b.localhost");
  const std::string start = "http://a.localhost:" + site.Port() + "/a/index.html";
  EXPECT_EQ(RunCli({"--scope", "host", start}).out, "Start\nb\nc\nNebenan\n");
  EXPECT_EQ(RunCli({"--scope", "domain", start}).out, "Start\nb\nc\nNebenan\nFremd\n");
}

}  // namespace
