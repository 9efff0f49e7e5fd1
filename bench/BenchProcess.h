// Running a measured program (tirasel-cli or a peer such as wget) to its
// end, also for its peak memory, reading the page count of a crawl's log,
// and sizes from the environment.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <sys/wait.h>

#include "ChildProcess.h"
#include "TempDirectory.h"

// The environment variable's number, or `fallback` when it is unset or empty.
inline int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

// How long a program ran, and why it failed if it did.
struct ProgramRun {
  double seconds = 0;
  std::string failure;  // empty when it exited with status 0 in time
};

// Runs the program with its output in `log`; kills it after `timeoutMs`.
inline ProgramRun TimeProgram(const std::vector<std::string>& argv,
                              const std::filesystem::path& log, int timeoutMs) {
  ProgramRun run;
  testsupport::ChildProcess child;
  auto start = std::chrono::steady_clock::now();
  child.Start(argv, log);
  int status = child.WaitExit(timeoutMs);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (status == -1) {
    child.Stop(SIGKILL, 0);
    run.failure = argv[0] + " did not end within the time limit";
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    run.failure = argv[0] + " failed, wait status " + std::to_string(status);
  }
  return run;
}

// A program's time and peak resident size; ok when it exited with status 0
// in time. cpuSeconds: user and system time of the program and the children
// it waited for, which the load of other processes does not inflate.
struct ProgramPeak {
  double seconds = 0;
  long peakKiB = 0;
  bool ok = false;
  double cpuSeconds = 0;
};

// TimeProgram under /usr/bin/time, which reports the program's peak. A
// program started from this process directly would not do: its rusage peak
// starts at the high-water mark of the copy of this process it was executed
// from (this process's size, nginx's site and all). setpriv kills the
// program when time is killed at the time limit.
inline ProgramPeak TimeProgramPeak(const std::vector<std::string>& argv,
                                   const std::filesystem::path& log, int timeoutMs) {
  testsupport::TempDirectory dir("tirasel-bench-peak");
  const std::string peakFile = (dir / "peak.txt").string();
  std::vector<std::string> timed = {"/usr/bin/time",    "-f",          "%M %U %S", "-o", peakFile,
                                    "/usr/bin/setpriv", "--pdeathsig", "KILL"};
  timed.insert(timed.end(), argv.begin(), argv.end());
  ProgramRun run = TimeProgram(timed, log, timeoutMs);
  const std::string peak = testsupport::ReadFile(peakFile);
  char* end = nullptr;
  ProgramPeak result{run.seconds, std::strtol(peak.c_str(), &end, 10),
                     run.failure.empty() && !peak.empty()};
  const double user = std::strtod(end, &end);
  result.cpuSeconds = user + std::strtod(end, nullptr);
  return result;
}

// Runs `crawl` once per iteration of the row; fails the row when a run
// fails or, unless `expectedPages` is 0, misses pages. Returns the totals
// over the iterations (seconds, pages) with the last run's words. Result
// is a ProgramRun with `pages` and `words`.
template <typename Result, typename Crawl>
Result MeasureCrawls(benchmark::State& state, size_t expectedPages, Crawl crawl) {
  Result total;
  for (auto _ : state) {
    Result run = crawl();
    if (run.failure.empty() && expectedPages > 0 && run.pages != expectedPages) {
      run.failure =
          std::to_string(run.pages) + " pages fetched of " + std::to_string(expectedPages);
    }
    if (!run.failure.empty()) {
      state.SkipWithError(run.failure.c_str());
      return total;
    }
    state.SetIterationTime(run.seconds);
    total.seconds += run.seconds;
    total.pages += run.pages;
    total.words = std::move(run.words);
  }
  return total;
}

// N of the last "Done! (N html files found...)..." line in a log.
inline size_t DonePages(std::string_view log) {
  size_t at = log.rfind("Done! (");
  return at == std::string_view::npos ? 0 : std::strtoul(log.data() + at + 7, nullptr, 10);
}

// A benchmark program's main: `prepare` (generating and serving sites,
// writing archives) runs once before the rows and returns what it made, for
// the line that reports it with its time; a failure there ends the program.
template <typename Prepare>
int RunBenchmarkProgram(int argc, char** argv, const char* name, Prepare prepare) {
  benchmark::Initialize(&argc, argv);
  try {
    auto start = std::chrono::steady_clock::now();
    const std::string made = prepare();
    std::fprintf(stderr, "%s: %s in %.1f s\n", name, made.c_str(),
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", name, e.what());
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
