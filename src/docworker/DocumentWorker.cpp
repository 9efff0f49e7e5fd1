#include "DocumentWorker.h"

#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "Messages.h"
#include "WorkerProcess.h"

namespace {

constexpr unsigned WM_DOCUMENT_ANSWERED = WM_USER + 1;
// A document whose worker dies is tried once more on a fresh one: the death
// may come from an earlier document that left the worker damaged.
constexpr int kTriesPerDocument = 2;

struct TDocumentJob {
  std::uint8_t kind = 0;
  std::string bytes;
};

std::string SignalName(int signal) {
  const char* name = sigabbrev_np(signal);
  return name ? std::string("SIG") + name : "signal " + std::to_string(signal);
}

// What the end of a worker that died by itself says about its document.
TDocumentAnswer FailureOfEnd(const TWorkerEnd& end, const TWorkerLimits& limits) {
  if (end.killedHere) return FailedDocument(TDocumentStatus::dsCrashed, "it stopped answering");
  int status = end.waitStatus;
  if (WIFEXITED(status)) {
    return FailedDocument(TDocumentStatus::dsCrashed,
                          "it ended with exit status " + std::to_string(WEXITSTATUS(status)));
  }
  std::string cpuLimit = std::to_string(limits.cpuSeconds) + " s of processor time";
  int signal = WTERMSIG(status);
  if (signal == SIGXCPU) return FailedDocument(TDocumentStatus::dsTooLong, "more than " + cpuLimit);
  if (signal != SIGKILL) return FailedDocument(TDocumentStatus::dsCrashed, SignalName(signal));
  // Not sent here: the hard CPU limit, or a system out of memory.
  if (end.cpuSeconds >= limits.cpuSeconds) {
    return FailedDocument(TDocumentStatus::dsTooLong, "killed after " + cpuLimit);
  }
  return FailedDocument(TDocumentStatus::dsTooLarge, "killed, out of memory");
}

// The helper thread writes to pipes whose reader may be gone: EPIPE, not a
// signal that would end the crawl.
void BlockBrokenPipeSignal() {
  sigset_t brokenPipe;
  sigemptyset(&brokenPipe);
  sigaddset(&brokenPipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &brokenPipe, nullptr);
}

}  // namespace

class TDocumentWorker::TImpl {
 public:
  explicit TImpl(TDocumentWorkerSettings settings);
  ~TImpl();

  void Read(std::uint8_t kind, std::string bytes, TDocumentDone done);
  int WorkersStarted() const { return started_; }

 private:
  void Serve();
  TDocumentAnswer ReadOnWorker(const TDocumentJob& job);
  TDocumentAnswer TryOnce(const TDocumentJob& job, bool& tryAgain);
  TWorkerProcess::TDeadline Deadline() const;
  void Deliver();

  const TDocumentWorkerSettings settings_;
  HWND window_ = 0;
  int stopFd_ = -1;
  std::thread helper_;
  std::atomic<int> started_{0};
  std::deque<TDocumentDone> waiting_;  // the client's thread only, in the order of Read

  std::mutex mu_;  // guards the three below
  std::condition_variable wake_;
  bool stopping_ = false;
  std::deque<TDocumentJob> jobs_;
  std::deque<TDocumentAnswer> answers_;

  TWorkerProcess process_;  // the helper thread only
};

TDocumentWorker::TImpl::TImpl(TDocumentWorkerSettings settings) : settings_(std::move(settings)) {
  stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  window_ = AllocateHWnd([this](TMessage& msg) {
    if (msg.Msg == WM_DOCUMENT_ANSWERED) {
      Deliver();
    } else {
      DefWindowProc(msg);
    }
  });
}

TDocumentWorker::TImpl::~TImpl() {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  wake_.notify_all();
  std::uint64_t one = 1;
  // An eventfd's counter cannot overflow from one write; the write cannot fail.
  [[maybe_unused]] ssize_t written = ::write(stopFd_, &one, sizeof one);
  if (helper_.joinable()) helper_.join();
  DeallocateHWnd(window_);
  ::close(stopFd_);
}

void TDocumentWorker::TImpl::Read(std::uint8_t kind, std::string bytes, TDocumentDone done) {
  waiting_.push_back(std::move(done));
  {
    std::lock_guard lock(mu_);
    jobs_.push_back(TDocumentJob{kind, std::move(bytes)});
  }
  wake_.notify_one();
  if (!helper_.joinable()) helper_ = std::thread([this] { Serve(); });
}

