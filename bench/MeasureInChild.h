// Peak memory and processor time of one piece of work, measured in a child
// process so that the peak (getrusage's high-water mark, which never falls)
// belongs to that work alone and not to the rows run before it.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <type_traits>

// The process's peak resident size so far, in KiB.
inline long MaxRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Processor time rather than wall time: the benchmarks share the machine.
inline double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Runs `work` in a child process and returns the figures it returned there;
// value-initialized figures when the child could not report them.
template <class Figures, class Work>
Figures MeasureInChild(Work work) {
  static_assert(std::is_trivially_copyable_v<Figures>, "the figures cross a pipe as bytes");
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return {};
  pid_t child = fork();
  if (child == 0) {
    close(pipeEnds[0]);
    Figures figures = work();
    ssize_t written = write(pipeEnds[1], &figures, sizeof figures);
    _exit(written == sizeof figures ? 0 : 1);
  }
  close(pipeEnds[1]);
  Figures figures{};
  ssize_t got = child > 0 ? read(pipeEnds[0], &figures, sizeof figures) : 0;
  close(pipeEnds[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  if (got != sizeof figures) return {};
  return figures;
}
