// The bounds a document worker process reads each document under, as the
// crawl side hands them to the worker on its command line:
//
//   --cpu-seconds N   processor time per document (RLIMIT_CPU, soft limit)
//   --memory-mib N    address space on top of what the worker has mapped when
//                     it starts (RLIMIT_AS), so that its own code and
//                     libraries are not counted against a document
//   --answer-mib N    the answer's text, people and links together
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TWorkerLimits {
  int cpuSeconds = 30;
  int memoryMiB = 512;
  int answerMiB = 64;

  std::uint64_t MemoryBytes() const { return std::uint64_t(memoryMiB) << 20; }
  std::uint64_t AnswerBytes() const { return std::uint64_t(answerMiB) << 20; }
  // The options above, in that order.
  std::vector<std::string> Arguments() const;
};

// Reads the options after argv[0]; false on an unknown option or a value that
// is not a whole number from 1 to 1,000,000. Options left out keep their value.
bool ParseWorkerLimits(int argc, char** argv, TWorkerLimits& limits);