void TDocumentWorker::TImpl::Serve() {
  BlockBrokenPipeSignal();
  for (;;) {  // one document per pass, until the client goes
    TDocumentJob job;
    {
      std::unique_lock lock(mu_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) break;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    TDocumentAnswer answer = ReadOnWorker(job);
    {
      std::lock_guard lock(mu_);
      if (stopping_) break;
      answers_.push_back(std::move(answer));
    }
    PostMessage(window_, WM_DOCUMENT_ANSWERED, 0, 0);
  }
  process_.End(settings_.stopGraceMs);
}

TDocumentAnswer TDocumentWorker::TImpl::ReadOnWorker(const TDocumentJob& job) {
  if (job.bytes.size() > settings_.limits.MemoryBytes()) {
    return FailedDocument(
        TDocumentStatus::dsTooLarge,
        "it is larger than " + std::to_string(settings_.limits.memoryMiB) + " MiB");
  }
  TDocumentAnswer failure;
  for (int attempt = 0; attempt < kTriesPerDocument; ++attempt) {
    bool tryAgain = false;
    TDocumentAnswer answer = TryOnce(job, tryAgain);
    if (!tryAgain) return answer;
    failure = std::move(answer);
  }
  return failure;
}

TDocumentAnswer TDocumentWorker::TImpl::TryOnce(const TDocumentJob& job, bool& tryAgain) {
  if (!process_.Running()) {
    std::string error;
    if (!process_.Start(settings_, error))
      return FailedDocument(TDocumentStatus::dsNoWorker, error);
    ++started_;
  }
  const TWorkerLimits& limits = settings_.limits;
  TDocumentAnswer answer;
  switch (
      process_.Exchange(job.kind, job.bytes, Deadline(), stopFd_, limits.AnswerBytes(), answer)) {
    case TExchangeEnd::eeAnswered:
      // Out of memory may have left the reader's state damaged.
      if (answer.status == TDocumentStatus::dsTooLarge) process_.End(settings_.stopGraceMs);
      return answer;
    case TExchangeEnd::eeWorkerGone:
      // It never had the whole document: its death is no word about it.
      tryAgain = true;
      return FailureOfEnd(process_.End(settings_.stopGraceMs), limits);
    case TExchangeEnd::eeWorkerEnded:
      answer = FailureOfEnd(process_.End(settings_.stopGraceMs), limits);
      tryAgain = answer.status == TDocumentStatus::dsCrashed;
      return answer;
    case TExchangeEnd::eeGarbled:
      tryAgain = true;
      answer = FailedDocument(TDocumentStatus::dsCrashed, "it answered garbage");
      break;
    case TExchangeEnd::eeAnswerTooLarge:
      answer = FailedDocument(TDocumentStatus::dsTooLarge,
                              "its answer passes " + std::to_string(limits.answerMiB) + " MiB");
      break;
    case TExchangeEnd::eeTimedOut:
      answer = FailedDocument(TDocumentStatus::dsTooLong,
                              "no answer within " + std::to_string(settings_.wallSeconds) + " s");
      break;
    case TExchangeEnd::eeStopped:
      answer = FailedDocument(TDocumentStatus::dsCrashed, "the client stopped it");
      break;
  }
  process_.Kill();
  return answer;
}

TWorkerProcess::TDeadline TDocumentWorker::TImpl::Deadline() const {
  if (settings_.wallSeconds <= 0) return TWorkerProcess::TDeadline::max();
  return TWorkerProcess::TDeadline::clock::now() + std::chrono::seconds(settings_.wallSeconds);
}

void TDocumentWorker::TImpl::Deliver() {
  TDocumentAnswer answer;
  {
    std::lock_guard lock(mu_);
    if (answers_.empty() || waiting_.empty()) return;
    answer = std::move(answers_.front());
    answers_.pop_front();
  }
  TDocumentDone done = std::move(waiting_.front());
  waiting_.pop_front();
  done(std::move(answer));  // may destroy the client: nothing of it is touched after this
}

TDocumentWorker::TDocumentWorker(TDocumentWorkerSettings settings)
    : impl_(std::make_unique<TImpl>(std::move(settings))) {}

TDocumentWorker::~TDocumentWorker() = default;

void TDocumentWorker::Read(std::uint8_t kind, std::string bytes, TDocumentDone done) {
  impl_->Read(kind, std::move(bytes), std::move(done));
}

int TDocumentWorker::WorkersStarted() const { return impl_->WorkersStarted(); }
