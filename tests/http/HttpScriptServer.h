// A loopback HTTP server for tests that records each request's exact bytes
// and answers with exact, scripted bytes.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackPeer.h"

namespace testpeer {

// One scripted answer: pieces sent in order (with an optional pause before
// each), then the connection is closed, or held open until the server stops.
struct Answer {
  std::vector<std::string> pieces;
  // Before every piece after the first. Pacing only: the client may still
  // read pieces together, and a test must hold either way.
  int pauseMs = 0;
  bool holdOpen = false;    // keep the connection open, silent, after sending
  bool readRequest = true;  // wait for the request header before answering
  // Runs on the test's thread, as a queued Qt event, once the request has
  // arrived (before the answer is sent).
  std::function<void()> onRequest;

  Answer() = default;
  Answer(std::string whole) : pieces{std::move(whole)} {}  // NOLINT: scripts read better this way
  Answer(std::vector<std::string> parts, int pause = 0)
      : pieces(std::move(parts)), pauseMs(pause) {}
};

class HttpScriptServer {
 public:
  explicit HttpScriptServer(std::vector<Answer> answers)
      : answers_(std::move(answers)),
        peer_([this](int fd, LoopbackPeer& peer) { Serve(fd, peer); },
              static_cast<int>(answers_.size())) {}

  std::uint16_t Port() const { return peer_.Port(); }
  std::string PortText() const { return peer_.PortText(); }
  std::string Url(const std::string& path = "/") const {
    return "http://127.0.0.1:" + PortText() + path;
  }

  // The request headers received so far, one entry per connection.
  std::vector<std::string> Requests() {
    std::lock_guard lock(mu_);
    return requests_;
  }
  // Replaces a scripted answer before its connection comes: for an answer
  // that names another server made after this one.
  void SetAnswer(size_t index, Answer answer) {
    std::lock_guard lock(mu_);
    answers_.at(index) = std::move(answer);
  }

  int Connections() const { return peer_.accepted; }
  int Closed() const { return peer_.closed; }
  void Release() { peer_.Release(); }

 private:
  void Serve(int fd, LoopbackPeer& peer) {
    size_t index = static_cast<size_t>(peer.accepted - 1);
    Answer answer;
    {
      std::lock_guard lock(mu_);
      answer = answers_.at(index);
    }
    if (answer.readRequest) RecordRequest(fd, peer);
    if (answer.onRequest) calls_.Post(answer.onRequest);
    for (size_t i = 0; i < answer.pieces.size(); ++i) {
      if (i > 0 && answer.pauseMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(answer.pauseMs));
      if (!LoopbackPeer::SendAll(fd, answer.pieces[i])) return;
    }
    if (answer.holdOpen) peer.WaitReleased(20000);
  }

  void RecordRequest(int fd, LoopbackPeer& peer) {
    std::string request = peer.ReadRequestHeader(fd);
    std::lock_guard lock(mu_);
    requests_.push_back(request);
  }

  std::vector<Answer> answers_;
  std::mutex mu_;
  std::vector<std::string> requests_;
  QueuedCalls calls_;  // before the peer: its thread posts here until joined
  LoopbackPeer peer_;  // last: its thread starts when everything else exists
};

}  // namespace testpeer
