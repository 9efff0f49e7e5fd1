// HTTP client benchmarks against nginx on loopback, each next to the same
// work done by curl or wget in the same run:
//  - one Get of a large file into a memory stream (MB/s; target: at least
//    half of curl's);
//  - many sequential Gets of a 10 KB page (requests/s; target: faster than
//    a shell loop of curl and than wget fetching the same list);
//  - the same two over https (nginx with TLS and a private CA): the large
//    file against curl (target: at least half), the pages against wget -i
//    without keep-alive and one curl fetching the list with a connection per
//    request (target: at least as fast as both).
// The peers run first so that the client's rows can show the ratios.
// Sizes: TIRASEL_BENCH_HTTP_MIB (default 100), TIRASEL_BENCH_REQUESTS (2000).
#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "HttpProt.h"
#include "ChildProcess.h"
#include "NginxServer.h"
#include "PatternBytes.h"
#include "TempDirectory.h"
#include "TlsCertificates.h"

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::NginxServer;

std::int64_t EnvInt(const char* name, std::int64_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoll(v) : fallback;
}

const std::int64_t kBigBytes = EnvInt("TIRASEL_BENCH_HTTP_MIB", 100) << 20;
const int kRequests = static_cast<int>(EnvInt("TIRASEL_BENCH_REQUESTS", 2000));
constexpr std::int64_t kPageBytes = 10 * 1024;
constexpr int kPeerTimeoutMs = 600000;

// nginx with the two files, plain and over TLS, and URL lists for wget and
// curl, started once.
struct Fixture {
  NginxServer web;
  std::uint64_t bigSum = 0;
  std::string listFile, tlsListFile, tlsCurlConfig, caFile;

