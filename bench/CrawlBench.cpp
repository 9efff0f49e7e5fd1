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
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <sys/wait.h>

#include "BenchProcess.h"
#include "MainUnit.h"
#include "ScriptedDialogs.h"
#include "ChildProcess.h"
#include "NginxServer.h"
#include "TempDirectory.h"
#include "SplitMix.h"

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::NginxServer;
using testsupport::TempDirectory;

const int kSitePages = EnvInt("TIRASEL_BENCH_SITE_PAGES", 10000);
const int kSlicePages = EnvInt("TIRASEL_BENCH_SLICE_PAGES", 1000);
constexpr size_t kPageBytes = 10 * 1024;
constexpr int kLinksPerPage = 50;
constexpr size_t kVocabularySize = 30000;
constexpr int kRunTimeoutMs = 300000;
constexpr const char* kTiraselCli = TIRASEL_CLI_PATH;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// ---- Pseudo-random German-looking text

using Random = testsupport::SplitMix64;

// Umlauts as the references old German pages use; both crawlers decode them.
const char* const kOnsets[] = {"b",    "br", "d",  "f",   "fl", "g",  "gr", "h", "k",   "kl",
                               "kr",   "l",  "m",  "n",   "p",  "pf", "r",  "s", "sch", "schl",
                               "schw", "sp", "st", "str", "t",  "tr", "w",  "z", "zw"};
const char* const kNuclei[] = {"a",  "e",  "i", "o", "u",      "ei",     "au",
                               "ie", "eu", "a", "e", "&auml;", "&ouml;", "&uuml;"};
const char* const kCodas[] = {"",   "",   "n",  "r",  "l",  "s",  "t",  "ch", "ck",      "ng",
                              "nd", "rt", "ft", "st", "tz", "ss", "ll", "rn", "&szlig;", "mm"};
const char* const kNounEndings[] = {"ung",  "heit", "keit", "schaft", "ling", "er",
                                    "chen", "nis",  "e",    "",       "",     ""};
const char* const kVerbPrefixes[] = {"",    "",   "ver", "be",  "ge",  "ent", "er",
                                     "zer", "an", "auf", "aus", "ein", "vor"};
const char* const kVerbEndings[] = {"en", "t", "te", "ten", "st", "e"};
const char* const kAdjectiveEndings[] = {"ig", "lich", "isch", "bar", "sam", "los"};
const char* const kInflections[] = {"", "e", "en", "er", "es"};

// The most frequent words of German text, most frequent first.
const char* const kFunctionWords[] = {
    "der",   "die",   "und",   "in",        "den",   "von",    "zu",   "das",   "mit",
    "sich",  "des",   "auf",   "f&uuml;r",  "ist",   "im",     "dem",  "nicht", "ein",
    "eine",  "als",   "auch",  "es",        "an",    "werden", "aus",  "er",    "hat",
    "dass",  "sie",   "nach",  "wird",      "bei",   "einer",  "um",   "am",    "sind",
    "noch",  "wie",   "einem", "&uuml;ber", "einen", "so",     "zum",  "war",   "haben",
    "nur",   "oder",  "aber",  "vor",       "zur",   "bis",    "mehr", "durch", "man",
    "sowie", "seit",  "wurde", "ihre",      "unter", "wenn",   "sehr", "schon", "kann",
    "immer", "diese", "wir",   "ihr",       "gegen", "ohne",   "weil", "dort",  "hier"};

std::string Syllable(Random& random) {
  return std::string(random.Pick(kOnsets)) + random.Pick(kNuclei) + random.Pick(kCodas);
}

std::string Stem(Random& random) {
  std::string stem = Syllable(random);
  if (random.Below(3) != 0) stem += Syllable(random);
  return stem;
}

void Capitalize(std::string& word) {
  if (!word.empty() && word[0] >= 'a' && word[0] <= 'z')
    word[0] = static_cast<char>(word[0] - 'a' + 'A');
}

// Nouns (often compounds), verbs and adjectives in the proportions of
// running text.
std::string NewContentWord(Random& random) {
  size_t kind = random.Below(10);
  if (kind < 5) {
    std::string noun = Stem(random);
    if (random.Below(3) == 0) noun += (random.Below(2) ? "s" : "") + Stem(random);
    noun += random.Pick(kNounEndings);
    Capitalize(noun);
    return noun;
  }
  if (kind < 8)
    return std::string(random.Pick(kVerbPrefixes)) + Stem(random) + random.Pick(kVerbEndings);
  return Stem(random) + random.Pick(kAdjectiveEndings) + random.Pick(kInflections);
}

