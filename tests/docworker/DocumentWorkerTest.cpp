#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "DocumentWorker.h"
#include "LoopbackPeer.h"
#include "SplitMix.h"
#include "TempDirectory.h"

namespace {

// A bound for answers that come from processes reading and burning a
// processor second; no test waits for a time.
constexpr int kAnswerBoundMs = 120000;

TDocumentWorkerSettings TestSettings() {
  TDocumentWorkerSettings settings;
  settings.program = TIRASEL_TEST_DOCUMENT_WORKER;
  settings.limits = TWorkerLimits{1, 256, 32};
  settings.wallSeconds = 0;
  return settings;
}

// A client and the answers it delivered, in order.
struct TReader {
  TDocumentWorker worker;
  std::vector<TDocumentAnswer> answers;

  explicit TReader(TDocumentWorkerSettings settings = TestSettings())
      : worker(std::move(settings)) {}
  void Read(char kind, std::string bytes = {}) {
    worker.Read(static_cast<std::uint8_t>(kind), std::move(bytes),
                [this](TDocumentAnswer answer) { answers.push_back(std::move(answer)); });
  }
  bool AwaitAnswers(std::size_t count) {
    return testpeer::WaitUntil([&] { return answers.size() >= count; }, kAnswerBoundMs);
  }
  // The process id the test worker reads into its text for 'p'.
  pid_t WorkerPid() {
    Read('p');
    if (!AwaitAnswers(answers.size() + 1) || !answers.back().Read()) return -1;
    return std::stoi(answers.back().text);
  }
};

std::string RandomBytes(std::size_t size, std::uint64_t seed) {
  testsupport::SplitMix64 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random.Next());
  return bytes;
}

bool IsZombie(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  std::size_t end = line.rfind(')');
  return end != std::string::npos && line.compare(end, 3, ") Z") == 0;
}

bool ProcessGone(pid_t pid) { return ::kill(pid, 0) == -1 && errno == ESRCH; }

}  // namespace

TEST(DocumentWorker, DocumentsComeBackInOrderFromOneWorker) {
  TReader reader;
  const std::vector<std::string> documents = {"",
                                              "one",
                                              std::string("\0\xff\r\n", 4),
                                              RandomBytes(20 << 20, 1),
                                              "after the large one",
                                              RandomBytes(3 << 20, 2)};
  for (const std::string& document : documents) reader.Read('e', document);
  ASSERT_TRUE(reader.AwaitAnswers(documents.size()));
  ASSERT_EQ(reader.answers.size(), documents.size());
  for (std::size_t i = 0; i < documents.size(); ++i) {
    const TDocumentAnswer& answer = reader.answers[i];
    ASSERT_TRUE(answer.Read()) << i << ": " << answer.reason;
    EXPECT_TRUE(answer.text == documents[i]) << i;
    EXPECT_EQ(answer.people, (std::vector<std::string>{"Ann", "Bob"}));
    EXPECT_EQ(answer.links,
              std::vector<std::string>{"http://127.0.0.1/" + std::to_string(documents[i].size())});
  }
  EXPECT_EQ(reader.worker.WorkersStarted(), 1);
}

// Each row: a document that breaks the worker, between two that show which
// process read them. A crash is tried once more on a fresh worker (two
// processes); any other breach costs one. What the reader refused costs none.
TEST(DocumentWorker, EachBreachFailsOnlyItsDocumentAndTheNextIsReadByAFreshWorker) {
  struct TBreach {
    char kind;
    std::string document;
    TDocumentStatus status;
    std::string reason;
    int processesUsed;
  };
  using S = TDocumentStatus;
  const std::vector<TBreach> breaches = {
      {'m', "", S::dsTooLarge, "too large to read: out of memory", 1},
      {'c', "", S::dsTooLong, "took too long: more than 1 s of processor time", 1},
      {'a', "", S::dsCrashed, "the reader crashed on it: SIGABRT", 2},
#ifdef TIRASEL_SANITIZE_BUILD
      // The sanitizer reports the fault and exits.
      {'s', "", S::dsCrashed, "the reader crashed on it: it ended with exit status 1", 2},
#else
      {'s', "", S::dsCrashed, "the reader crashed on it: SIGSEGV", 2},
#endif
      {'q', "", S::dsCrashed, "the reader crashed on it: it ended with exit status 3", 2},
      {'g', "", S::dsCrashed, "the reader crashed on it: it answered garbage", 2},
      // Killed by someone else, with little processor time used: the system
      // out of memory.
      {'k', "", S::dsTooLarge, "too large to read: killed, out of memory", 1},
      {'x', "", S::dsTooLarge, "too large to read: its answer passes 32 MiB", 1},
      {'t', "33", S::dsTooLarge, "too large to read: its text passes 32 MiB", 1},
      {'u', "", S::dsUnreadable, "the reader could not read it: no pages in it", 0},
      {'w', "", S::dsUnreadable, "the reader could not read it: broken cross-reference table", 0},
  };
  TReader reader;
  pid_t before = reader.WorkerPid();
  ASSERT_GT(before, 0);
  for (const TBreach& breach : breaches) {
    SCOPED_TRACE(std::string(1, breach.kind));
    int started = reader.worker.WorkersStarted();
    reader.Read(breach.kind, breach.document);
    reader.Read('e', "next");
    std::size_t count = reader.answers.size() + 2;
    ASSERT_TRUE(reader.AwaitAnswers(count));
    const TDocumentAnswer& failed = reader.answers[count - 2];
    EXPECT_EQ(failed.status, breach.status);
    EXPECT_EQ(failed.reason, breach.reason);
    EXPECT_TRUE(failed.text.empty() && failed.people.empty() && failed.links.empty());
    ASSERT_TRUE(reader.answers[count - 1].Read()) << reader.answers[count - 1].reason;
    EXPECT_EQ(reader.answers[count - 1].text, "next");
    EXPECT_EQ(reader.worker.WorkersStarted() - started, breach.processesUsed);
    pid_t after = reader.WorkerPid();
    EXPECT_EQ(after == before, breach.processesUsed == 0);
    before = after;
  }
}

