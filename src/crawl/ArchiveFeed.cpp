#include "ArchiveFeed.h"

#include <chrono>

#include "ArchiveSource.h"
#include "AsciiCase.h"
#include "HttpMessage.h"
#include "WarcError.h"
#include "WarcReader.h"

namespace {

// What waits in the queue at most: a few pages, or this many bytes of them.
constexpr std::size_t kMaxQueuedItems = 64;
constexpr std::size_t kMaxQueuedBytes = std::size_t{64} << 20;
// A record's block beyond the body bound: room for the answer's header.
constexpr std::int64_t kHeaderRoom = std::int64_t{1} << 20;

bool IsHtmlAnswer(const THttpMessage& message) {
  if (message.Status < 200 || message.Status > 299) return false;
  if (message.ContentType.empty()) return message.Body.starts_with('<');
  return LowerAscii(message.ContentType).find("html") != std::string::npos;
}

}  // namespace

TArchiveFeed::TArchiveFeed(std::vector<std::string> files, std::int64_t maxBodyBytes)
    : files_(std::move(files)),
      maxBodyBytes_(maxBodyBytes > 0 ? maxBodyBytes : INT64_MAX - kHeaderRoom),
      reader_([this] { Read(); }) {}

TArchiveFeed::~TArchiveFeed() {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  changed_.notify_all();
  reader_.join();
}

std::optional<TArchiveFeed::TItem> TArchiveFeed::Next(int waitMs) {
  std::unique_lock lock(mu_);
  if (!changed_.wait_for(lock, std::chrono::milliseconds(waitMs),
                         [this] { return !items_.empty(); }))
    return std::nullopt;
  TItem item = std::move(items_.front());
  items_.pop_front();
  queuedBytes_ -= item.Body.size();
  lock.unlock();
  changed_.notify_all();
  return item;
}

bool TArchiveFeed::Put(TItem item) {
  std::unique_lock lock(mu_);
  changed_.wait(lock, [this] {
    return stopping_ || (items_.size() < kMaxQueuedItems && queuedBytes_ < kMaxQueuedBytes);
  });
  if (stopping_) return false;
  queuedBytes_ += item.Body.size();
  items_.push_back(std::move(item));
  lock.unlock();
  changed_.notify_all();
  return true;
}

void TArchiveFeed::Read() {
  for (const std::string& file : files_) {
    try {
      ReadFile(file);
    } catch (const EWarcError& failure) {
      TItem problem;
      problem.Kind = TItem::TKind::Problem;
      problem.Line = std::string("WARC: ") + failure.what();
      if (!Put(std::move(problem))) return;
    }
  }
  Put(TItem{});
}

void TArchiveFeed::ReadFile(const std::string& file) {
  // Damage is reported in the order it is found, among the pages.
  bool stopped = false;
  TWarcReader reader(file, maxBodyBytes_ + kHeaderRoom,
                     [&](std::uint64_t offset, const std::string& problem) {
                       TItem damage;
                       damage.Kind = TItem::TKind::Problem;
                       damage.Line = DamageLine(file, offset, problem);
                       if (!Put(std::move(damage))) stopped = true;
                     });
  TWarcRecord record;
  while (!stopped && reader.Next(record)) {
    // A block past the bound is no page the run would take whole.
    if (record.Type != "response" || record.BlockTruncated) continue;
    std::string problem;
    std::optional<THttpMessage> message = ParseHttpResponse(record.Block, maxBodyBytes_, problem);
    if (!message || !IsHtmlAnswer(*message)) continue;
    TItem page;
    page.Kind = TItem::TKind::Page;
    page.Uri = record.TargetUri;
    page.ContentType = LowerAscii(message->ContentType);
    page.Body = std::move(message->Body);
    if (!Put(std::move(page))) return;
  }
}