// Distinct words in order of frequency, drawn by Zipf's law as words of
// natural language are.
class Vocabulary {
 public:
  explicit Vocabulary(size_t size) {
    std::unordered_set<std::string> seen;
    for (const char* word : kFunctionWords) Add(word, seen);
    Random random(42);
    for (size_t tries = 0; words_.size() < size && tries < 20 * size; ++tries)
      Add(NewContentWord(random), seen);
    double sum = 0;
    for (size_t rank = 0; rank < words_.size(); ++rank) {
      sum += 1.0 / std::pow(static_cast<double>(rank) + 2.7, 1.05);
      cumulative_.push_back(sum);
    }
  }

  const std::string& Draw(Random& random) const {
    double at = random.Unit() * cumulative_.back();
    auto it = std::upper_bound(cumulative_.begin(), cumulative_.end(), at);
    size_t rank = std::min(static_cast<size_t>(it - cumulative_.begin()), words_.size() - 1);
    return words_[rank];
  }

 private:
  void Add(std::string word, std::unordered_set<std::string>& seen) {
    if (seen.insert(word).second) words_.push_back(std::move(word));
  }

  std::vector<std::string> words_;
  std::vector<double> cumulative_;
};

const Vocabulary& SharedVocabulary() {
  static const Vocabulary vocabulary(kVocabularySize);
  return vocabulary;
}

std::string Sentence(Random& random) {
  std::string text;
  size_t count = 6 + random.Below(10);
  for (size_t i = 0; i < count; ++i) {
    std::string word = SharedVocabulary().Draw(random);
    if (i == 0) Capitalize(word);
    if (i > 0) text += ' ';
    text += word;
    if (i + 1 < count && random.Below(9) == 0) text += ',';
  }
  return text + (random.Below(12) == 0 ? "?" : ".");
}

std::string Words(Random& random, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    std::string word = SharedVocabulary().Draw(random);
    Capitalize(word);
    text += (i ? " " : "") + word;
  }
  return text;
}

// ---- The site

// Where page n lives, relative to the site's root: the start page in the
// root, the others spread over ten sections with four subsections each.
const std::vector<std::string>& Directories() {
  static const std::vector<std::string> dirs = [] {
    std::vector<std::string> list{""};
    char dir[16];
    for (int s = 0; s < 10; ++s) {
      std::snprintf(dir, sizeof dir, "s%d/", s);
      list.push_back(dir);
    }
    for (int s = 0; s < 10; ++s) {
      for (int k = 0; k < 4; ++k) {
        std::snprintf(dir, sizeof dir, "s%d/k%d/", s, k);
        list.push_back(dir);
      }
    }
    return list;
  }();
  return dirs;
}

std::string PageFile(int page) {
  if (page == 0) return "index.html";
  char name[32];
  std::snprintf(name, sizeof name, "p%05d.html", page);
  return name;
}

std::vector<std::string_view> Segments(std::string_view dir) {
  std::vector<std::string_view> parts;
  for (size_t slash; (slash = dir.find('/')) != std::string_view::npos;
       dir.remove_prefix(slash + 1)) {
    parts.push_back(dir.substr(0, slash));
  }
  return parts;
}

// The link as a page author writes it: up with "../" as far as needed, then
// down to the target.
std::string RelativeLink(const std::string& fromDir, const std::string& toDir,
                         const std::string& file) {
  auto from = Segments(fromDir);
  auto to = Segments(toDir);
  size_t common = 0;
  while (common < from.size() && common < to.size() && from[common] == to[common]) ++common;
  std::string link;
  for (size_t i = common; i < from.size(); ++i) link += "../";
  for (size_t i = common; i < to.size(); ++i) link += std::string(to[i]) + "/";
  return link + file;
}

struct SiteSpec {
  std::string root;  // URL path of the site's root, "/site/"
  int pages;
  std::uint64_t seed;
  int fanOut;  // children per page, see LinkTargets
  // All pages in the root directory. cewl requests "../" links unresolved
  // ("/s9/../s8/p.html"), so on a nested site it fetches each page under
  // many spellings.
  bool flat = false;

  std::string StartPath() const { return root + PageFile(0); }
  std::string PageDir(int page) const {
    return page == 0 || flat ? "" : Directories()[static_cast<size_t>(page) % Directories().size()];
  }
  std::string PagePath(int page) const { return root + PageDir(page) + PageFile(page); }
  // Link steps from the start page to the farthest page.
  int Depth() const {
    int depth = 0;
    for (long long reached = 1, level = 1; reached < pages && depth < 64; ++depth)
      reached += level *= fanOut;
    return depth;
  }
};

