// The cost of reading documents in a separate process: the same echo parse
// step (the text is the document) called directly and through the document
// worker client and the test worker process, for small documents (round
// trips per second, one document at a time as the crawl sends them) and a
// 20 MB one (MB/s through both pipes), and the start of a fresh worker with
// its first document (what each failed document costs the next one).
#include <benchmark/benchmark.h>

#include <string>

#include "DocumentWorker.h"
#include "Messages.h"
#include "SplitMix.h"

namespace {

// Bounds the wait for one answer: passes of at most a second each.
constexpr int kMaxWaitPasses = 600;
constexpr int kWaitPassMs = 1000;

TDocumentWorkerSettings BenchSettings() {
  TDocumentWorkerSettings settings;
  settings.program = TIRASEL_TEST_DOCUMENT_WORKER;
  return settings;
}

std::string Document(std::size_t size) {
  testsupport::SplitMix64 random(size);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>('a' + random.Below(26));
  return bytes;
}

// What the test worker's echo does, in-process.
TDocumentAnswer Echo(const std::string& bytes) {
  TDocumentAnswer answer;
  answer.text = bytes;
  answer.people = {"Ann", "Bob"};
  answer.links = {"http://127.0.0.1/" + std::to_string(bytes.size())};
  return answer;
}

// One document through the worker, pumping the loop until its answer.
bool ReadThrough(TDocumentWorker& worker, const std::string& document) {
  bool read = false, answered = false;
  worker.Read('e', document, [&](TDocumentAnswer answer) {
    answered = true;
    read = answer.Read() && answer.text.size() == document.size();
  });
  for (int pass = 0; pass < kMaxWaitPasses && !answered; ++pass) {
    ProcessMessages();
    if (!answered) WaitForMessages(kWaitPassMs, false);
  }
  return read;
}

void BM_DirectCall(benchmark::State& state) {
  std::string document = Document(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(Echo(document));
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_ThroughWorker(benchmark::State& state) {
  std::string document = Document(static_cast<std::size_t>(state.range(0)));
  TDocumentWorker worker(BenchSettings());
  if (!ReadThrough(worker, document)) state.SkipWithError("the worker did not answer");
  for (auto _ : state) {
    if (!ReadThrough(worker, document)) {
      state.SkipWithError("the worker did not answer");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_FreshWorkerFirstDocument(benchmark::State& state) {
  std::string document = Document(1024);
  for (auto _ : state) {
    TDocumentWorker worker(BenchSettings());
    if (!ReadThrough(worker, document)) {
      state.SkipWithError("the worker did not answer");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_DirectCall)->Arg(1024)->Arg(20 << 20)->UseRealTime();
BENCHMARK(BM_ThroughWorker)->Arg(1024)->Arg(20 << 20)->UseRealTime();
BENCHMARK(BM_FreshWorkerFirstDocument)->UseRealTime();
BENCHMARK_MAIN();
