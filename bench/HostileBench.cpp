// Pages and lists built to hurt: the peak memory and time of the run's page
// processing for pages of one tag per byte or two, against realistic markup
// of the same size; lookups with keys that all collide under a fixed hash;
// and many SetWordAt / DeleteWordAt calls on a large word list.
#include <benchmark/benchmark.h>
#include <random>
#include <string>
#include <vector>

#include "BenchPages.h"
#include "CrawlLists.h"
#include "HtmlPageHandler.h"
#include "FixedHashes.h"
#include "MeasureInChild.h"
#include "WordHarvest.h"

namespace {

constexpr size_t kMiB = 1024 * 1024;

std::string Repeat(std::string_view unit, size_t size) {
  std::string out;
  out.reserve(size + unit.size());
  while (out.size() < size) out += unit;
  return out;
}

// 1,000,000 distinct links, one per line: about 36 MB.
std::string LinksPage() {
  std::string page;
  page.reserve(37 * kMiB);
  for (int i = 0; i < 1'000'000; ++i)
    page += "<a href=\"seite" + std::to_string(10'000'000 + i) + ".html\">x</a>\n";
  return page;
}

// Five-letter words, all different, one space apart: every word of the
// page is new to the word list.
std::string DistinctWordsPage(size_t size) {
  std::string page;
  page.reserve(size + 8);
  for (uint64_t n = 0; page.size() < size; ++n) {
    uint64_t rest = n;
    for (int i = 0; i < 5; ++i, rest /= 26) page += static_cast<char>('a' + rest % 26);
    page += ' ';
  }
  return page;
}

std::string HostilePage(int kind, size_t size) {
  switch (kind) {
    case 0:
      return Repeat(">", size);
    case 1:
      return Repeat("<a>", size);
    case 2:
      return RealisticPage(size);
    case 3:
      return LinksPage();
    case 4:
      return "<a " + Repeat("x ", size);  // one tag, a parameter per two bytes
    default:
      return DistinctWordsPage(size);
  }
}

class TQuietHost : public TLinkFollowHost {
 public:
  void ProcessPendingEvents() override {}
  bool AutomaticMode() override { return true; }
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
};

struct TPageFigures {
  double seconds = 0;
  double pageBytes = 0;
  double peakBytes = 0;  // above the process's size before the page was built
};

// In a child process, so that the peak belongs to this page alone: builds
// the page, holds it as the run's page buffer would, cuts it into lines and
// runs the run's page processing on it.
TPageFigures MeasurePage(int kind, size_t size) {
  return MeasureInChild<TPageFigures>([&] {
    long before = MaxRssKiB();
    TPageFigures figures;
    std::string page = HostilePage(kind, size);
    figures.pageBytes = static_cast<double>(page.size());
    double start = CpuSeconds();
    TCrawlLists lists;
    TQuietHost host;
    TLinkFollower follower(lists, host);
    follower.Link = ResolveLink("http://127.0.0.1/index.html", "");
    lists.SiteBases = {follower.Link.LinkDir, follower.Link.LinkDir};
    WordList words;
    TWordHarvest harvest(words, nullptr);
    THTMLParser parser;
    SplitLines(page.data(), page.size(), parser.Lines);
    HarvestPageLines(parser, follower, harvest);
    figures.seconds = CpuSeconds() - start;
    figures.peakBytes = static_cast<double>(MaxRssKiB() - before) * 1024;
    return figures;
  });
}

// range(0): 0 ">" pages, 1 "<a>" pages, 2 realistic markup, 3 the links
// page, 4 one tag of many parameters, 5 distinct words; range(1): page size
// in MiB (ignored by the links page).
void BM_PagePeakMemory(benchmark::State& state) {
  for (auto _ : state) {
    TPageFigures figures =
        MeasurePage(static_cast<int>(state.range(0)), static_cast<size_t>(state.range(1)) * kMiB);
    state.SetIterationTime(figures.seconds);
    state.counters["page_MB"] = figures.pageBytes / kMiB;
    state.counters["peak_MB"] = figures.peakBytes / kMiB;
    state.counters["peak_per_page_byte"] =
        figures.pageBytes > 0 ? figures.peakBytes / figures.pageBytes : 0;
    state.counters["MB_per_s"] =
        figures.seconds > 0 ? figures.pageBytes / kMiB / figures.seconds : 0;
  }
}
BENCHMARK(BM_PagePeakMemory)
    ->ArgsProduct({{0, 1, 2}, {10, 50}})
    ->Args({3, 36})
    ->Args({4, 50})
    ->Args({5, 50})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Colliding keys: all of them fall into the same bucket of the final table
// under the fixed hashes the indexes used before they were keyed.

constexpr size_t kCollidingKeys = 4096;
// The tables grow to at least four slots per key: 2^14 slots for 4096 keys.
constexpr uint32_t kBucketMask = (1u << 14) - 1;

template <class Hash>
std::vector<std::string> Keys(const char* prefix, bool colliding, Hash hash) {
  if (colliding) return fixedhash::CollidingKeys(prefix, kCollidingKeys, kBucketMask, hash);
  std::vector<std::string> keys;
  for (size_t i = 0; i < kCollidingKeys; ++i) keys.push_back(prefix + std::to_string(i));
  return keys;
}

uint32_t FixedWordHash(std::string_view text) { return fixedhash::Word(text, FoldCase); }

// range(0): 1 keys that collide under the fixed hash, 0 ordinary keys.
void BM_WordListLookups(benchmark::State& state) {
  const bool colliding = state.range(0) != 0;
  static const std::vector<std::string> bad = Keys("w", true, FixedWordHash);
  static const std::vector<std::string> good = Keys("w", false, FixedWordHash);
  const std::vector<std::string>& keys = colliding ? bad : good;
  for (auto _ : state) {
    WordList words;
    for (const std::string& key : keys) {
      if (!words.FindWord(key)) words.AddWord(key);
    }
    for (const std::string& key : keys) benchmark::DoNotOptimize(words.FindWord(key));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(keys.size()) * 2);
}
BENCHMARK(BM_WordListLookups)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_CrawlListLookups(benchmark::State& state) {
  const bool colliding = state.range(0) != 0;
  static const std::vector<std::string> bad = Keys("http://127.0.0.1/p", true, fixedhash::Bytes);
  static const std::vector<std::string> good = Keys("http://127.0.0.1/p", false, fixedhash::Bytes);
  const std::vector<std::string>& keys = colliding ? bad : good;
  for (auto _ : state) {
    TCrawlLists lists;
    for (const std::string& key : keys) {
      lists.PageQueue.Append(key);
      if (!lists.FetchedPages.Contains(key)) lists.FetchedPages.Add(key);
    }
    for (const std::string& key : keys) benchmark::DoNotOptimize(lists.FetchedPages.Contains(key));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(keys.size()) * 3);
}
BENCHMARK(BM_CrawlListLookups)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------------------
// Edits on a 100,000-word list.

constexpr size_t kListWords = 100'000;

WordList& FilledList(WordList& words) {
  for (size_t i = 0; i < kListWords; ++i) words.AddWord("wort" + std::to_string(i));
  return words;
}

// range(0) SetWordAt calls at random places, each with a new caption.
void BM_SetWordAt(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    WordList words;
    FilledList(words);
    std::mt19937 random(3);
    state.ResumeTiming();
    for (int64_t i = 0; i < state.range(0); ++i)
      words.SetWordAt(random() % kListWords, "neu" + std::to_string(i));
  }
}
BENCHMARK(BM_SetWordAt)->Arg(20'000)->Unit(benchmark::kMillisecond);

// range(0) calls of DeleteWordAt(0), then as many at random places.
void BM_DeleteWordAt(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    WordList words;
    FilledList(words);
    std::mt19937 random(4);
    state.ResumeTiming();
    for (int64_t i = 0; i < state.range(0); ++i) words.DeleteWordAt(0);
    for (int64_t i = 0; i < state.range(0); ++i) words.DeleteWordAt(random() % words.WordCount());
    benchmark::DoNotOptimize(words.WordAt(words.WordCount() / 2));
  }
}
BENCHMARK(BM_DeleteWordAt)->Arg(2'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