// Page n links to its children n*fanOut+1.. (so every page is reached
// within Depth() steps from the start page), to its parent, and to random
// pages of the site, up to kLinksPerPage links.
std::vector<int> LinkTargets(const SiteSpec& site, int page, Random& random) {
  std::vector<int> targets;
  for (int child = page * site.fanOut + 1;
       child <= page * site.fanOut + site.fanOut && child < site.pages; ++child) {
    targets.push_back(child);
  }
  if (page > 0) targets.push_back((page - 1) / site.fanOut);
  while (targets.size() < kLinksPerPage)
    targets.push_back(static_cast<int>(random.Below(static_cast<size_t>(site.pages))));
  return targets;
}

// Links relative to the page; every seventh of the random ones written from
// the server's root instead, which automatic mode does not follow.
std::string LinkList(const SiteSpec& site, int page, Random& random) {
  std::string list = "<ul class=\"nav\">\n";
  const size_t treeLinks = static_cast<size_t>(std::min(site.fanOut + 1, kLinksPerPage));
  std::vector<int> targets = LinkTargets(site, page, random);
  for (size_t i = 0; i < targets.size(); ++i) {
    int target = targets[i];
    std::string href =
        i >= treeLinks && i % 7 == 0
            ? site.PagePath(target)
            : RelativeLink(site.PageDir(page), site.PageDir(target), PageFile(target));
    list += "<li><a href=\"" + href + "\">" + Words(random, 1 + random.Below(3)) + "</a></li>\n";
  }
  return list + "</ul>\n";
}

std::string MakePage(const SiteSpec& site, int page) {
  Random random(site.seed * 1000003u + static_cast<std::uint64_t>(page));
  std::string title = Words(random, 2 + random.Below(3));
  std::string head =
      "<!DOCTYPE html>\n<html>\n<head>\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\n"
      "<title>" +
      title + "</title>\n</head>\n<body>\n<h1>" + title + "</h1>\n";
  std::string links = LinkList(site, page, random);
  const std::string tail = "</body>\n</html>\n";
  std::string body;
  while (head.size() + body.size() + links.size() + tail.size() < kPageBytes) {
    std::string paragraph = "<p>";
    for (size_t n = 3 + random.Below(5); n > 0; --n)
      paragraph += Sentence(random) + (n > 1 ? " " : "");
    body += paragraph + "</p>\n";
  }
  return head + body + links + tail;
}

void AddSite(NginxServer& web, const SiteSpec& site) {
  for (int page = 0; page < site.pages; ++page)
    web.AddFile(site.PagePath(page), MakePage(site, page));
}

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

// The access log's size now; PagesServedSince counts what comes after.
std::uintmax_t AccessLogMark() {
  std::error_code ignored;
  return std::filesystem::file_size(Shared().web.AccessLog(), ignored);
}

// Distinct pages under `root` served with status 200 since `mark`.
size_t PagesServedSince(std::uintmax_t mark, const std::string& root) {
  std::string log = testsupport::ReadFile(Shared().web.AccessLog());
  std::unordered_set<std::string> pages;
  size_t at = std::min<size_t>(log.size(), mark);
  for (size_t end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string_view line(log.data() + at, end - at);
    size_t get = line.find("\"GET ");
    if (get == std::string_view::npos) continue;
    std::string_view rest = line.substr(get + 5);
    std::string_view path = rest.substr(0, rest.find(' '));
    size_t quote = rest.find("\" ");
    if (quote != std::string_view::npos && rest.substr(quote + 2, 4) == "200 " &&
        path.starts_with(root)) {
      pages.emplace(path);
    }
  }
  return pages.size();
}

size_t CountOf(std::string_view text, std::string_view what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string_view::npos;
       at = text.find(what, at + what.size()))
    ++count;
  return count;
}

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
  auto mark = AccessLogMark();
  RunResult result{TimeProgram({"/usr/bin/wget", "--recursive", "--level=inf", "--no-parent", "-q",
                                "-P", dir.Path().string(), Shared().Url(spec)},
                               dir / "log.txt", kRunTimeoutMs)};
  result.pages = PagesServedSince(mark, spec.root);
  return result;
}

RunResult RunCewl(const SiteSpec& spec) {
  TempDirectory dir("tirasel-bench-cewl");
  auto mark = AccessLogMark();
  RunResult result{TimeProgram({"/usr/bin/cewl", "-d", std::to_string(spec.Depth()), "-w",
                                (dir / "words.txt").string(), Shared().Url(spec)},
                               dir / "log.txt", kRunTimeoutMs)};
  result.pages = PagesServedSince(mark, spec.root);
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
