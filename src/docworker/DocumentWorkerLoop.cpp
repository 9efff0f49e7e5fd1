#include "DocumentWorkerLoop.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <exception>
#include <fstream>
#include <malloc.h>
#include <new>
#include <sys/resource.h>
#include <unistd.h>

#include "DocumentLimits.h"

namespace {

constexpr int kExitInputEnded = 0;
constexpr int kExitStreamFailed = 1;
constexpr int kExitUsage = 2;
constexpr std::size_t kDiscardChunk = 1 << 16;
// glibc's largest threshold for serving an allocation from the heap rather
// than from a mapping of its own.
constexpr int kHeapAllocationBytes = 32 << 20;

class TBlockingSource : public TFrameSource {
 public:
  explicit TBlockingSource(int fd) : fd_(fd) {}
  bool ReadExact(char* data, std::size_t size) override {
    while (size > 0) {
      ssize_t got = ::read(fd_, data, size);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      data += got;
      size -= static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  int fd_;
};

class TBlockingSink : public TFrameSink {
 public:
  explicit TBlockingSink(int fd) : fd_(fd) {}
  bool WriteAll(const char* data, std::size_t size) override {
    while (size > 0) {
      ssize_t put = ::write(fd_, data, size);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      data += put;
      size -= static_cast<std::size_t>(put);
    }
    return true;
  }

 private:
  int fd_;
};

// The address space mapped now, from the first field of /proc/self/statm.
rlim_t MappedBytes() {
  std::ifstream statm("/proc/self/statm");
  unsigned long long pages = 0;
  statm >> pages;
  return static_cast<rlim_t>(pages * static_cast<unsigned long long>(::sysconf(_SC_PAGESIZE)));
}

void SetSoftLimit(int resource, rlim_t value) {
  rlimit limit{};
  if (::getrlimit(resource, &limit) != 0) return;
  limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? value : std::min(value, limit.rlim_max);
  // A limit that cannot be set leaves the document to the crawl side's
  // last-resort bound; there is nobody to tell here.
  ::setrlimit(resource, &limit);
}

void PrepareProcess(const TWorkerLimits& limits) {
  std::signal(SIGXCPU, SIG_DFL);
  std::signal(SIGPIPE, SIG_DFL);
  SetSoftLimit(RLIMIT_CORE, 0);
  SetSoftLimit(RLIMIT_AS, MappedBytes() + limits.MemoryBytes());
  // One document after another: memory kept for the next one spares it the
  // page faults of fresh memory, which cost more than the copies (a 20 MB
  // echo went from 230 to 19 ms). What is kept stays within the peak that
  // the address space limit bounds.
  mallopt(M_MMAP_THRESHOLD, kHeapAllocationBytes);
  mallopt(M_TRIM_THRESHOLD,
          static_cast<int>(std::min<std::uint64_t>(limits.MemoryBytes(), INT_MAX)));
}

void StartCpuBudget(const TWorkerLimits& limits) {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  // Whole seconds, rounded up: the limit counts in seconds.
  rlim_t used = static_cast<rlim_t>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + 1);
  SetSoftLimit(RLIMIT_CPU, used + static_cast<rlim_t>(limits.cpuSeconds));
}

bool Discard(TFrameSource& source, std::uint64_t size) {
  char chunk[kDiscardChunk];
  while (size > 0) {
    std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof chunk));
    if (!source.ReadExact(chunk, piece)) return false;
    size -= piece;
  }
  return true;
}

TDocumentAnswer ParseWithin(const TWorkerLimits& limits, const TDocumentParse& parse,
                            std::uint8_t kind, const std::string& bytes) {
  TDocumentAnswer answer;
  try {
    StartCpuBudget(limits);
    answer = parse(kind, bytes);
  } catch (const std::bad_alloc&) {
    return FailedDocument(TDocumentStatus::dsTooLarge, "out of memory");
  } catch (const std::exception& error) {
    return FailedDocument(TDocumentStatus::dsUnreadable, error.what());
  } catch (...) {
    return FailedDocument(TDocumentStatus::dsUnreadable);
  }
  if (answer.status != TDocumentStatus::dsRead && answer.status != TDocumentStatus::dsTooLarge &&
      answer.status != TDocumentStatus::dsUnreadable) {
    return FailedDocument(TDocumentStatus::dsUnreadable, answer.reason);
  }
  if (answer.ContentBytes() > limits.AnswerBytes()) {
    return FailedDocument(TDocumentStatus::dsTooLarge,
                          "its text passes " + std::to_string(limits.answerMiB) + " MiB");
  }
  return answer;
}

// Takes the document and reads it; false when the input fails within it.
bool AnswerOne(const TWorkerLimits& limits, const TDocumentParse& parse, TFrameSource& source,
               std::uint8_t kind, std::uint64_t size, TDocumentAnswer& answer) {
  std::string bytes;
  try {
    if (size > limits.MemoryBytes()) throw std::bad_alloc();
    bytes.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    answer = FailedDocument(TDocumentStatus::dsTooLarge, "out of memory");
    return Discard(source, size);
  }
  if (!source.ReadExact(bytes.data(), bytes.size())) return false;
  answer = ParseWithin(limits, parse, kind, bytes);
  return true;
}

}  // namespace

int RunDocumentWorker(int argc, char** argv, const TDocumentParse& parse) {
  TWorkerLimits limits;
  if (!ParseWorkerLimits(argc, argv, limits)) {
    std::fprintf(stderr, "usage: %s [--cpu-seconds N] [--memory-mib N] [--answer-mib N]\n",
                 argc > 0 ? argv[0] : "document-worker");
    return kExitUsage;
  }
  PrepareProcess(limits);
  TBlockingSource source(STDIN_FILENO);
  TBlockingSink sink(STDOUT_FILENO);
  // One pass per request: the loop ends with the input.
  for (;;) {
    std::uint8_t kind = 0;
    std::uint64_t size = 0;
    if (!ReadRequestHeader(source, kind, size)) return kExitInputEnded;
    TDocumentAnswer answer;
    if (!AnswerOne(limits, parse, source, kind, size, answer)) return kExitStreamFailed;
    if (!WriteAnswer(sink, answer)) return kExitStreamFailed;
  }
}
