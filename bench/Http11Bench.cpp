// What HTTP/1.1 brings to a crawl, on a distant https site and on large pages:
//  - a generated site of 500 pages (the make of bench_parallel) from nginx
//    with TLS and gzip, behind a loopback relay that forwards every piece
//    25 ms late each way (a 50 ms round trip; TCP's handshake is charged a
//    round trip too, TLS's cost theirs):
//    - tirasel-cli --http1.0 (a connection per page) and HTTP/1.1 (persistent
//      connections, compression), each at --parallel 1 and --parallel 4,
//      pages/s; target: HTTP/1.1 at least 2x HTTP/1.0 at the same
//      --parallel;
//    - tirasel-cli --parallel 8 and wget --recursive (keep-alive, one request
//      at a time), pages/s; target: tirasel at least 4x wget;
//  - the German Debian reference (debian-reference-de, 15 pages, 2.3 MB of
//    HTML) from the same nginx on plain loopback, tirasel-cli with
//    --no-compression and with compression: the body bytes nginx sent;
//    target: compressed at most 35% of uncompressed. Without the package
//    these rows are skipped.
// Every tirasel run must fetch every page (its "Done!" count), wget must
// save every page, and the word lists of the runs on one site must agree.
// "connections" is how many connections nginx saw during the row.
// Sizes: TIRASEL_BENCH_HTTP11_PAGES (default 500),
// TIRASEL_BENCH_HTTP11_DELAY_MS (one way, default 25),
// TIRASEL_BENCH_HTTP11_CONNECT_RTT (1: charge the TCP handshake, the
// default; 0: the relay's TCP handshake is free, as on loopback).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BenchPages.h"
#include "BenchProcess.h"
#include "DelayRelay.h"
#include "NginxServer.h"
#include "TempDirectory.h"
#include "TlsCertificates.h"

namespace {

namespace fs = std::filesystem;
using testsupport::DelayRelay;
using testsupport::NginxServer;
using testsupport::TempDirectory;

const int kPages = EnvInt("TIRASEL_BENCH_HTTP11_PAGES", 500);
const int kDelayMs = EnvInt("TIRASEL_BENCH_HTTP11_DELAY_MS", 25);
const bool kChargeConnect = EnvInt("TIRASEL_BENCH_HTTP11_CONNECT_RTT", 1) != 0;
constexpr int kRunTimeoutMs = 300000;
constexpr const char* kTiraselCli = TIRASEL_CLI_PATH;
// Where debian-reference-de puts its HTML pages.
const fs::path kReferenceDir = "/usr/share/debian-reference";
constexpr const char* kReferenceStart = "/reference/index.de.html";

struct RunResult : ProgramRun {
  RunResult() = default;
  explicit RunResult(ProgramRun run) : ProgramRun(std::move(run)) {}
  size_t pages = 0;
  std::string words;
};

// Copies the German pages of the reference below /reference/; their count,
// 0 when the package is not installed.
int AddReferencePages(NginxServer& nginx) {
  int pages = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(kReferenceDir, error)) {
    const std::string name = entry.path().filename().string();
    if (!name.ends_with(".de.html")) continue;
    nginx.AddFile("/reference/" + name, testsupport::ReadFile(entry.path()));
    ++pages;
  }
  return pages;
}

// nginx with the generated site and the reference, and the relay in front
// of its TLS port, started once.
struct Fixture {
  std::map<std::string, std::string> site = LinkedSite(kPages, false);
  NginxServer nginx;
  int referencePages = 0;
  std::unique_ptr<DelayRelay> relay;

  Fixture() {
    const auto& certificate = testsupport::TestCertificates::Shared().Valid();
    nginx.UseTls(certificate.cert, certificate.key);
    nginx.CompressAnswers();
    for (const auto& [path, body] : site) nginx.AddFile(path, body);
    referencePages = AddReferencePages(nginx);
    nginx.Start();
    relay = std::make_unique<DelayRelay>(nginx.TlsPort(), std::chrono::milliseconds(kDelayMs),
                                         kChargeConnect);
  }