  Fixture() {
    const auto& certs = testsupport::TestCertificates::Shared();
    caFile = certs.CaFile().string();
    bigSum = web.AddPatternFile("/big.bin", kBigBytes);
    web.AddPatternFile("/page.html", kPageBytes, 7);
    web.UseTls(certs.Valid().cert, certs.Valid().key);
    web.Start();
    std::string list, tlsList, curlConfig;
    for (int i = 0; i < kRequests; ++i) {
      list += PageUrl() + "\n";
      tlsList += TlsPageUrl() + "\n";
      curlConfig += "url = \"" + TlsPageUrl() + "\"\noutput = \"/dev/null\"\n";
    }
    listFile = (web.Dir() / "list.txt").string();
    testsupport::WriteFile(listFile, list);
    tlsListFile = (web.Dir() / "tls-list.txt").string();
    testsupport::WriteFile(tlsListFile, tlsList);
    tlsCurlConfig = (web.Dir() / "tls-curl.conf").string();
    testsupport::WriteFile(tlsCurlConfig, curlConfig);
  }
  std::string BigUrl() const { return web.Url("/big.bin"); }
  std::string PageUrl() const { return web.Url("/page.html"); }
  std::string TlsBigUrl() const { return web.TlsUrl("/big.bin"); }
  std::string TlsPageUrl() const { return web.TlsUrl("/page.html"); }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

// Figures of the peers, for the ratios in the client's rows.
double gCurlMBps = 0, gCurlLoopRps = 0, gWgetRps = 0;
double gTlsCurlMBps = 0, gTlsCurlRps = 0, gTlsWgetRps = 0;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Runs a peer program to its end; returns its wall time.
double TimeProgram(benchmark::State& state, const std::vector<std::string>& argv) {
  auto start = Clock::now();
  int rc = testsupport::RunProgram(argv, kPeerTimeoutMs);
  double s = Seconds(Clock::now() - start);
  if (rc != 0)
    state.SkipWithError((argv[0] + " failed, exit status " + std::to_string(rc)).c_str());
  return s;
}

// ---- One large file

void BM_Get100MB_Curl(benchmark::State& state) {
  double total = 0;
  for (auto _ : state) {
    double s = TimeProgram(state, {"/usr/bin/curl", "-s", "-o", "/dev/null", Shared().BigUrl()});
    state.SetIterationTime(s);
    total += s;
  }
  gCurlMBps =
      static_cast<double>(kBigBytes) * static_cast<double>(state.iterations()) / 1e6 / total;
  state.counters["MB/s"] = gCurlMBps;
}
BENCHMARK(BM_Get100MB_Curl)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// Where the body of the large file goes.
enum class Sink {
  FreshStream,   // a new memory stream per Get, as the crawl uses one per page
  ReusedStream,  // one stream, cleared between Gets: its memory is in place
  Discard,       // no stream, as curl's -o /dev/null
};

bool Intact(const TMemoryStream& stream) {
  return stream.Size() == kBigBytes &&
         testsupport::Fnv1a(stream.Data().data(), stream.Data().size()) == Shared().bigSum;
}

// Gets the large file once per iteration; returns MB/s over the Gets alone.
double GetBigFile(benchmark::State& state, Sink sink, bool tls = false) {
  THttpCli http;
  http.URL = tls ? Shared().TlsBigUrl() : Shared().BigUrl();
  http.SslCAFile = Shared().caFile;
  TMemoryStream reused;
  if (sink == Sink::ReusedStream) {
    http.ReceiveStream = &reused;
    http.Get();  // untimed: brings the stream's memory in
  }
  double total = 0;
  for (auto _ : state) {
    TMemoryStream fresh;
    reused.Clear();
    TMemoryStream* stream = sink == Sink::FreshStream    ? &fresh
                            : sink == Sink::ReusedStream ? &reused
                                                         : nullptr;
    http.ReceiveStream = stream;
    auto start = Clock::now();
    try {
      http.Get();
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      return 0;
    }
    double s = Seconds(Clock::now() - start);
    state.SetIterationTime(s);
    total += s;
    if (http.ReceivedBytes() != kBigBytes || (stream && !Intact(*stream))) {
      state.SkipWithError("the document arrived damaged");
      return 0;
    }
  }
  return static_cast<double>(kBigBytes) * static_cast<double>(state.iterations()) / 1e6 / total;
}

void ReportBigFile(benchmark::State& state, double mbps) {
  state.counters["MB/s"] = mbps;
  if (gCurlMBps > 0) state.counters["x_curl"] = mbps / gCurlMBps;  // target >= 0.5
}

void BM_Get100MB_Tirasel(benchmark::State& state) {
  ReportBigFile(state, GetBigFile(state, Sink::FreshStream));
}
BENCHMARK(BM_Get100MB_Tirasel)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// Where the time of the row above goes: the same Get into a stream whose
// memory is already in place, with the body discarded, and the memory
// stream alone taking 100 MB in pieces of the client's buffer size.
void BM_Get100MB_TiraselReusedStream(benchmark::State& state) {
  ReportBigFile(state, GetBigFile(state, Sink::ReusedStream));
}
BENCHMARK(BM_Get100MB_TiraselReusedStream)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_Get100MB_TiraselDiscard(benchmark::State& state) {
  ReportBigFile(state, GetBigFile(state, Sink::Discard));
}
BENCHMARK(BM_Get100MB_TiraselDiscard)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_MemoryStreamOnly100MB(benchmark::State& state) {
  std::string piece(HttpLineBufferSize, 'x');
  double total = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    TMemoryStream stream;
    for (std::int64_t left = kBigBytes; left > 0; left -= HttpLineBufferSize) {
      stream.WriteBuffer(piece.data(), std::min<std::int64_t>(left, HttpLineBufferSize));
    }
    benchmark::DoNotOptimize(stream.Data().data());
    double s = Seconds(Clock::now() - start);
    state.SetIterationTime(s);
    total += s;
  }
  state.counters["MB/s"] =
      static_cast<double>(kBigBytes) * static_cast<double>(state.iterations()) / 1e6 / total;
}
BENCHMARK(BM_MemoryStreamOnly100MB)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- Many small pages, one after the other

void BM_Sequential10KB_CurlLoop(benchmark::State& state) {
  const std::string loop = "for i in $(seq " + std::to_string(kRequests) +
                           "); do /usr/bin/curl -s -o /dev/null " + Shared().PageUrl() + "; done";
  for (auto _ : state) {
    double s = TimeProgram(state, {"/bin/sh", "-c", loop});
    state.SetIterationTime(s);
    gCurlLoopRps = kRequests / s;
  }
  state.counters["req/s"] = gCurlLoopRps;
}
BENCHMARK(BM_Sequential10KB_CurlLoop)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_Sequential10KB_Wget(benchmark::State& state) {
  for (auto _ : state) {
    double s =
        TimeProgram(state, {"/usr/bin/wget", "-q", "-O", "/dev/null", "-i", Shared().listFile});
    state.SetIterationTime(s);
    gWgetRps = kRequests / s;
  }
  state.counters["req/s"] = gWgetRps;
}
BENCHMARK(BM_Sequential10KB_Wget)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

