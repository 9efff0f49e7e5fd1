// The vocabulary output of tirasel-cli (counts, pages, first page, context,
// word groups, merging), each row next to what it is measured against:
//  - bench_crawl's generated site (10,000 pages of about 10 KB with 50 links
//    each, nginx on loopback) at --parallel 4: the plain word list, the
//    list of the same entries as the next row (--groups 3), then
//    --format tsv --context 80 --groups 3. Wall time and peak resident size
//    of each run. Targets: the tsv run takes at most 1.5 times the list's
//    time (time_x_list <= 1.5), and its peak per distinct entry (lines
//    written, the header not counted) is at most twice the list's
//    (B/entry_x_list <= 2). Each peak is also given above the peak of the
//    same options on a 1-page site, which is the program's fixed cost (Qt,
//    the libraries, the crawl's buffers): the raw peak of a run with few
//    entries is mostly that cost, so the figures above it are the ones that
//    say what an entry costs;
//  - --merge of two TSV vocabularies of 1,000,000 distinct words each (half
//    of them in both, some of those capitalized otherwise) into TSV, no
//    crawl. Target: under 1 s. The output must hold each distinct word once;
//  - a 500-page slice made as bench_crawl's (flat, 40 links down a page, so
//    cewl's depth 2 reaches every page): cewl -c -g 3, then tirasel-cli
//    --format count --groups 3, time of each (time_x_cewl).
// Every crawl must fetch every page: tirasel's own "Done!" count, and for
// cewl the pages nginx's access log shows it fetching.
// Sizes: TIRASEL_BENCH_SITE_PAGES (default 10000), TIRASEL_BENCH_MERGE_WORDS
// (default 1000000), TIRASEL_BENCH_SLICE_PAGES (default 500).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_set>
#include <utility>
#include <vector>

#include "BenchProcess.h"
#include "GeneratedSite.h"
#include "TempDirectory.h"

namespace {

using generatedsite::AddSite;
using generatedsite::CountOf;
using generatedsite::NginxServer;
using generatedsite::Random;
using generatedsite::SiteSpec;
using testsupport::TempDirectory;

const int kSitePages = EnvInt("TIRASEL_BENCH_SITE_PAGES", 10000);
const int kMergeWords = EnvInt("TIRASEL_BENCH_MERGE_WORDS", 1000000);
const int kSlicePages = EnvInt("TIRASEL_BENCH_SLICE_PAGES", 500);
constexpr int kRunTimeoutMs = 300000;
constexpr const char* kTiraselCli = TIRASEL_CLI_PATH;
constexpr const char* kCewl = "/usr/bin/cewl";
constexpr double kMiB = 1024.0 * 1024.0;

// nginx serving the full site, a site of its start page alone (the
// baseline of the peaks) and the slice, started once.
struct Fixture {
  NginxServer web;
  SiteSpec site{"/site/", kSitePages, 1, 10};
  SiteSpec onePage{"/one/", 1, 3, 10};
  SiteSpec slice{"/slice/", kSlicePages, 2, 40, true};

