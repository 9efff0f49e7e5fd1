// The HTML answers of web archives, in archive order, read and decoded on a
// thread of their own and handed to the run's thread through a bounded
// queue: decompression goes on beside the harvest, and memory stays bounded
// however large the archives are. The reading thread only reads and hands
// over; everything else stays on the run's thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class TArchiveFeed {
 public:
  struct TItem {
    enum class TKind { Page, Problem, End } Kind = TKind::End;
    std::string Uri, ContentType, Body;  // a page: its address, type (lower case) and document
    std::string Line;                    // a problem: its log line
  };

  // Starts reading. Answers count as HTML when they have a status from 200
  // to 299 and a content type naming HTML (or none, and a body that begins
  // with "<"); bodies are bounded by maxBodyBytes (0: no bound).
  TArchiveFeed(std::vector<std::string> files, std::int64_t maxBodyBytes);
  // Stops the reading thread and waits for it.
  ~TArchiveFeed();
  TArchiveFeed(const TArchiveFeed&) = delete;
  TArchiveFeed& operator=(const TArchiveFeed&) = delete;

  // The next item, waiting at most `waitMs`; nullopt when none came in
  // time. After the End item nothing more comes.
  std::optional<TItem> Next(int waitMs);

 private:
  void Read();
  void ReadFile(const std::string& file);
  // Queues an item, waiting while the queue is full; false once stopping.
  bool Put(TItem item);

  const std::vector<std::string> files_;
  const std::int64_t maxBodyBytes_;
  std::mutex mu_;
  std::condition_variable changed_;
  std::deque<TItem> items_;
  std::size_t queuedBytes_ = 0;
  bool stopping_ = false;
  std::thread reader_;  // last: it starts when everything else exists
};
