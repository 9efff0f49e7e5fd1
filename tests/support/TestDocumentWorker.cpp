// A document worker whose parse step does, by the request's kind byte, what
// a hostile document can make a reader do, for the tests and the benchmark
// of the document worker client:
//
//   'e'  echo: the text is the document; people Ann and Bob; one link
//   'p'  the text is the worker's process id
//   'u'  unreadable, "no pages in it"; 'w' throws std::runtime_error
//   'm'  allocates (and touches) memory without end
//   'c'  writes "busy" to standard error, then burns processor time
//   'a'  abort(); 's' SIGSEGV; 'k' SIGKILL; 'q' exits with status 3
//   'x'  an answer that never ends: a list of people without end
//   't'  a text of as many MiB as the document's number
//   'g'  writes garbage before its answer
//   'o'  once: the document is a file name; crashes when the file does not
//        exist yet (and makes it), echoes when it does
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "DocumentWorkerLoop.h"

// Under AddressSanitizer an allocation the address space limit refuses
// throws std::bad_alloc, as it does without the sanitizer.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

constexpr std::size_t kBlockBytes = 16 << 20;
// Bounds of the endless kinds, far past any limit the tests set.
constexpr std::size_t kMaxBlocks = 1 << 16;
constexpr unsigned long long kMaxSpins = 1ULL << 50;
constexpr std::uint64_t kEndlessPeople = 1 << 20;

void WriteRaw(const std::string& bytes) {
  // A failed write ends the process through SIGPIPE or the next write.
  for (std::size_t at = 0; at < bytes.size();) {
    ssize_t put = ::write(STDOUT_FILENO, bytes.data() + at, bytes.size() - at);
    if (put <= 0) std::_Exit(1);
    at += static_cast<std::size_t>(put);
  }
}

std::string Length(std::uint64_t value) {
  std::string bytes;
  for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
  return bytes;
}

TDocumentAnswer Echo(const std::string& bytes) {
  TDocumentAnswer answer;
  answer.text = bytes;
  answer.people = {"Ann", "Bob"};
  answer.links = {"http://127.0.0.1/" + std::to_string(bytes.size())};
  return answer;
}

// Through malloc, as a C library allocates: the sanitizer's operator new
// would end the process instead of throwing.
TDocumentAnswer AllocateWithoutEnd() {
  std::vector<std::unique_ptr<char, decltype(&std::free)>> blocks;
  while (blocks.size() < kMaxBlocks) {
    char* block = static_cast<char*>(std::malloc(kBlockBytes));
    if (!block) throw std::bad_alloc();
    blocks.emplace_back(block, &std::free);
    for (std::size_t at = 0; at < kBlockBytes; at += 4096) block[at] = 1;
  }
  return Echo("allocated");
}

TDocumentAnswer BurnProcessorTime() {
  std::fputs("busy\n", stderr);
  std::fflush(stderr);
  volatile unsigned long long spins = 0;
  while (spins < kMaxSpins) spins = spins + 1;
  return Echo("done");
}

TDocumentAnswer AnswerWithoutEnd() {
  WriteRaw(std::string(1, '\0') + Length(0) + Length(kEndlessPeople));
  std::string person = Length(1024) + std::string(1024, 'p');
  for (std::uint64_t i = 0; i < kEndlessPeople; ++i) WriteRaw(person);
  std::_Exit(1);
}

TDocumentAnswer CrashOnce(const std::string& path) {
  if (std::ifstream(path)) return Echo(path);
  std::ofstream(path) << "crashed once\n";
  std::abort();
}

TDocumentAnswer Parse(std::uint8_t kind, const std::string& bytes) {
  switch (kind) {
    case 'e':
      return Echo(bytes);
    case 'p':
      return Echo(std::to_string(::getpid()));
    case 'u':
      return FailedDocument(TDocumentStatus::dsUnreadable, "no pages in it");
    case 'w':
      throw std::runtime_error("broken cross-reference table");
    case 'm':
      return AllocateWithoutEnd();
    case 'c':
      return BurnProcessorTime();
    case 'a':
      std::abort();
    case 's':
      ::raise(SIGSEGV);
      break;
    case 'k':
      ::raise(SIGKILL);
      break;
    case 'q':
      std::exit(3);
    case 'x':
      return AnswerWithoutEnd();
    case 't':
      return Echo(std::string(std::stoul(bytes) << 20, 't'));
    case 'g':
      WriteRaw("garbage!");
      return Echo(bytes);
    case 'o':
      return CrashOnce(bytes);
  }
  return FailedDocument(TDocumentStatus::dsUnreadable, "unknown kind");
}

}  // namespace

int main(int argc, char** argv) { return RunDocumentWorker(argc, argv, Parse); }
