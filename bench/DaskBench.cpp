// tirasel-dask harvesting web archives on a local Dask cluster, next to one
// tirasel-cli process reading the same archives, all in the same run:
//  - 8 archives of about 100 MB each (generated pages, as bench_warc makes
//    them): one tirasel-cli --from-warc process over all of them, then
//    tirasel-dask --warc with one worker and with two (a local cluster keeps
//    each worker's runs on a core of its own, so one worker is one core).
//    Target: two workers at least 1.7 times as fast as one
//    (x_one_worker >= 1.7). Every output must equal the one-process output
//    byte for byte. MB per processor second (MB/cpu_s) of the one process
//    is what the README's estimate for a whole crawl starts from;
//  - the cost of a task: tirasel-dask over 1 and over 21 archives of a
//    single empty page (an empty site), one worker; the difference per
//    task beyond the first.
// Sizes: TIRASEL_BENCH_DASK_ARCHIVES (default 8), TIRASEL_BENCH_DASK_MB
// (default 100, the size of each archive file).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchArchive.h"
#include "BenchProcess.h"
#include "TempDirectory.h"

namespace {

using testsupport::TempDirectory;

const int kArchives = EnvInt("TIRASEL_BENCH_DASK_ARCHIVES", 8);
const int kArchiveMB = EnvInt("TIRASEL_BENCH_DASK_MB", 100);
constexpr int kEmptyTasks = 20;
constexpr int kRunTimeoutMs = 1800000;
constexpr const char* kTiraselCli = TIRASEL_CLI_PATH;
constexpr const char* kTiraselDask = TIRASEL_DASK_PATH;
constexpr double kMiB = 1024.0 * 1024.0;

// The archives, written once, each of the same pages at a host of its own
// (one process reads a page that an earlier archive held already only
// once, as a crawl does, so each archive must hold pages of its own).
struct Fixture {
  TempDirectory dir{"tirasel-bench-dask"};
  std::vector<std::string> archives, empties;
  double archiveBytes = 0;

  Fixture() {
    for (int i = 0; i < kArchives; ++i) {
      archives.push_back((dir / ("a" + std::to_string(i) + ".warc.gz")).string());
      WriteBenchArchive(archives.back(), 0, "www" + std::to_string(i) + ".example.org",
                        std::int64_t{kArchiveMB} << 20);
    }
    for (const std::string& path : archives) archiveBytes += std::filesystem::file_size(path);
    for (int i = 0; i <= kEmptyTasks; ++i) {
      empties.push_back((dir / ("e" + std::to_string(i) + ".warc.gz")).string());
      WriteBenchArchive(empties.back(), 1, "empty" + std::to_string(i) + ".example.org");
    }
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

struct Run {
  double seconds = 0, cpuSeconds = 0;
  std::string output, failure;
};

// The program to its end, its output kept for comparing. tirasel-dask runs
// its tasks with the tirasel-cli built beside this benchmark.
Run Timed(std::vector<std::string> argv, const std::string& name) {
  const std::filesystem::path output = Shared().dir / (name + ".tsv");
  argv.insert(argv.end(), {"--output", output.string()});
  setenv("TIRASEL_CLI", kTiraselCli, 1);
  ProgramPeak peak = TimeProgramPeak(argv, Shared().dir / (name + ".log"), kRunTimeoutMs);
  Run run{peak.seconds, peak.cpuSeconds, testsupport::ReadFile(output), {}};
  if (!peak.ok) run.failure = name + " failed or did not end in time; see its log";
  return run;
}

std::vector<std::string> DaskArchives(const std::vector<std::string>& archives, int workers) {
  std::vector<std::string> argv = {kTiraselDask, "--workers", std::to_string(workers), "--warc"};
  argv.insert(argv.end(), archives.begin(), archives.end());
  return argv;
}

Run gOneProcess, gOneWorker;

void Report(benchmark::State& state, const Run& run) {
  const double mb = Shared().archiveBytes / kMiB;
  state.counters["archive_MB"] = mb;
  state.counters["MB/s"] = mb / run.seconds;
  state.counters["cpu_s"] = run.cpuSeconds;
  state.counters["MB/cpu_s"] = mb / run.cpuSeconds;
}

template <class Once>
bool Measure(benchmark::State& state, Once once, Run& last) {
  for (auto _ : state) {
    last = once();
    if (!last.failure.empty()) {
      state.SkipWithError(last.failure.c_str());
      return false;
    }
    state.SetIterationTime(last.seconds);
  }
  return true;
}

void BM_OneProcess(benchmark::State& state) {
  std::vector<std::string> argv = {kTiraselCli, "--format", "tsv"};
  for (const std::string& archive : Shared().archives)
    argv.insert(argv.end(), {"--from-warc", archive});
  if (!Measure(
          state, [&] { return Timed(argv, "one-process"); }, gOneProcess))
    return;
  Report(state, gOneProcess);
}
BENCHMARK(BM_OneProcess)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Fails the row unless its output is the one-process output, naming the
// first line that differs.
void CheckSame(benchmark::State& state, const Run& run) {
  const std::string& expected = gOneProcess.output;
  if (!expected.empty() && run.output == expected) return;
  const auto [here, there] =
      std::mismatch(run.output.begin(), run.output.end(), expected.begin(), expected.end());
  const std::size_t lineStart = run.output.rfind('\n', here - run.output.begin()) + 1;
  const std::size_t line = std::count(run.output.begin(), here, '\n') + 1;
  const std::string error = "the output differs from the one-process output at line " +
                            std::to_string(line) + ": \"" + run.output.substr(lineStart, 120) +
                            "\" against \"" + expected.substr(lineStart, 120) + "\"";
  state.SkipWithError(error.c_str());
}

void BM_Dask_OneWorker(benchmark::State& state) {
  if (!Measure(
          state, [] { return Timed(DaskArchives(Shared().archives, 1), "one-worker"); },
          gOneWorker)) {
    return;
  }
  Report(state, gOneWorker);
  CheckSame(state, gOneWorker);
}
BENCHMARK(BM_Dask_OneWorker)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_Dask_TwoWorkers(benchmark::State& state) {
  Run run;
  if (!Measure(
          state, [] { return Timed(DaskArchives(Shared().archives, 2), "two-workers"); }, run)) {
    return;
  }
  Report(state, run);
  if (gOneWorker.seconds > 0) state.counters["x_one_worker"] = gOneWorker.seconds / run.seconds;
  CheckSame(state, run);
}
BENCHMARK(BM_Dask_TwoWorkers)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// One empty archive, then 21: what each task beyond the first adds.
void BM_Dask_TaskCost(benchmark::State& state) {
  const std::vector<std::string>& empties = Shared().empties;
  Run one, all;
  for (auto _ : state) {
    one = Timed(DaskArchives({empties.front()}, 1), "empty-one");
    all = Timed(DaskArchives(empties, 1), "empty-all");
    if (!one.failure.empty() || !all.failure.empty()) {
      state.SkipWithError((one.failure + all.failure).c_str());
      return;
    }
    state.SetIterationTime(all.seconds);
  }
  state.counters["one_task_s"] = one.seconds;
  state.counters["ms/task"] = (all.seconds - one.seconds) * 1000.0 / kEmptyTasks;
}
BENCHMARK(BM_Dask_TaskCost)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  return RunBenchmarkProgram(argc, argv, "bench_dask", [] {
    char made[96];
    std::snprintf(made, sizeof made, "%d archives of %.0f MB written", kArchives,
                  Shared().archiveBytes / kMiB / kArchives);
    return std::string(made);
  });
}