// A worker may die between documents (killed from outside, or by damage an
// earlier document left): the next document, written into a pipe nobody
// reads (no SIGPIPE may end the test), goes to a fresh worker. A document
// that crashes only the first worker is read by the second.
TEST(DocumentWorker, ADeadWorkerIsReplacedWithoutLosingTheDocument) {
  TReader reader;
  pid_t first = reader.WorkerPid();
  ASSERT_GT(first, 0);
  ASSERT_EQ(::kill(first, SIGKILL), 0);
  ASSERT_TRUE(testpeer::WaitUntil([&] { return IsZombie(first); }, kAnswerBoundMs));
  reader.Read('e', RandomBytes(4 << 20, 3));
  ASSERT_TRUE(reader.AwaitAnswers(2));
  EXPECT_TRUE(reader.answers[1].Read()) << reader.answers[1].reason;
  EXPECT_EQ(reader.answers[1].text.size(), 4u << 20);
  EXPECT_EQ(reader.worker.WorkersStarted(), 2);

  testsupport::TempDirectory dir("tirasel-docworker");
  std::string mark = (dir / "crashed-once").string();
  reader.Read('o', mark);
  ASSERT_TRUE(reader.AwaitAnswers(3));
  EXPECT_TRUE(reader.answers[2].Read()) << reader.answers[2].reason;
  EXPECT_EQ(reader.answers[2].text, mark);
  EXPECT_EQ(reader.worker.WorkersStarted(), 3);
}

// Destroyed with its worker idle, or busy on a document that would burn
// processor time for days: the worker is gone (and reaped) when the
// destructor returns, and no answer comes after.
TEST(DocumentWorker, DestroyingTheClientEndsItsWorkerIdleOrBusy) {
  for (bool busy : {false, true}) {
    SCOPED_TRACE(busy ? "busy" : "idle");
    testsupport::TempDirectory dir("tirasel-docworker");
    TDocumentWorkerSettings settings = TestSettings();
    settings.limits.cpuSeconds = 1000000;
    settings.stderrPath = (dir / "stderr").string();
    auto reader = std::make_unique<TReader>(settings);
    pid_t pid = reader->WorkerPid();
    ASSERT_GT(pid, 0);
    if (busy) {
      reader->Read('c');
      ASSERT_TRUE(testpeer::WaitUntil(
          [&] { return testsupport::ReadFile(settings.stderrPath) == "busy\n"; }, kAnswerBoundMs));
    }
    reader.reset();
    EXPECT_TRUE(ProcessGone(pid));
    ProcessMessages();
  }
}

// An answer's handler may end the run and the client with it: the answers
// after are dropped, not delivered to a client that is gone.
TEST(DocumentWorker, AHandlerMayDestroyTheClient) {
  auto worker = std::make_unique<TDocumentWorker>(TestSettings());
  std::vector<std::string> seen;
  worker->Read('e', "first", [&](TDocumentAnswer answer) {
    seen.push_back(answer.text);
    worker.reset();
  });
  worker->Read('e', "second", [&](TDocumentAnswer answer) { seen.push_back(answer.text); });
  ASSERT_TRUE(testpeer::WaitUntil([&] { return !seen.empty(); }, kAnswerBoundMs));
  ProcessMessages();
  EXPECT_EQ(seen, std::vector<std::string>{"first"});
  EXPECT_EQ(worker, nullptr);
}

// Failures that need no worker, each still answered through the loop.
TEST(DocumentWorker, WhatNeedsNoWorkerIsAnsweredWithoutOne) {
  TDocumentWorkerSettings missing = TestSettings();
  missing.program = "/nonexistent/tirasel-document-worker";
  TReader noProgram(missing);
  noProgram.Read('e', "a");
  noProgram.Read('e', "b");
  ASSERT_TRUE(noProgram.AwaitAnswers(2));
  for (const TDocumentAnswer& answer : noProgram.answers) {
    EXPECT_EQ(answer.status, TDocumentStatus::dsNoWorker);
    EXPECT_EQ(answer.reason,
              "the document reader could not be started: /nonexistent/tirasel-document-worker: "
              "No such file or directory");
  }

  TDocumentWorkerSettings small = TestSettings();
  small.limits.memoryMiB = 1;
  TReader tooLarge(small);
  tooLarge.Read('e', std::string((1 << 20) + 1, 'x'));
  ASSERT_TRUE(tooLarge.AwaitAnswers(1));
  EXPECT_EQ(tooLarge.answers[0].reason, "too large to read: it is larger than 1 MiB");
  EXPECT_EQ(tooLarge.worker.WorkersStarted(), 0);
}
