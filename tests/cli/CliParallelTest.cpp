// tirasel-cli --parallel: the log (with the questions of --ask) and the word
// list of several requests at once are those of one at a time, byte for
// byte, on the fixture site and on random sites, against a server that adds
// a delay to each answer and counts the connections open at once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CliProcess.h"
#include "ConcurrentSiteServer.h"
#include "FixtureSite.h"
#include "RandomSite.h"

namespace {

using clitest::Result;
using clitest::RunCli;
using testpeer::ConcurrentSiteServer;

Result RunWith(const std::string& parallel, std::vector<std::string> args,
               const std::string& answers = "") {
  if (!parallel.empty()) args.insert(args.begin(), {"--parallel", parallel});
  return RunCli(args, answers);
}

void ExpectSameOutput(const Result& parallel, const Result& sequential, const std::string& what) {
  EXPECT_EQ(parallel.status, sequential.status) << what;
  EXPECT_EQ(parallel.err, sequential.err) << what;
  EXPECT_EQ(parallel.out, sequential.out) << what;
}

TEST(CliParallel, TheFixtureSiteGivesTheSequentialLogAndList) {
  ConcurrentSiteServer site(testsite::FixtureSite(), 2);
  const std::string start = site.Root() + "a/index.html";
  for (const std::string answers : {"", "y\n", "n\n"}) {
    std::vector<std::string> args = {"--encoding", "windows-1252", start};
    if (!answers.empty()) args.insert(args.begin(), "--ask");
    const Result sequential = RunWith("1", args, answers);
    ASSERT_EQ(sequential.status, 0) << sequential.err;
    ExpectSameOutput(RunWith("8", args, answers), sequential, "parallel 8, answers " + answers);
    ExpectSameOutput(RunWith("", args, answers), sequential, "default, answers " + answers);
  }
  EXPECT_LE(site.MaxOpen(), 8);
}

TEST(CliParallel, RandomSitesGiveTheSequentialLogAndListWithAtMostNConnections) {
  for (std::uint64_t seed = 101; seed <= 110; ++seed) {
    const testsite::RandomSite random = testsite::MakeRandomSite(seed, 60);
    ConcurrentSiteServer site(random.pages, 2);
    std::string answers;
    for (bool yes : random.answers) answers += yes ? "y\n" : "n\n";
    const std::vector<std::string> args = {"--ask", "--stats",
                                           site.Root() + random.start.substr(1)};
    Result sequential = RunWith("1", args, answers);
    ASSERT_EQ(site.MaxOpen(), 1) << seed;
    Result parallel = RunWith("8", args, answers);
    EXPECT_LE(site.MaxOpen(), 8) << seed;
    // The statistics end the log: their time and rate differ from run to run.
    for (Result* run : {&sequential, &parallel}) {
      if (size_t time = run->err.find("\ntime: "); time != std::string::npos) run->err.erase(time);
    }
    ExpectSameOutput(parallel, sequential, "seed " + std::to_string(seed));
  }
}

TEST(CliParallel, TheNumberOfRequestsIsFromOneTo64) {
  for (const char* bad : {"0", "65", "x", ""}) {
    Result run = RunCli({"--parallel", bad, "http://127.0.0.1:1/"});
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_NE(run.err.find("--parallel"), std::string::npos) << run.err;
  }
}

}  // namespace
