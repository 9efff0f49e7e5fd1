// Crawl benchmarks against a generated site served by nginx on loopback,
// each next to a peer doing the same work in the same run:
//  - the whole site (10,000 pages of about 10 KB with 50 links each) in
//    automatic mode: wget --recursive, then tirasel-cli (pages/s; target: at
//    least as fast as wget), then the window's run at the same number of
//    requests in flight (target: at most 20% slower than tirasel-cli), and
//    tirasel-cli writing a web archive of the crawl (target: at most 20%
//    slower than without);
//  - a 1,000-page site of the same make: cewl, then tirasel-cli (time and
//    words found).
// Every tool must fetch every page: tirasel's own "Done!" count and, for the
// peers, the pages nginx's access log shows them fetching.
// Sizes: TIRASEL_BENCH_SITE_PAGES (default 10000), TIRASEL_BENCH_SLICE_PAGES
// (default 1000).
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <sys/wait.h>

#include "BenchProcess.h"
#include "GeneratedSite.h"
#include "MainUnit.h"
#include "ScriptedDialogs.h"
#include "ChildProcess.h"
#include "NginxServer.h"
#include "TempDirectory.h"

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::NginxServer;
using testsupport::TempDirectory;
using generatedsite::AddSite;
using generatedsite::CountOf;
using generatedsite::SiteSpec;

const int kSitePages = EnvInt("TIRASEL_BENCH_SITE_PAGES", 10000);
const int kSlicePages = EnvInt("TIRASEL_BENCH_SLICE_PAGES", 1000);
constexpr int kRunTimeoutMs = 300000;
constexpr const char* kTiraselCli = TIRASEL_CLI_PATH;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// nginx serving the full site and the slice, started once.
struct Fixture {
  NginxServer web;
  SiteSpec site{"/site/", kSitePages, 1, 10};
  // cewl's work grows with the links per page to the power of its depth
  // (at depth 3 it did not end within minutes on 100 such pages), so the
  // slice is flat and wide: two steps reach every page.
  SiteSpec slice{"/slice/", kSlicePages, 2, 40, true};