  Fixture() {
    AddSite(web, site);
    AddSite(web, onePage);
    AddSite(web, slice);
    web.Start();
  }
  std::string Url(const SiteSpec& spec) const { return web.Url(spec.StartPath()); }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

// ---- Running tirasel-cli and cewl

// One run: time, peak, pages fetched and entries written.
struct Run {
  double seconds = 0;
  double cpuSeconds = 0;  // the program's user and system time
  long peakKiB = 0;
  size_t pages = 0;
  size_t entries = 0;
  std::string failure;
};

// Lines of the output file, less the header line of TSV.
size_t Entries(const std::filesystem::path& output, bool header) {
  size_t lines = CountOf(testsupport::ReadFile(output), "\n");
  return header && lines > 0 ? lines - 1 : lines;
}

Run Timed(const std::vector<std::string>& argv, const std::filesystem::path& log) {
  ProgramPeak peak = TimeProgramPeak(argv, log, kRunTimeoutMs);
  Run run{peak.seconds, peak.cpuSeconds, peak.peakKiB, 0, 0, {}};
  if (!peak.ok) run.failure = argv[0] + " failed or did not end in time; see its log";
  return run;
}

// tirasel-cli crawling `spec` with the options, the output into a file.
Run RunTiraselCli(const SiteSpec& spec, const std::vector<std::string>& options) {
  TempDirectory dir("tirasel-bench-vocabulary");
  std::vector<std::string> argv = {kTiraselCli, "--parallel", "4", "--output",
                                   (dir / "out.txt").string()};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(Shared().Url(spec));
  Run run = Timed(argv, dir / "log.txt");
  run.pages = DonePages(testsupport::ReadFile(dir / "log.txt"));
  const bool header = std::find(options.begin(), options.end(), "tsv") != options.end();
  run.entries = Entries(dir / "out.txt", header);
  if (run.failure.empty() && run.pages != static_cast<size_t>(spec.pages)) {
    run.failure = std::to_string(run.pages) + " pages fetched of " + std::to_string(spec.pages);
  }
  return run;
}

// cewl as bench_crawl runs it, deep enough to reach every page.
Run RunCewl(const SiteSpec& spec, const std::vector<std::string>& options) {
  TempDirectory dir("tirasel-bench-vocabulary-cewl");
  const auto mark = generatedsite::AccessLogMark(Shared().web);
  std::vector<std::string> argv = {kCewl, "-d", std::to_string(spec.Depth()), "-w",
                                   (dir / "words.txt").string()};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(Shared().Url(spec));
  Run run = Timed(argv, dir / "log.txt");
  run.pages = generatedsite::PagesServedSince(Shared().web, mark, spec.root);
  run.entries = Entries(dir / "words.txt", false);
  return run;
}

// Runs `once` per iteration of the row; the totals of the times, the
// highest peak and the last run's pages and entries. Fails the row on a
// failed run.
template <typename Once>
Run Measure(benchmark::State& state, Once once) {
  Run total;
  for (auto _ : state) {
    Run run = once();
    if (!run.failure.empty()) {
      state.SkipWithError(run.failure.c_str());
      return total;
    }
    state.SetIterationTime(run.seconds);
    total.seconds += run.seconds;
    total.cpuSeconds += run.cpuSeconds;
    total.peakKiB = std::max(total.peakKiB, run.peakKiB);
    total.pages = run.pages;
    total.entries = run.entries;
  }
  const auto runs = static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
  total.seconds /= runs;
  total.cpuSeconds /= runs;
  return total;
}

void Report(benchmark::State& state, const Run& run) {
  state.counters["s/run"] = run.seconds;
  state.counters["cpu_s/run"] = run.cpuSeconds;
  state.counters["peak_MB"] = static_cast<double>(run.peakKiB) / 1024.0;
  state.counters["pages"] = static_cast<double>(run.pages);
  state.counters["entries"] = static_cast<double>(run.entries);
}

// ---- The full site: the plain list against tsv with context and groups

const std::vector<std::string> kListOptions = {};
const std::vector<std::string> kTsvOptions = {"--format", "tsv", "--context", "80", "--groups",
                                              "3"};

// Figures of the earlier rows, for the per-entry figures and ratios of the
// later ones.
long gBaseListKiB = 0, gBaseTsvKiB = 0;
Run gList;
double gListBytesPerEntry = 0, gListAboveBasePerEntry = 0;
double gCewlSeconds = 0;

double BytesPerEntry(long kib, size_t entries) {
  return entries > 0 ? static_cast<double>(kib) * 1024.0 / static_cast<double>(entries) : 0;
}

// Peak per entry, raw and above the 1-page baseline; returns both.
std::pair<double, double> ReportPerEntry(benchmark::State& state, const Run& run, long baseKiB) {
  const double raw = BytesPerEntry(run.peakKiB, run.entries);
  const double above = BytesPerEntry(run.peakKiB - baseKiB, run.entries);
  state.counters["above_base_MB"] = static_cast<double>(run.peakKiB - baseKiB) / 1024.0;
  state.counters["B/entry"] = raw;
  state.counters["B/entry_above_base"] = above;
  return {raw, above};
}

void BM_OnePage_List(benchmark::State& state) {
  Run run = Measure(state, [] { return RunTiraselCli(Shared().onePage, kListOptions); });
  Report(state, run);
  gBaseListKiB = run.peakKiB;
}
BENCHMARK(BM_OnePage_List)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_OnePage_Tsv(benchmark::State& state) {
  Run run = Measure(state, [] { return RunTiraselCli(Shared().onePage, kTsvOptions); });
  Report(state, run);
  gBaseTsvKiB = run.peakKiB;
}
BENCHMARK(BM_OnePage_Tsv)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Site_List(benchmark::State& state) {
  gList = Measure(state, [] { return RunTiraselCli(Shared().site, kListOptions); });
  Report(state, gList);
  std::tie(gListBytesPerEntry, gListAboveBasePerEntry) =
      ReportPerEntry(state, gList, gBaseListKiB);
}
BENCHMARK(BM_Site_List)->Iterations(2)->UseManualTime()->Unit(benchmark::kSecond);

// The list of the same entries (--groups 3 alone): the groups make the
// entries about 200 times as many, and this row tells their cost from the
// cost of the columns.
const std::vector<std::string> kListGroupsOptions = {"--groups", "3"};
Run gListGroups;

void BM_Site_ListGroups(benchmark::State& state) {
  gListGroups = Measure(state, [] { return RunTiraselCli(Shared().site, kListGroupsOptions); });
  Report(state, gListGroups);
  ReportPerEntry(state, gListGroups, gBaseListKiB);
  if (gList.seconds > 0) state.counters["time_x_list"] = gListGroups.seconds / gList.seconds;
}
BENCHMARK(BM_Site_ListGroups)->Iterations(2)->UseManualTime()->Unit(benchmark::kSecond);

void BM_Site_TsvContextGroups(benchmark::State& state) {
  Run run = Measure(state, [] { return RunTiraselCli(Shared().site, kTsvOptions); });
  Report(state, run);
  auto [raw, above] = ReportPerEntry(state, run, gBaseTsvKiB);
  if (gList.seconds > 0) state.counters["time_x_list"] = run.seconds / gList.seconds;  // <= 1.5
  if (gList.cpuSeconds > 0) state.counters["cpu_x_list"] = run.cpuSeconds / gList.cpuSeconds;
  if (gListGroups.seconds > 0)
    state.counters["time_x_list_groups"] = run.seconds / gListGroups.seconds;
  if (gListBytesPerEntry > 0) state.counters["B/entry_x_list"] = raw / gListBytesPerEntry;  // <= 2
  if (gListAboveBasePerEntry > 0)
    state.counters["B/entry_above_base_x_list"] = above / gListAboveBasePerEntry;  // <= 2
}
BENCHMARK(BM_Site_TsvContextGroups)->Iterations(2)->UseManualTime()->Unit(benchmark::kSecond);

// ---- Merging two vocabularies

// Distinct German-looking words (also without regard to case), written in
// UTF-8 as a vocabulary file holds them.
std::vector<std::string> DistinctWords(size_t count) {
  std::vector<std::string> words;
  std::unordered_set<std::string> seen;
  Random random(77);
  for (size_t tries = 0; words.size() < count && tries < 20 * count; ++tries) {
    std::string word = generatedsite::NewContentWord(random);
    std::string key = word;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    if (seen.insert(std::move(key)).second) words.push_back(std::move(word));
  }
  for (std::string& word : words) {
    for (auto [reference, utf8] : {std::pair{"&auml;", "\xC3\xA4"}, {"&ouml;", "\xC3\xB6"},
                                   {"&uuml;", "\xC3\xBC"}, {"&szlig;", "\xC3\x9F"}}) {
      for (size_t at; (at = word.find(reference)) != std::string::npos;)
        word.replace(at, std::string_view(reference).size(), utf8);
    }
  }
  return words;
}

// A vocabulary as --format tsv --sort first writes it: the words in order
// of first occurrence, the earlier ones the more frequent (Zipf), each
// with its pages and the address of its first page, which comes in the
// order of the pages as the crawl went (each page the first of a run of
// words).
void WriteVocabulary(const std::filesystem::path& path, const std::vector<const std::string*>& words,
                     std::uint64_t seed) {
  Random random(seed);
  std::string out = "word\tcount\tpages\tfirst_page\n";
  for (size_t rank = 0; rank < words.size(); ++rank) {
    const std::uint64_t count = 1 + static_cast<std::uint64_t>(
                                        2e5 / std::pow(static_cast<double>(rank) + 1, 0.9));
    const std::uint64_t pages = std::min<std::uint64_t>(10000, 1 + count / (1 + random.Below(4)));
    const int page = static_cast<int>(rank * 10000 / words.size());
    const SiteSpec& site = Shared().site;
    out += *words[rank] + '\t' + std::to_string(count) + '\t' + std::to_string(pages) +
           "\thttp://127.0.0.1:8080" + site.root + site.PageDir(page) +
           generatedsite::PageFile(page) + '\n';
  }
  std::ofstream(path, std::ios::binary) << out;
}

// Two vocabularies of kMergeWords words: the second half of the first file
// is also in the second, in turn with words of the second alone; one in
// ten of them capitalized otherwise, as a sentence's first word is.
struct MergeInput {
  TempDirectory dir{"tirasel-bench-merge"};
  size_t distinct = 0;

