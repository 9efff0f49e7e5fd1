// What a run's requests exchange with the servers, written into a web
// archive as it happens (TWarcWriter): each client's exchange is gathered
// from its recorder events and handed over whole when its connection ends,
// a relocation's and a failure's included. Several clients may share it.
//
// The digests and the compression of the records cost more than the crawl's
// own work on a page: a thread of the recorder's own does them and writes,
// taking the finished exchanges in order from a bounded queue (the crawl
// waits only when it is full). That thread touches nothing but the queue
// and the writer.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "HttpProt.h"
#include "WarcWriter.h"

class TWarcRecorder : public THttpRecorder {
 public:
  // `writer` must outlive the recorder, and be used by nothing else while
  // the recorder lives. A write that fails (a full disk) ends the recording,
  // not the run: Failure() tells why.
  explicit TWarcRecorder(TWarcWriter& writer);
  // Writes what is still queued, then ends the writing thread.
  ~TWarcRecorder() override;
  TWarcRecorder(const TWarcRecorder&) = delete;
  TWarcRecorder& operator=(const TWarcRecorder&) = delete;

  void RequestSent(const THttpCli& client, const std::string& targetUri,
                   const std::string& ipAddress, std::string_view bytes) override;
  void AnswerData(const THttpCli& client, std::string_view bytes) override;
  void ExchangeEnded(const THttpCli& client, std::uint16_t error,
                     const std::string& reason) override;

  // Waits until every exchange handed over so far is written.
  void Flush();
  // Empty while every exchange was written; else why the recording ended.
  std::string Failure();

 private:
  void Hand(TWarcExchange exchange);
  void WriteQueued();

  TWarcWriter& writer_;
  std::map<const THttpCli*, TWarcExchange> open_;  // by client, from request to end

  // Shared with the writing thread.
  std::mutex mu_;
  std::condition_variable changed_;
  std::deque<TWarcExchange> queue_;
  std::size_t queuedBytes_ = 0;
  bool writing_ = false;  // the thread holds an exchange it has not written yet
  bool stopping_ = false;
  std::string failure_;
  std::thread thread_;  // last: it starts when everything else exists
};

// The warcinfo fields of an archive Tirasel writes: the program and the
// options of the run (name, value).
TWarcFields TiraselWarcInfo(const TWarcFields& options);
