// Reading documents with tirasel-cli --documents, each row next to the tool
// people use for the job. The documents are written by MakeDocumentSite.py
// (reportlab, python-docx, odfpy, openpyxl through /usr/bin/python3) into a
// directory of the run and served by nginx on loopback:
//  - a PDF of about 20 MB (compressed, as reportlab writes it) holding
//    TIRASEL_BENCH_DOCUMENTS_TEXT_MB (default 38) MB of German-looking text,
//    linked from a page:
//    - pdftotext -enc UTF-8 (Poppler, the library the worker reads PDFs
//      with) on the file: time, words (whitespace-separated tokens of its
//      output) and words per second;
//    - the worker's reader called in this process on the same bytes
//      (Poppler and the text built from it, no crawl, no process);
//    - tirasel-cli --parallel 1 on the page without --documents (start,
//      the page, the output: the cost the document adds to);
//    - tirasel-cli --documents --parallel 1 on the page: the HTTP fetch of
//      the PDF, the hand-over to the worker and the words harvested. Words
//      per second are pdftotext's words over tirasel's time; target:
//      x_pdftotext >= 0.8. Also given less the page-only run
//      (x_pdftotext_less_page). A sample of pdftotext's distinct words must
//      all be in tirasel's list (which holds a word once whatever its case);
//  - a site of 100 documents (40 PDF, 30 .docx, 20 .odt, 10 .xlsx, a few
//    KB of text each, 70 different authors, some in two documents) on one
//    index page: cewl --meta (exiftool for the metadata) and tirasel-cli
//    --documents --names, time and distinct names found, those of the
//    expected authors among them, and the documents each fetched.
// Times ("s") are the mean of a row's runs: 3 each, cewl's 1 (about 10 s).
// cpu_s is the processor time of a run, with that of the children a program
// waited for (tirasel-cli's worker); the ratios of the x_..._cpu counters do
// not move with the load of other processes, as the wall times' do.
// Each program's peak_MB is that of the largest of its processes (with
// --documents, tirasel-cli or its worker).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "BenchProcess.h"
#include "DocumentReader.h"
#include "GeneratedSite.h"
#include "NginxServer.h"
#include "TempDirectory.h"

namespace {

namespace fs = std::filesystem;
using testsupport::NginxServer;
using testsupport::TempDirectory;

const int kTextMiB = EnvInt("TIRASEL_BENCH_DOCUMENTS_TEXT_MB", 38);
constexpr int kRunTimeoutMs = 300000;
constexpr size_t kSampleWords = 500;
constexpr size_t kSiteDocuments = 100;
constexpr const char* kTiraselCli = TIRASEL_CLI_PATH;
constexpr const char* kMakeSite = TIRASEL_MAKE_DOCUMENT_SITE;
constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kPdftotext = "/usr/bin/pdftotext";
constexpr const char* kCewl = "/usr/bin/cewl";
constexpr double kMiB = 1024.0 * 1024.0;

// The lines of a text, the empty ones left out.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// The documents written once, served by nginx.
struct Fixture {
  TempDirectory dir{"tirasel-bench-documents"};
  NginxServer web;
  std::string bigPdf;  // the bytes
  int bigPdfPages = 0;
  std::set<std::string> expectedNames;