  MergeInput() {
    const size_t half = static_cast<size_t>(kMergeWords) / 2;
    std::vector<std::string> words = DistinctWords(3 * half);
    std::vector<std::string> respelled;
    respelled.reserve(half / 10 + 1);
    std::vector<const std::string*> first, second;
    for (size_t i = 0; i < 2 * half; ++i) first.push_back(&words[i]);
    for (size_t k = 0; k < half; ++k) {
      const std::string& shared = words[half + k];
      if (k % 10 == 0 && !shared.empty() && shared[0] >= 'a' && shared[0] <= 'z') {
        generatedsite::Capitalize(respelled.emplace_back(shared));
        second.push_back(&respelled.back());
      } else {
        second.push_back(&shared);
      }
      second.push_back(&words[2 * half + k]);
    }
    WriteVocabulary(dir / "a.tsv", first, 5);
    WriteVocabulary(dir / "b.tsv", second, 6);
    distinct = words.size();
  }
};

void BM_Merge(benchmark::State& state) {
  static const MergeInput input;
  Run run = Measure(state, [&] {
    const auto output = input.dir / "out.tsv";
    Run once = Timed({kTiraselCli, "--merge", (input.dir / "a.tsv").string(), "--merge",
                      (input.dir / "b.tsv").string(), "--format", "tsv", "--output",
                      output.string()},
                     input.dir / "log.txt");
    once.entries = Entries(output, true);
    if (once.failure.empty() && once.entries != input.distinct) {
      once.failure = std::to_string(once.entries) + " entries merged of " +
                     std::to_string(input.distinct) + " distinct words";
    }
    return once;
  });
  state.counters["s/run"] = run.seconds;  // target < 1
  state.counters["cpu_s/run"] = run.cpuSeconds;
  state.counters["peak_MB"] = static_cast<double>(run.peakKiB) / 1024.0;
  state.counters["entries"] = static_cast<double>(run.entries);
  state.counters["input_MB"] =
      static_cast<double>(std::filesystem::file_size(input.dir / "a.tsv") +
                          std::filesystem::file_size(input.dir / "b.tsv")) / kMiB;
}
BENCHMARK(BM_Merge)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- The slice, next to cewl

void BM_Slice_Cewl(benchmark::State& state) {
  if (!std::filesystem::exists(kCewl)) {
    state.SkipWithError("cewl is not installed");
    return;
  }
  const SiteSpec& slice = Shared().slice;
  Run run = Measure(state, [&] {
    Run once = RunCewl(slice, {"-c", "-g", "3"});
    if (once.failure.empty() && once.pages != static_cast<size_t>(slice.pages)) {
      once.failure = "cewl fetched " + std::to_string(once.pages) + " pages of " +
                     std::to_string(slice.pages);
    }
    return once;
  });
  Report(state, run);
  gCewlSeconds = run.seconds;
}
BENCHMARK(BM_Slice_Cewl)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_Slice_TiraselCli(benchmark::State& state) {
  Run run = Measure(state, [] {
    return RunTiraselCli(Shared().slice, {"--format", "count", "--groups", "3"});
  });
  Report(state, run);
  if (gCewlSeconds > 0) state.counters["time_x_cewl"] = run.seconds / gCewlSeconds;
}
BENCHMARK(BM_Slice_TiraselCli)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  return RunBenchmarkProgram(argc, argv, "bench_vocabulary", [] {
    Shared();
    return "sites of " + std::to_string(kSitePages) + " + 1 + " + std::to_string(kSlicePages) +
           " pages generated and served";
  });
}
