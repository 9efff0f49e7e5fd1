#include "WarcRecorder.h"

#include <chrono>

#include "RequestTarget.h"
#include "WarcError.h"

namespace {

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

namespace {

// What may wait for the writing thread: a few exchanges, or this many bytes.
constexpr std::size_t kMaxQueued = 256;
constexpr std::size_t kMaxQueuedBytes = std::size_t{64} << 20;

}  // namespace

TWarcRecorder::TWarcRecorder(TWarcWriter& writer)
    : writer_(writer), thread_([this] { WriteQueued(); }) {}

TWarcRecorder::~TWarcRecorder() {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void TWarcRecorder::RequestSent(const THttpCli& client, const std::string& targetUri,
                                const std::string& ipAddress, std::string_view bytes) {
  TWarcExchange& exchange = open_[&client];
  exchange = TWarcExchange{};
  exchange.TargetUri = targetUri;
  exchange.IpAddress = ipAddress;
  exchange.RequestBytes = bytes;
  exchange.TimeMs = NowMs();
}

void TWarcRecorder::AnswerData(const THttpCli& client, std::string_view bytes) {
  auto open = open_.find(&client);
  if (open != open_.end()) open->second.ResponseBytes.append(bytes);
}

// A failure before anything was sent (a name that does not resolve, a
// refused connection) is an exchange of its own, at the address the client
// was about to ask; a close of an idle client is none.
void TWarcRecorder::ExchangeEnded(const THttpCli& client, std::uint16_t error,
                                  const std::string& reason) {
  auto open = open_.find(&client);
  if (open == open_.end()) {
    if (error == 0 || client.State() == hsIdle) return;
    TWarcExchange failure;
    failure.TargetUri = RequestUriOf(client.Location());
    failure.TimeMs = NowMs();
    open = open_.emplace(&client, std::move(failure)).first;
  }
  TWarcExchange exchange = std::move(open->second);
  open_.erase(open);
  exchange.Error = error;
  exchange.Reason = error == 0 ? std::string() : reason;
  Hand(std::move(exchange));
}

void TWarcRecorder::Hand(TWarcExchange exchange) {
  std::unique_lock lock(mu_);
  changed_.wait(lock,
                [this] { return queue_.size() < kMaxQueued && queuedBytes_ < kMaxQueuedBytes; });
  queuedBytes_ += exchange.RequestBytes.size() + exchange.ResponseBytes.size();
  queue_.push_back(std::move(exchange));
  lock.unlock();
  changed_.notify_all();
}

void TWarcRecorder::Flush() {
  std::unique_lock lock(mu_);
  changed_.wait(lock, [this] { return queue_.empty() && !writing_; });
}

std::string TWarcRecorder::Failure() {
  std::lock_guard lock(mu_);
  return failure_;
}

// The writing thread: the queue in order until it is empty and the recorder
// goes. After a failure the rest is dropped, so the crawl never waits on a
// writer that cannot write.
void TWarcRecorder::WriteQueued() {
  std::unique_lock lock(mu_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;
    TWarcExchange exchange = std::move(queue_.front());
    queue_.pop_front();
    queuedBytes_ -= exchange.RequestBytes.size() + exchange.ResponseBytes.size();
    const bool failed = !failure_.empty();
    writing_ = true;
    lock.unlock();
    changed_.notify_all();
    std::string problem;
    try {
      if (!failed) writer_.WriteExchange(exchange);
    } catch (const EWarcError& failure) {
      problem = failure.what();
    }
    lock.lock();
    writing_ = false;
    if (!problem.empty() && failure_.empty()) failure_ = problem;
    changed_.notify_all();
  }
}

TWarcFields TiraselWarcInfo(const TWarcFields& options) {
  TWarcFields fields = {{"software", "Tirasel 1.0"},
                        {"format", "WARC File Format 1.1"},
                        {"conformsTo",
                         "http://iipc.github.io/warc-specifications/specifications/"
                         "warc-format/warc-1.1/"}};
  fields.insert(fields.end(), options.begin(), options.end());
  return fields;
}