double GetPages(benchmark::State& state, const std::string& url) {
  THttpCli http;
  http.URL = url;
  http.SslCAFile = Shared().caFile;
  double rps = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    for (int i = 0; i < kRequests; ++i) {
      TMemoryStream page;
      http.ReceiveStream = &page;
      try {
        http.Get();
      } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return 0;
      }
      if (page.Size() != kPageBytes) {
        state.SkipWithError("a page arrived incomplete");
        return 0;
      }
    }
    double s = Seconds(Clock::now() - start);
    state.SetIterationTime(s);
    rps = kRequests / s;
  }
  state.counters["req/s"] = rps;
  return rps;
}

void BM_Sequential10KB_Tirasel(benchmark::State& state) {
  double rps = GetPages(state, Shared().PageUrl());
  if (gCurlLoopRps > 0) state.counters["x_curl_loop"] = rps / gCurlLoopRps;  // target > 1
  if (gWgetRps > 0) state.counters["x_wget"] = rps / gWgetRps;               // target > 1
}
BENCHMARK(BM_Sequential10KB_Tirasel)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- The same over https

void BM_Https100MB_Curl(benchmark::State& state) {
  for (auto _ : state) {
    double s = TimeProgram(state, {"/usr/bin/curl", "-s", "--cacert", Shared().caFile, "-o",
                                   "/dev/null", Shared().TlsBigUrl()});
    state.SetIterationTime(s);
    gTlsCurlMBps = static_cast<double>(kBigBytes) / 1e6 / s;
  }
  state.counters["MB/s"] = gTlsCurlMBps;
}
BENCHMARK(BM_Https100MB_Curl)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Https100MB_Tirasel(benchmark::State& state) {
  double mbps = GetBigFile(state, Sink::FreshStream, true);
  state.counters["MB/s"] = mbps;
  if (gTlsCurlMBps > 0) state.counters["x_curl"] = mbps / gTlsCurlMBps;  // target >= 0.5
}
BENCHMARK(BM_Https100MB_Tirasel)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// Without the memory stream, as curl's -o /dev/null: the cost of TLS alone.
void BM_Https100MB_TiraselDiscard(benchmark::State& state) {
  double mbps = GetBigFile(state, Sink::Discard, true);
  state.counters["MB/s"] = mbps;
  if (gTlsCurlMBps > 0) state.counters["x_curl"] = mbps / gTlsCurlMBps;
}
BENCHMARK(BM_Https100MB_TiraselDiscard)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// HTTP/1.0 opens a connection per request: wget without keep-alive, and one
// curl speaking HTTP/1.0 (the server closes after each answer). Both keep
// the TLS session for the next connection, as the client does.
void BM_Https10KB_Wget(benchmark::State& state) {
  for (auto _ : state) {
    double s = TimeProgram(state, {"/usr/bin/wget", "-q", "--no-http-keep-alive",
                                   "--ca-certificate=" + Shared().caFile, "-O", "/dev/null", "-i",
                                   Shared().tlsListFile});
    state.SetIterationTime(s);
    gTlsWgetRps = kRequests / s;
  }
  state.counters["req/s"] = gTlsWgetRps;
}
BENCHMARK(BM_Https10KB_Wget)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Https10KB_Curl(benchmark::State& state) {
  for (auto _ : state) {
    double s = TimeProgram(state, {"/usr/bin/curl", "-s", "--http1.0", "--cacert", Shared().caFile,
                                   "-K", Shared().tlsCurlConfig});
    state.SetIterationTime(s);
    gTlsCurlRps = kRequests / s;
  }
  state.counters["req/s"] = gTlsCurlRps;
}
BENCHMARK(BM_Https10KB_Curl)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Https10KB_Tirasel(benchmark::State& state) {
  double rps = GetPages(state, Shared().TlsPageUrl());
  if (gTlsCurlRps > 0) state.counters["x_curl"] = rps / gTlsCurlRps;  // target >= 1
  if (gTlsWgetRps > 0) state.counters["x_wget"] = rps / gTlsWgetRps;  // target >= 1
}
BENCHMARK(BM_Https10KB_Tirasel)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc,
                               argv);  // Get pumps the application's events, as in the program
  benchmark::Initialize(&argc, argv);
  try {
    Shared();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_http: %s\n", e.what());
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