  Fixture() {
    AddSite(web, site);
    AddSite(web, slice);
    web.Start();
  }
  std::string Url(const SiteSpec& spec) const { return web.Url(spec.StartPath()); }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

// ---- Measuring

struct RunResult : ProgramRun {
  RunResult() = default;
  explicit RunResult(ProgramRun run) : ProgramRun(std::move(run)) {}
  size_t pages = 0;
  size_t words = 0;
};

// tirasel-cli in automatic mode, the word list into a file.
// The requests both tirasel rows keep in flight: the command line's
// default, given to the window through TIRASEL_PARALLEL.
constexpr const char* kParallel = "4";

// With `warc`, every request and answer also goes into a web archive.
RunResult RunTiraselCli(const SiteSpec& spec, bool warc = false) {
  TempDirectory dir("tirasel-bench-cli");
  std::vector<std::string> argv = {
      kTiraselCli,       "--parallel", kParallel, "--output", (dir / "words.txt").string(),
      Shared().Url(spec)};
  if (warc) argv.insert(argv.begin() + 1, {"--warc", (dir / "site.warc.gz").string()});
  RunResult result{TimeProgram(argv, dir / "log.txt", kRunTimeoutMs)};
  result.pages = DonePages(testsupport::ReadFile(dir / "log.txt"));
  result.words =
      CountOf(testsupport::ReadFile(dir / "words.txt"), "\n");  // UTF-8, one word per line
  return result;
}

RunResult RunWget(const SiteSpec& spec) {
  TempDirectory dir("tirasel-bench-wget");
  auto mark = generatedsite::AccessLogMark(Shared().web);
  RunResult result{TimeProgram({"/usr/bin/wget", "--recursive", "--level=inf", "--no-parent", "-q",
                                "-P", dir.Path().string(), Shared().Url(spec)},
                               dir / "log.txt", kRunTimeoutMs)};
  result.pages = generatedsite::PagesServedSince(Shared().web, mark, spec.root);
  return result;
}

RunResult RunCewl(const SiteSpec& spec) {
  TempDirectory dir("tirasel-bench-cewl");
  auto mark = generatedsite::AccessLogMark(Shared().web);
  RunResult result{TimeProgram({"/usr/bin/cewl", "-d", std::to_string(spec.Depth()), "-w",
                                (dir / "words.txt").string(), Shared().Url(spec)},
                               dir / "log.txt", kRunTimeoutMs)};
  result.pages = generatedsite::PagesServedSince(Shared().web, mark, spec.root);
  result.words = CountOf(testsupport::ReadFile(dir / "words.txt"), "\n");
  return result;
}

// The window as a person uses it: "Autosaug" ticked, the address typed and
// "&Saugen..." pressed; the click returns when the run has ended.
RunResult RunWindow(const SiteSpec& spec) {
  TempDirectory dir("tirasel-bench-window");
  TScriptedDialogs dialogs;
  TMainForm form((dir / "tirasel").string(), &dialogs);
  form.show();
  form.Autosaug->setChecked(true);
  form.URLEdit->setText(QString::fromLatin1(Shared().Url(spec)));
  RunResult result;
  if (!form.GoBtn->isEnabled()) {
    result.failure = "the start button is disabled";
    return result;
  }
  // "Abbrechen" ends a run that takes too long; the run pumps events, so
  // the timer fires during it.
  bool aborted = false;
  QTimer::singleShot(kRunTimeoutMs, &form, [&] {
    aborted = true;
    form.BreakBtn->click();
  });
  ::setenv("TIRASEL_PARALLEL", kParallel, 1);
  auto start = Clock::now();
  form.GoBtn->click();
  result.seconds = Seconds(Clock::now() - start);
  ::unsetenv("TIRASEL_PARALLEL");
  result.pages = DonePages(form.Memo1->toPlainText().toStdString());
  result.words = form.Words().WordCount();
  if (aborted) result.failure = "the window's run did not end within the time limit";
  if (!dialogs.Questions.empty() || !dialogs.Errors.empty())
    result.failure = "the window asked or showed an error";
  return result;
}

template <typename Crawl>
RunResult Measure(benchmark::State& state, int expectedPages, Crawl crawl) {
  return MeasureCrawls<RunResult>(state, static_cast<size_t>(expectedPages), crawl);
}

double PagesPerSecond(const RunResult& total) {
  return total.seconds > 0 ? static_cast<double>(total.pages) / total.seconds : 0;
}

void Report(benchmark::State& state, const RunResult& total) {
  auto iterations = static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
  state.counters["pages"] = static_cast<double>(total.pages) / iterations;
  state.counters["pages/s"] = PagesPerSecond(total);
  state.counters["s/run"] = total.seconds / iterations;
  if (total.words > 0) state.counters["words"] = static_cast<double>(total.words);
}

// Figures of the earlier rows, for the ratios in the later ones.
double gWgetPagesPerSecond = 0, gCliPagesPerSecond = 0, gCewlSeconds = 0, gCewlWords = 0;

// ---- The full site

void BM_Site_Wget(benchmark::State& state) {
  const SiteSpec& site = Shared().site;
  RunResult total = Measure(state, site.pages, [&] { return RunWget(site); });
  Report(state, total);
  gWgetPagesPerSecond = PagesPerSecond(total);
}
BENCHMARK(BM_Site_Wget)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

void BM_Site_TiraselCli(benchmark::State& state) {
  const SiteSpec& site = Shared().site;
  RunResult total = Measure(state, site.pages, [&] { return RunTiraselCli(site); });
  Report(state, total);
  gCliPagesPerSecond = PagesPerSecond(total);
  if (gWgetPagesPerSecond > 0)
    state.counters["x_wget"] = gCliPagesPerSecond / gWgetPagesPerSecond;  // target >= 1
}
BENCHMARK(BM_Site_TiraselCli)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

void BM_Site_TiraselCliWarc(benchmark::State& state) {
  const SiteSpec& site = Shared().site;
  RunResult total = Measure(state, site.pages, [&] { return RunTiraselCli(site, true); });
  Report(state, total);
  // Time with the archive over the time without; target <= 1.2.
  if (PagesPerSecond(total) > 0)
    state.counters["time_x_cli"] = gCliPagesPerSecond / PagesPerSecond(total);
}
BENCHMARK(BM_Site_TiraselCliWarc)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

void BM_Site_Window(benchmark::State& state) {
  const SiteSpec& site = Shared().site;
  RunResult total = Measure(state, site.pages, [&] { return RunWindow(site); });
  Report(state, total);
  // Time of the window's run over the command line's; target <= 1.2.
  if (PagesPerSecond(total) > 0)
    state.counters["time_x_cli"] = gCliPagesPerSecond / PagesPerSecond(total);
}
BENCHMARK(BM_Site_Window)->Iterations(2)->UseManualTime()->Unit(benchmark::kSecond);

// ---- The slice, next to cewl

void BM_Slice_Cewl(benchmark::State& state) {
  const SiteSpec& slice = Shared().slice;
  RunResult total = Measure(
      state, 0, [&] { return RunCewl(slice); });  // its page count is reported, not required
  Report(state, total);
  gCewlSeconds = total.seconds /
                 static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
  gCewlWords = static_cast<double>(total.words);
}
BENCHMARK(BM_Slice_Cewl)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_Slice_TiraselCli(benchmark::State& state) {
  const SiteSpec& slice = Shared().slice;
  RunResult total = Measure(state, slice.pages, [&] { return RunTiraselCli(slice); });
  Report(state, total);
  double seconds = total.seconds /
                   static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
  if (gCewlSeconds > 0) state.counters["time_x_cewl"] = seconds / gCewlSeconds;
  if (gCewlWords > 0)
    state.counters["words_x_cewl"] = static_cast<double>(total.words) / gCewlWords;
}
BENCHMARK(BM_Slice_TiraselCli)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);  // the window needs no display
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  try {
    auto start = Clock::now();
    Shared();
    std::fprintf(stderr, "bench_crawl: site of %d + %d pages generated and served in %.1f s\n",
                 kSitePages, kSlicePages, Seconds(Clock::now() - start));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_crawl: %s\n", e.what());
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
