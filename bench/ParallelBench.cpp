// Several requests at once against a distant site: a generated site of
// 2,000 pages behind a loopback server that adds 50 ms to every answer.
//  - tirasel-cli --parallel 8, then --parallel 1, then wget --recursive (one
//    request at a time), pages/s; targets: --parallel 8 at least 6x
//    --parallel 1 and at least 4x wget;
//  - CeWL on a flat 100-page part of the same make, pages/s (a peer only);
//  - the same 2,000 pages from nginx on plain loopback: --parallel 4 against
//    --parallel 1; target: not slower.
// Every tirasel run must fetch every page (its "Done!" count), and the
// parallel runs must write the same word list as --parallel 1.
// Sizes: TIRASEL_BENCH_PARALLEL_PAGES (default 2000),
// TIRASEL_BENCH_PARALLEL_DELAY_MS (default 50).
#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "BenchPages.h"
#include "BenchProcess.h"
#include "ConcurrentSiteServer.h"
#include "NginxServer.h"
#include "TempDirectory.h"

namespace {

using testpeer::ConcurrentSiteServer;
using testsupport::NginxServer;
using testsupport::TempDirectory;

const int kPages = EnvInt("TIRASEL_BENCH_PARALLEL_PAGES", 2000);
const int kDelayMs = EnvInt("TIRASEL_BENCH_PARALLEL_DELAY_MS", 50);
constexpr int kCewlPages = 100;
constexpr int kRunTimeoutMs = 600000;
constexpr const char* kTiraselCli = TIRASEL_CLI_PATH;

struct RunResult : ProgramRun {
  RunResult() = default;
  explicit RunResult(ProgramRun run) : ProgramRun(std::move(run)) {}
  size_t pages = 0;
  std::string words;  // the word list, for the parallel runs
};

RunResult RunTirasel(const std::string& url, int parallel) {
  TempDirectory dir("tirasel-bench-parallel");
  RunResult result{TimeProgram({kTiraselCli, "--parallel", std::to_string(parallel), "--output",
                                (dir / "words.txt").string(), url},
                               dir / "log.txt", kRunTimeoutMs)};
  result.pages = DonePages(testsupport::ReadFile(dir / "log.txt"));
  result.words = testsupport::ReadFile(dir / "words.txt");
  return result;
}

// Distinct pages of the site that the server was asked for since `mark`.
size_t PagesRequestedSince(ConcurrentSiteServer& server, size_t mark,
                           const std::map<std::string, std::string>& site) {
  std::vector<std::string> requested = server.Requested();
  std::set<std::string> pages;
  for (size_t i = mark; i < requested.size(); ++i) {
    if (site.contains(requested[i])) pages.insert(requested[i]);
  }
  return pages.size();
}

// The distant site and nginx with the same pages, started once.
struct Fixture {
  std::map<std::string, std::string> site = LinkedSite(kPages, false);
  std::map<std::string, std::string> flat = LinkedSite(kCewlPages, true);
  ConcurrentSiteServer distant{site, kDelayMs};
  ConcurrentSiteServer distantFlat{flat, kDelayMs};
  NginxServer nginx;
  Fixture() {
    for (const auto& [path, body] : site) nginx.AddFile(path, body);
    nginx.Start();
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

double gSequentialRate = 0, gParallelRate = 0, gWgetRate = 0, gNginxSequentialRate = 0;
std::string gSequentialWords;

double Rate(const RunResult& run) {
  return run.seconds > 0 ? static_cast<double>(run.pages) / run.seconds : 0;
}

// One run per iteration, with the pages and the rate in the row.
template <typename Crawl>
RunResult Measure(benchmark::State& state, size_t expectedPages, Crawl crawl) {
  RunResult total = MeasureCrawls<RunResult>(state, expectedPages, crawl);
  const double runs =
      static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
  state.counters["pages"] = static_cast<double>(total.pages) / runs;
  state.counters["pages/s"] = Rate(total);
  return total;
}

void ExpectSequentialWords(benchmark::State& state, const RunResult& run) {
  if (!gSequentialWords.empty() && run.words != gSequentialWords) {
    state.SkipWithError("the word list differs from that of --parallel 1");
  }
}

void BM_Distant_Parallel1(benchmark::State& state) {
  RunResult run =
      Measure(state, kPages, [] { return RunTirasel(Shared().distant.Root() + "index.html", 1); });
  gSequentialRate = Rate(run);
  gSequentialWords = run.words;
}
BENCHMARK(BM_Distant_Parallel1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_Distant_Parallel8(benchmark::State& state) {
  RunResult run =
      Measure(state, kPages, [] { return RunTirasel(Shared().distant.Root() + "index.html", 8); });
  ExpectSequentialWords(state, run);
  gParallelRate = Rate(run);
  if (gSequentialRate > 0)
    state.counters["x_parallel1"] = gParallelRate / gSequentialRate;  // target >= 6
  state.counters["max_connections"] = Shared().distant.MaxOpen();
}
BENCHMARK(BM_Distant_Parallel8)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_Distant_Wget(benchmark::State& state) {
  Fixture& fixture = Shared();
  RunResult run = Measure(state, kPages, [&] {
    TempDirectory dir("tirasel-bench-wget");
    size_t mark = fixture.distant.Requested().size();
    RunResult result{
        TimeProgram({"/usr/bin/wget", "--recursive", "--level=inf", "--no-parent", "-q", "-P",
                     dir.Path().string(), fixture.distant.Root() + "index.html"},
                    dir / "log.txt", kRunTimeoutMs)};
    result.pages = PagesRequestedSince(fixture.distant, mark, fixture.site);
    return result;
  });
  gWgetRate = Rate(run);
  if (gWgetRate > 0 && gParallelRate > 0)
    state.counters["parallel8_x_wget"] = gParallelRate / gWgetRate;  // >= 4
}
BENCHMARK(BM_Distant_Wget)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_DistantFlat_Cewl(benchmark::State& state) {
  if (!std::filesystem::exists("/usr/bin/cewl")) {
    state.SkipWithError("cewl is not installed");
    return;
  }
  Fixture& fixture = Shared();
  Measure(state, 0, [&] {
    TempDirectory dir("tirasel-bench-cewl");
    size_t mark = fixture.distantFlat.Requested().size();
    RunResult result{TimeProgram({"/usr/bin/cewl", "-d", "2", "-w", (dir / "words.txt").string(),
                                  fixture.distantFlat.Root() + "index.html"},
                                 dir / "log.txt", kRunTimeoutMs)};
    result.pages = PagesRequestedSince(fixture.distantFlat, mark, fixture.flat);
    return result;
  });
}
BENCHMARK(BM_DistantFlat_Cewl)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_Nginx_Parallel1(benchmark::State& state) {
  RunResult run =
      Measure(state, kPages, [] { return RunTirasel(Shared().nginx.Url("/index.html"), 1); });
  gNginxSequentialRate = Rate(run);
}
BENCHMARK(BM_Nginx_Parallel1)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

void BM_Nginx_Parallel4(benchmark::State& state) {
  RunResult run =
      Measure(state, kPages, [] { return RunTirasel(Shared().nginx.Url("/index.html"), 4); });
  ExpectSequentialWords(state, run);
  if (gNginxSequentialRate > 0)
    state.counters["x_parallel1"] = Rate(run) / gNginxSequentialRate;  // target >= 1
}
BENCHMARK(BM_Nginx_Parallel4)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  try {
    Shared();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_parallel: %s\n", e.what());
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
