// A small loopback web site for crawl tests: serves fixed pages by path,
// answers 404 for the rest, can stall chosen paths until released (before
// answering, or after the first bytes of an answer) or flood a path with data
// that never ends, and records every requested path in order. Tests act on
// what it sees (a request has arrived, so many bytes of a flood are out)
// through actions that run on the test's thread as queued Qt events.
#pragma once

#include <atomic>
#include <cerrno>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "LoopbackPeer.h"

namespace testpeer {

// What a flooded path answers, as fast as the connection takes it.
enum class TFlood {
  Body,         // a header, then a body without end
  HeaderLines,  // a status line, then header lines without end
};

class SiteServer {
 public:
  // `stallPath` gets no answer; each path of `stallAfter` gets the bytes
  // given for it and then nothing more.
  explicit SiteServer(std::map<std::string, std::string> pages, std::string stallPath = "",
                      std::map<std::string, std::string> stallAfter = {})
      : pages_(std::move(pages)),
        stallPath_(std::move(stallPath)),
        stallAfter_(std::move(stallAfter)),
        peer_([this](int fd, LoopbackPeer& peer) { Serve(fd, peer); }, 1000) {}

  std::string PortText() const { return peer_.PortText(); }
  std::string Root() const { return "http://127.0.0.1:" + PortText() + "/"; }
  void Release() { peer_.Release(); }

  std::vector<std::string> Requested() {
    std::lock_guard lock(mu_);
    return requested_;
  }

  // Each call is made before the request it waits for can arrive (before the
  // run starts); the action runs once, on the calling thread, when that thread
  // next processes Qt events after the request for `path` has arrived.
  void WhenRequested(std::string path, std::function<void()> action) {
    std::lock_guard lock(mu_);
    onRequest_.emplace(std::move(path), std::move(action));
  }

  // Answers `path` with a flood that ends only when the client closes the
  // connection, the server stops, or kFloodLimit bytes are out.
  void Flood(std::string path, TFlood kind) {
    std::lock_guard lock(mu_);
    floodPath_ = std::move(path);
    floodKind_ = kind;
  }
  // Runs the action on the calling thread, as above, once `bytes` of a
  // flood have been handed to the connection.
  void WhenFlooded(std::int64_t bytes, std::function<void()> action) {
    std::lock_guard lock(mu_);
    floodTrigger_ = bytes;
    onFlooded_ = std::move(action);
  }
  // Runs the action on the server's own thread, before the next byte goes
  // out, once `bytes` of a flood are out: for a client in another process,
  // whose reaction must not wait for this process's test thread.
  void WhenFloodedOnServer(std::int64_t bytes, std::function<void()> action) {
    std::lock_guard lock(mu_);
    floodServerTrigger_ = bytes;
    onFloodedOnServer_ = std::move(action);
  }
  static constexpr std::int64_t kFloodLimit = std::int64_t{64} << 20;
  std::int64_t FloodSent() const { return floodSent_; }
  // The client closed the connection while the flood went on.
  bool FloodCutOff() const { return floodCutOff_; }

 private:
  void Serve(int fd, LoopbackPeer& peer) {
    const std::string request = peer.ReadRequestHeader(fd);
    if (request.find("\r\n\r\n") == std::string::npos) return;
    // "GET <target> HTTP/1.0": the target may be a path or an absolute address.
    size_t start = request.find(' ') + 1;
    std::string target = request.substr(start, request.find(' ', start) - start);
    if (size_t scheme = target.find("://"); scheme != std::string::npos) {
      size_t path = target.find('/', scheme + 3);
      target = path == std::string::npos ? "/" : target.substr(path);
    }
    bool flood;
    {
      std::lock_guard lock(mu_);
      requested_.push_back(target);
      flood = target == floodPath_;
      if (auto action = onRequest_.find(target); action != onRequest_.end()) {
        calls_.Post(std::move(action->second));
        onRequest_.erase(action);
      }
    }
    if (target == stallPath_) {
      Stall(fd, peer);
      return;
    }
    if (auto stall = stallAfter_.find(target); stall != stallAfter_.end()) {
      LoopbackPeer::SendAll(fd, stall->second);
      Stall(fd, peer);
      return;
    }
    if (flood) {
      SendFlood(fd, peer);
      return;
    }
    auto page = pages_.find(target.substr(0, target.find('?')));  // the query selects nothing
    LoopbackPeer::SendAll(
        fd, page == pages_.end()
                ? "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<p>Nicht gefunden</p>"
                : "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + page->second);
  }

  // Holds the connection silent until the test releases it, the client
  // closes it (connections are served one after the other: a client that
  // gave up must not hold up the next) or 20 s have passed.
  static void Stall(int fd, LoopbackPeer& peer) {
    for (int rounds = 0; rounds < 400 && !peer.WaitReleased(50); ++rounds) {
      pollfd p{fd, POLLIN, 0};
      char byte;
      if (::poll(&p, 1, 0) > 0 && ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0) return;
    }
  }

  void SendFlood(int fd, LoopbackPeer& peer) {
    const bool body = [this] {
      std::lock_guard lock(mu_);
      return floodKind_ == TFlood::Body;
    }();
    std::string chunk = "HTTP/1.0 200 OK\r\n";
    if (body) chunk += "Content-Type: text/html\r\n\r\n";
    const std::string piece =
        body ? std::string(4096, 'x') : "X-Filler: " + std::string(50, 'a') + "\r\n";
    std::string next;
    while (next.size() < 65536) next += piece;
    for (; floodSent_ < kFloodLimit; chunk = next) {
      if (!SendWhileRunning(fd, peer, chunk)) {
        floodCutOff_ = !peer.Stopping();
        return;
      }
      floodSent_ += static_cast<std::int64_t>(chunk.size());
      std::function<void()> now;
      {
        std::lock_guard lock(mu_);
        if (onFlooded_ && floodSent_ >= floodTrigger_)
          calls_.Post(std::exchange(onFlooded_, nullptr));
        if (onFloodedOnServer_ && floodSent_ >= floodServerTrigger_)
          now = std::exchange(onFloodedOnServer_, nullptr);
      }
      if (now) now();
    }
  }

  // False when the client has closed or the server stops; waits in short,
  // bounded steps so that a client that stops reading cannot hold it.
  static bool SendWhileRunning(int fd, LoopbackPeer& peer, const std::string& data) {
    for (size_t off = 0; off < data.size();) {
      pollfd p{fd, POLLOUT, 0};
      if (peer.Stopping()) return false;
      if (::poll(&p, 1, 50) <= 0) continue;
      ssize_t w = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (w <= 0) return false;
      off += static_cast<size_t>(w);
    }
    return true;
  }

  std::map<std::string, std::string> pages_;
  std::string stallPath_;
  std::map<std::string, std::string> stallAfter_;
  std::mutex mu_;
  std::vector<std::string> requested_;
  std::multimap<std::string, std::function<void()>> onRequest_;
  std::string floodPath_;
  TFlood floodKind_ = TFlood::Body;
  std::int64_t floodTrigger_ = 0;
  std::function<void()> onFlooded_;
  std::int64_t floodServerTrigger_ = 0;
  std::function<void()> onFloodedOnServer_;
  std::atomic<std::int64_t> floodSent_{0};
  std::atomic<bool> floodCutOff_{false};
  QueuedCalls calls_;  // before the peer: its thread posts here until joined
  LoopbackPeer peer_;  // last: its thread starts when everything else exists
};

}  // namespace testpeer