  Fixture() {
    ProgramRun made =
        TimeProgram({kPython, kMakeSite, dir.Path().string(), std::to_string(kTextMiB)},
                    dir / "make.log", kRunTimeoutMs);
    const std::string log = testsupport::ReadFile(dir / "make.log");
    if (!made.failure.empty()) throw std::runtime_error(kMakeSite + (": " + log));
    bigPdfPages = std::atoi(log.c_str());
    bigPdf = testsupport::ReadFile(dir / "big.pdf");
    web.AddFile("/big.html", testsupport::ReadFile(dir / "big.html"));
    web.AddFile("/big.pdf", bigPdf);
    for (const auto& entry : fs::directory_iterator(dir / "docs"))
      web.AddFile("/docs/" + entry.path().filename().string(), testsupport::ReadFile(entry.path()));
    for (const std::string& name : Lines(testsupport::ReadFile(dir / "expected-names.txt")))
      expectedNames.insert(name);
    web.Start();
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

// One run of a program: its time, processor time and peak, and why it
// failed if it did.
struct Run {
  double seconds = 0;
  long peakKiB = 0;
  std::string failure;
  double cpuSeconds = 0;
};

Run Timed(const std::vector<std::string>& argv, const fs::path& log) {
  ProgramPeak peak = TimeProgramPeak(argv, log, kRunTimeoutMs);
  Run run{peak.seconds, peak.peakKiB, {}, peak.cpuSeconds};
  if (!peak.ok)
    run.failure =
        argv[0] + " failed or did not end in time: " + testsupport::ReadFile(log).substr(0, 300);
  return run;
}

// Runs `once` per iteration of the row and reports the mean time and the
// highest peak; nullopt after failing the row on a failed run.
template <typename Once>
std::optional<Run> Measure(benchmark::State& state, Once once) {
  Run total;
  for (auto _ : state) {
    Run run = once();
    if (!run.failure.empty()) {
      state.SkipWithError(run.failure.c_str());
      return std::nullopt;
    }
    state.SetIterationTime(run.seconds);
    total.seconds += run.seconds;
    total.cpuSeconds += run.cpuSeconds;
    total.peakKiB = std::max(total.peakKiB, run.peakKiB);
  }
  const auto runs = static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
  total.seconds /= runs;
  total.cpuSeconds /= runs;
  state.counters["s"] = total.seconds;
  state.counters["cpu_s"] = total.cpuSeconds;
  if (total.peakKiB > 0) state.counters["peak_MB"] = static_cast<double>(total.peakKiB) / 1024.0;
  return total;
}

// ---- The big PDF

std::vector<std::string> WhitespaceTokens(const std::string& text) {
  std::vector<std::string> tokens;
  std::istringstream in(text);
  for (std::string token; in >> token;) tokens.push_back(std::move(token));
  return tokens;
}

// What the earlier rows found, for the later rows' ratios and checks.
double gPdftotextSeconds = 0, gPdftotextCpuSeconds = 0, gPageOnlySeconds = 0,
       gPageOnlyCpuSeconds = 0;
size_t gPdftotextWords = 0;
std::vector<std::string> gSampleWords;  // distinct words of pdftotext, spread over the text

void TakeSample(const std::vector<std::string>& tokens) {
  std::vector<std::string> distinct;
  std::unordered_set<std::string> seen;
  for (const std::string& token : tokens)
    if (seen.insert(token).second) distinct.push_back(token);
  const size_t step = std::max<size_t>(1, distinct.size() / kSampleWords);
  gSampleWords.clear();
  for (size_t i = 0; i < distinct.size(); i += step) gSampleWords.push_back(distinct[i]);
}

void ReportPdfSize(benchmark::State& state) {
  state.counters["pdf_MB"] = static_cast<double>(Shared().bigPdf.size()) / kMiB;
  state.counters["pdf_pages"] = Shared().bigPdfPages;
}

void BM_BigPdf_Pdftotext(benchmark::State& state) {
  TempDirectory dir("tirasel-bench-pdftotext");
  const fs::path textFile = dir / "text.txt";
  // Its output, the text, is the log: written to a file as tirasel's list is.
  std::optional<Run> run = Measure(state, [&] {
    fs::remove(textFile);  // the log is appended to
    return Timed({kPdftotext, "-enc", "UTF-8", (Shared().dir / "big.pdf").string(), "-"}, textFile);
  });
  if (!run) return;
  const std::string text = testsupport::ReadFile(textFile);
  const std::vector<std::string> tokens = WhitespaceTokens(text);
  gPdftotextSeconds = run->seconds;
  gPdftotextCpuSeconds = run->cpuSeconds;
  gPdftotextWords = tokens.size();
  TakeSample(tokens);
  ReportPdfSize(state);
  state.counters["text_MB"] = static_cast<double>(text.size()) / kMiB;
  state.counters["words"] = static_cast<double>(tokens.size());
  state.counters["words_per_s"] = static_cast<double>(tokens.size()) / run->seconds;
}

void BM_BigPdf_ReaderInProcess(benchmark::State& state) {
  size_t textBytes = 0;
  std::optional<Run> run = Measure(state, [&] {
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    std::optional<TDocumentContent> content =
        ReadDocument(TDocumentKind::Pdf, Shared().bigPdf, TDocumentLimits{}, error);
    Run once{std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0,
             content ? "" : "the reader failed: " + error,
             static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC};
    textBytes = content ? content->Text.size() : 0;
    return once;
  });
  if (!run) return;
  state.counters["text_MB"] = static_cast<double>(textBytes) / kMiB;
  state.counters["words_per_s"] = static_cast<double>(gPdftotextWords) / run->seconds;
  state.counters["x_pdftotext"] = gPdftotextSeconds / run->seconds;
  if (run->cpuSeconds > 0)
    state.counters["x_pdftotext_cpu"] = gPdftotextCpuSeconds / run->cpuSeconds;
}

// tirasel-cli at --parallel 1 on the page linking the PDF; its word list.
Run RunTiraselOnBigPage(const std::vector<std::string>& options, std::string& words) {
  TempDirectory dir("tirasel-bench-documents-cli");
  std::vector<std::string> argv = {kTiraselCli, "--parallel", "1", "--output",
                                   (dir / "words.txt").string()};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(Shared().web.Url("/big.html"));
  Run run = Timed(argv, dir / "log.txt");
  words = testsupport::ReadFile(dir / "words.txt");
  return run;
}

void BM_BigPdf_TiraselPageOnly(benchmark::State& state) {
  std::string words;
  std::optional<Run> run = Measure(state, [&] { return RunTiraselOnBigPage({}, words); });
  if (!run) return;
  gPageOnlySeconds = run->seconds;
  gPageOnlyCpuSeconds = run->cpuSeconds;
}

// The word without regard to case, as tirasel's list tells words apart:
// ASCII and the Latin-1 letters of UTF-8 (\xC3\x80 to \xC3\x9E but for
// the multiplication sign) in lower case.
std::string FoldCase(std::string word) {
  for (size_t i = 0; i < word.size(); ++i) {
    const auto c = static_cast<unsigned char>(word[i]);
    if (c >= 'A' && c <= 'Z') {
      word[i] = static_cast<char>(c + 32);
    } else if (c == 0xC3 && i + 1 < word.size()) {
      const auto next = static_cast<unsigned char>(word[++i]);
      if (next >= 0x80 && next <= 0x9E && next != 0x97) word[i] = static_cast<char>(next + 32);
    }
  }
  return word;
}

// The sample words missing from tirasel's list. The list holds each word
// once whatever its case, spelt as first found.
size_t MissingSampleWords(const std::string& list) {
  std::unordered_set<std::string> words;
  for (std::string& line : Lines(list)) words.insert(FoldCase(std::move(line)));
  return static_cast<size_t>(
      std::count_if(gSampleWords.begin(), gSampleWords.end(),
                    [&](const std::string& w) { return !words.contains(FoldCase(w)); }));
}

void BM_BigPdf_Tirasel(benchmark::State& state) {
  std::string words;
  std::optional<Run> run =
      Measure(state, [&] { return RunTiraselOnBigPage({"--documents"}, words); });
  if (!run) return;
  ReportPdfSize(state);
  state.counters["list_words"] = static_cast<double>(Lines(words).size());
  state.counters["words_per_s"] = static_cast<double>(gPdftotextWords) / run->seconds;
  state.counters["x_pdftotext"] = gPdftotextSeconds / run->seconds;  // target >= 0.8
  const double lessPage = run->seconds - gPageOnlySeconds;
  state.counters["s_less_page"] = lessPage;
  if (lessPage > 0) state.counters["x_pdftotext_less_page"] = gPdftotextSeconds / lessPage;
  if (run->cpuSeconds > 0)
    state.counters["x_pdftotext_cpu"] = gPdftotextCpuSeconds / run->cpuSeconds;
  const double cpuLessPage = run->cpuSeconds - gPageOnlyCpuSeconds;
  if (cpuLessPage > 0)
    state.counters["x_pdftotext_cpu_less_page"] = gPdftotextCpuSeconds / cpuLessPage;
  const size_t missing = MissingSampleWords(words);
  state.counters["sample_words"] = static_cast<double>(gSampleWords.size());
  state.counters["sample_missing"] = static_cast<double>(missing);
  if (missing > 0 || gSampleWords.empty())
    state.SkipWithError("pdftotext's sample words are not all in tirasel's list");
}

// ---- The site of 100 documents

// names: the distinct lines written; names_expected: those that are one of
// the authors as written (cewl also gives a PDF's names in the escapes of
// its strings, "J\374rgen"); documents_fetched: the documents nginx served.
void ReportNames(benchmark::State& state, const std::vector<std::string>& names,
                 std::uintmax_t logMark) {
  const std::set<std::string> distinct(names.begin(), names.end());
  const auto& expected = Shared().expectedNames;
  const auto known = std::count_if(distinct.begin(), distinct.end(), [&](const std::string& name) {
    return expected.contains(name);
  });
  state.counters["names"] = static_cast<double>(distinct.size());
  state.counters["names_expected"] = static_cast<double>(known);
  state.counters["names_wanted"] = static_cast<double>(expected.size());
  state.counters["documents_fetched"] =
      static_cast<double>(generatedsite::PagesServedSince(Shared().web, logMark, "/docs/0"));
}

// The names cewl prints after its "Meta data found" heading.
std::vector<std::string> CewlNames(const std::string& output) {
  const std::string heading = "Meta data found\n---------------\n";
  const size_t at = output.find(heading);
  if (at == std::string::npos) return {};
  return Lines(output.substr(at + heading.size()));
}

void BM_Site_CewlMeta(benchmark::State& state) {
  if (!fs::exists(kCewl) || !fs::exists("/usr/bin/exiftool")) {
    state.SkipWithError("needs cewl and exiftool (apt-get install cewl libimage-exiftool-perl)");
    return;
  }
  std::vector<std::string> names;
  const auto mark = generatedsite::AccessLogMark(Shared().web);
  std::optional<Run> run = Measure(state, [&] {
    TempDirectory dir("tirasel-bench-documents-cewl");
    fs::create_directory(dir / "meta");
    Run once = Timed({kCewl, "-d", "2", "--meta", "--meta-temp-dir", (dir / "meta").string(), "-w",
                      (dir / "out.txt").string(), Shared().web.Url("/docs/index.html")},
                     dir / "log.txt");
    names = CewlNames(testsupport::ReadFile(dir / "out.txt"));
    return once;
  });
  if (run) ReportNames(state, names, mark);
}

void BM_Site_TiraselNames(benchmark::State& state) {
  std::vector<std::string> names;
  const auto mark = generatedsite::AccessLogMark(Shared().web);
  std::optional<Run> run = Measure(state, [&] {
    TempDirectory dir("tirasel-bench-documents-names");
    Run once =
        Timed({kTiraselCli, "--documents", "--names", (dir / "names.txt").string(), "--output",
               (dir / "words.txt").string(), Shared().web.Url("/docs/index.html")},
              dir / "log.txt");
    names = Lines(testsupport::ReadFile(dir / "names.txt"));
    return once;
  });
  if (run) ReportNames(state, names, mark);
}

BENCHMARK(BM_BigPdf_Pdftotext)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_BigPdf_ReaderInProcess)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_BigPdf_TiraselPageOnly)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_BigPdf_Tirasel)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Site_CewlMeta)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Site_TiraselNames)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  try {
    const auto start = std::chrono::steady_clock::now();
    Shared();
    std::fprintf(stderr, "bench_documents: documents written and served in %.1f s\n",
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_documents: %s\n", e.what());
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
