// A distant server made of a near one: a relay on a free port of 127.0.0.1
// that joins each connection it accepts to a new connection to
// 127.0.0.1:targetPort and forwards the bytes both ways, each piece `delay`
// after it arrived. It adds latency, not a bandwidth cap: pieces keep their
// order and wait in a queue with their time of arrival, so a round trip
// through the relay costs two delays, TLS handshakes included. The kernel
// completes the client's TCP handshake at once; with `delayConnect` the
// relay charges that round trip too, holding a client's first bytes until
// two delays after the accept, when a distant connect() would have returned.
//
// When one side ends its sending (or its connection fails), the other side's
// sending half is shut once the bytes queued before that have been
// delivered; a pair whose delivery fails, or whose two ways have both ended,
// is closed. One thread serves every connection; at most kMaxPairs pairs at
// once (later connections are closed unanswered), and reading from a side
// pauses while kMaxQueuedBytes of it wait to be forwarded.
//
//   testsupport::DelayRelay relay(nginx.TlsPort(), std::chrono::milliseconds(25));
//   ... "https://127.0.0.1:" + std::to_string(relay.Port()) + "/index.html" ...
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>

namespace testsupport {

class DelayRelay {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr size_t kMaxPairs = 256;
  static constexpr size_t kMaxQueuedBytes = 1 << 20;

  // Listens at once; throws std::runtime_error when it cannot.
  DelayRelay(std::uint16_t targetPort, std::chrono::milliseconds delay, bool delayConnect = false);
  // Closes every connection, queued bytes undelivered, and ends the thread.
  ~DelayRelay();
  DelayRelay(const DelayRelay&) = delete;
  DelayRelay& operator=(const DelayRelay&) = delete;

  std::uint16_t Port() const { return port_; }

 private:
  // Bytes read from one side, or its end (`end`: it shut its sending half
  // or failed), forwarded to the other side at `due`.
  struct Piece {
    Clock::time_point due;
    std::string bytes;
    bool end = false;
  };
  // One way of a pair: read from `from`, written to `to`.
  struct Way {
    int from = -1, to = -1;
    Clock::time_point open;  // nothing read arrives earlier than this
    std::deque<Piece> queue;
    size_t queued = 0;        // bytes in the queue
    size_t headSent = 0;      // bytes of the head already written
    bool reading = true;      // until `from` ended
    bool ended = false;       // the end has been forwarded (`to` shut for writing)
  };
  struct Pair {
    Way up, down;  // client to target, target to client
    bool failed = false;
  };

  void Run();
  // The poll entries for the listener and every pair, and how long to wait.
  int PollTimeoutMs(Clock::time_point now) const;
  void CollectPollEntries(std::vector<pollfd>& entries, Clock::time_point now) const;
  void AcceptOne();
  void Read(Way& way, Clock::time_point now);
  void Deliver(Way& way, Clock::time_point now, bool& failed);
  static short EventsOf(const Pair& pair, int fd, Clock::time_point now);

  std::uint16_t targetPort_;
  Clock::duration delay_;
  bool delayConnect_;
  std::uint16_t port_ = 0;
  int listenFd_ = -1;
  int wakeRead_ = -1, wakeWrite_ = -1;
  std::list<Pair> pairs_;  // owned by the thread while it runs
  std::thread thread_;
};

}  // namespace testsupport