  // The certificate names 127.0.0.1, so the relay's address passes too.
  std::string RelayUrl(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(relay->Port()) + path;
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

RunResult RunTirasel(const std::string& url, std::vector<std::string> options) {
  TempDirectory dir("tirasel-bench-http11");
  std::vector<std::string> argv = {kTiraselCli, "--insecure"};
  argv.insert(argv.end(), options.begin(), options.end());
  for (const std::string& arg : {std::string("--output"), (dir / "words.txt").string(), url})
    argv.push_back(arg);
  RunResult result{TimeProgram(argv, dir / "log.txt", kRunTimeoutMs)};
  result.pages = DonePages(testsupport::ReadFile(dir / "log.txt"));
  result.words = testsupport::ReadFile(dir / "words.txt");
  return result;
}

// The pages of the site that wget saved below `dir`.
size_t SavedSitePages(const fs::path& dir, const std::map<std::string, std::string>& site) {
  size_t pages = 0;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(dir, error)) {
    if (!entry.is_regular_file()) continue;
    // wget saves below a directory named after host and port.
    const fs::path relative = entry.path().lexically_relative(dir);
    std::string path;
    for (auto part = std::next(relative.begin()); part != relative.end(); ++part)
      path += "/" + part->string();
    if (site.contains(path)) ++pages;
  }
  return pages;
}

double Rate(const RunResult& run) {
  return run.seconds > 0 ? static_cast<double>(run.pages) / run.seconds : 0;
}

// One run, with its pages, rate and nginx's connections in the row.
template <typename Crawl>
RunResult Measure(benchmark::State& state, size_t expectedPages, Crawl crawl) {
  NginxServer& nginx = Shared().nginx;
  const size_t connections = nginx.LoggedConnections();
  RunResult run = MeasureCrawls<RunResult>(state, expectedPages, crawl);
  state.counters["pages"] = static_cast<double>(run.pages);
  state.counters["pages_per_s"] = Rate(run);
  state.counters["connections"] = static_cast<double>(nginx.LoggedConnections() - connections);
  return run;
}

// The word list of the first run on the relayed site, which every later
// run must write too.
std::string gSiteWords;
std::map<int, double> gHttp10Rates;  // by --parallel
double gParallel8Rate = 0;

void ExpectSiteWords(benchmark::State& state, const RunResult& run) {
  if (run.words.empty()) return;  // the run failed, and says so already
  if (gSiteWords.empty()) gSiteWords = run.words;
  if (run.words != gSiteWords) state.SkipWithError("the word list differs from the first run's");
}

void BM_Relay_Http10(benchmark::State& state) {
  const int parallel = static_cast<int>(state.range(0));
  RunResult run = Measure(state, kPages, [&] {
    return RunTirasel(Shared().RelayUrl("/index.html"),
                      {"--http1.0", "--parallel", std::to_string(parallel)});
  });
  ExpectSiteWords(state, run);
  gHttp10Rates[parallel] = Rate(run);
}

void BM_Relay_Http11(benchmark::State& state) {
  const int parallel = static_cast<int>(state.range(0));
  RunResult run = Measure(state, kPages, [&] {
    return RunTirasel(Shared().RelayUrl("/index.html"), {"--parallel", std::to_string(parallel)});
  });
  ExpectSiteWords(state, run);
  if (gHttp10Rates.contains(parallel) && gHttp10Rates[parallel] > 0)
    state.counters["ratio"] = Rate(run) / gHttp10Rates[parallel];  // target >= 2
  if (parallel == 8) gParallel8Rate = Rate(run);
}

void BM_Relay_Wget(benchmark::State& state) {
  Fixture& fixture = Shared();
  RunResult run = Measure(state, kPages, [&] {
    TempDirectory dir("tirasel-bench-http11-wget");
    RunResult result{TimeProgram(
        {"/usr/bin/wget", "--recursive", "--level=inf", "--no-parent", "--no-check-certificate",
         "-e", "robots=off", "-q", "-P", (dir / "site").string(), fixture.RelayUrl("/index.html")},
        dir / "log.txt", kRunTimeoutMs)};
    result.pages = SavedSitePages(dir / "site", fixture.site);
    return result;
  });
  if (Rate(run) > 0 && gParallel8Rate > 0)
    state.counters["ratio"] = gParallel8Rate / Rate(run);  // tirasel over wget, target >= 4
}

// The body bytes nginx sent for the --no-compression run, and its words.
double gUncompressedBytes = 0;
std::string gReferenceWords;

// One crawl of the reference on plain loopback, with the body bytes nginx
// sent for it in the row; nullopt when the package is missing.
std::optional<RunResult> MeasureReference(benchmark::State& state,
                                          std::vector<std::string> options, double& bytes) {
  Fixture& fixture = Shared();
  if (fixture.referencePages == 0) {
    state.SkipWithError(("no German pages in " + kReferenceDir.string() +
                         " (apt-get install debian-reference-de)")
                            .c_str());
    return std::nullopt;
  }
  const std::int64_t before = fixture.nginx.LoggedBodyBytes();
  RunResult run = Measure(state, static_cast<size_t>(fixture.referencePages), [&] {
    return RunTirasel(fixture.nginx.Url(kReferenceStart), options);
  });
  bytes = static_cast<double>(fixture.nginx.LoggedBodyBytes() - before);
  state.counters["bytes"] = bytes;
  return run;
}

void BM_Reference_Uncompressed(benchmark::State& state) {
  double bytes = 0;
  std::optional<RunResult> run = MeasureReference(state, {"--no-compression"}, bytes);
  if (!run || run->words.empty()) return;
  gUncompressedBytes = bytes;
  gReferenceWords = run->words;
}

void BM_Reference_Compressed(benchmark::State& state) {
  double bytes = 0;
  std::optional<RunResult> run = MeasureReference(state, {}, bytes);
  if (!run || run->words.empty() || gReferenceWords.empty()) return;
  if (run->words != gReferenceWords) {
    state.SkipWithError("the word list differs from that of --no-compression");
    return;
  }
  state.counters["ratio"] = bytes / gUncompressedBytes;  // target <= 0.35
}

BENCHMARK(BM_Relay_Http10)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Relay_Http11)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Relay_Http10)->Arg(4)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Relay_Http11)->Arg(4)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Relay_Http11)->Arg(8)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Relay_Wget)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Reference_Uncompressed)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Reference_Compressed)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  try {
    Shared();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_http11: %s\n", e.what());
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
