// A loopback web site that serves every connection on its own thread, adds
// a fixed delay to every answer (a distant server) and counts the
// connections it holds open at once. A page is a body served as a 200
// text/html answer, or a whole answer when it begins with "HTTP/"; "{ROOT}"
// in it becomes the site's root address, "{PORT}" its port; kCloseUnanswered and kReset end the
// connection without a byte. Other paths get a 404. Tests act
// on what it sees: an answer can wait until requests for other paths have
// arrived, or until released, and actions can run on the test's thread
// once a path has been requested.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "LoopbackPeer.h"

namespace testpeer {

class ConcurrentSiteServer {
 public:
  // At most kMaxConnections connections are served in all; later ones are
  // closed unanswered.
  static constexpr int kMaxConnections = 20000;
  // Pages that are no answer: the connection is closed, or reset.
  static constexpr const char* kCloseUnanswered = "{CLOSE}";
  static constexpr const char* kReset = "{RESET}";

  explicit ConcurrentSiteServer(std::map<std::string, std::string> pages, int delayMs = 0)
      : pages_(std::move(pages)), delayMs_(delayMs) {
    listenFd_ = ListenOnLoopback(port_, 256);
    root_ = "http://127.0.0.1:" + std::to_string(port_) + "/";
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }

  ~ConcurrentSiteServer() {
    {
      std::lock_guard lock(mu_);
      stop_ = true;
      cv_.notify_all();
    }
    acceptor_.join();
    std::unique_lock lock(mu_);
    // Every handler waits in bounded steps and watches stop_.
    cv_.wait_for(lock, std::chrono::seconds(30), [this] { return handlers_ == 0; });
    ::close(listenFd_);
  }

  std::string PortText() const { return std::to_string(port_); }
  std::string Root() const { return root_; }

  // The most connections that were open at once so far, and now. A
  // connection counts from its accept until its answer starts: a client
  // that closes once it has read the header (an error status, a
  // relocation) may connect anew before the server has closed its side.
  int MaxOpen() const { return maxOpen_; }
  int Open() const { return open_; }

  // Request targets (paths with their query) in order of arrival.
  std::vector<std::string> Requested() {
    std::lock_guard lock(mu_);
    return requested_;
  }
  // Those of them whose request carried an Authorization header.
  std::vector<std::string> Authorized() {
    std::lock_guard lock(mu_);
    return authorized_;
  }

  // The answer to `path` waits until requests for all of `others` have
  // arrived (or the server stops, or 20 s have passed).
  void HoldUntilRequested(std::string path, std::vector<std::string> others) {
    std::lock_guard lock(mu_);
    holds_[std::move(path)] = std::move(others);
  }
  // The answer to `path` waits until Release (or the client closes, the
  // server stops, or 20 s have passed).
  void Stall(std::string path) {
    std::lock_guard lock(mu_);
    stalled_.insert(std::move(path));
  }
  void Release() {
    std::lock_guard lock(mu_);
    released_ = true;
    cv_.notify_all();
  }

  // A request for `path` without an Authorization header gets a 401.
  void RequireAuthorization(std::string path) {
    std::lock_guard lock(mu_);
    private_.insert(std::move(path));
  }

  // Each call is made before the request it waits for can arrive; the
  // action runs once, on the calling thread, when that thread next
  // processes Qt events after the request for `path` has arrived.
  void WhenRequested(std::string path, std::function<void()> action) {
    std::lock_guard lock(mu_);
    onRequest_.emplace(std::move(path), std::move(action));
  }

 private:
  void AcceptLoop() {
    for (int served = 0; served < kMaxConnections && !stop_;) {
      pollfd p{listenFd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      ++served;
      maxOpen_ = std::max(maxOpen_.load(), ++open_);
      {
        std::lock_guard lock(mu_);
        ++handlers_;
      }
      std::thread([this, fd] {
        bool counted = true;
        Serve(fd, counted);
        if (counted) --open_;
        ::close(fd);
        std::lock_guard lock(mu_);
        --handlers_;
        cv_.notify_all();
      }).detach();
    }
  }

  // Waits on the server's condition for at most `ms`; true when `done` holds.
  bool WaitFor(int ms, const std::function<bool()>& done) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stop_ || done(); }) &&
           !stop_;
  }

  // Clears `counted` when it takes the connection off the open ones.
  void Serve(int fd, bool& counted) {
    std::string request;
    char buf[4096];
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (request.find("\r\n\r\n") == std::string::npos && Clock::now() < deadline && !stop_) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return;
      request.append(buf, static_cast<size_t>(n));
    }
    if (request.find("\r\n\r\n") == std::string::npos) return;
    // "GET <target> HTTP/1.0": the target may be a path or an absolute address.
    size_t start = request.find(' ') + 1;
    std::string target = request.substr(start, request.find(' ', start) - start);
    if (size_t scheme = target.find("://"); scheme != std::string::npos) {
      size_t path = target.find('/', scheme + 3);
      target = path == std::string::npos ? "/" : target.substr(path);
    }
    const std::string path = target.substr(0, target.find('?'));  // the query selects nothing
    std::vector<std::string> awaited;
    bool stall, refused;
    {
      std::lock_guard lock(mu_);
      requested_.push_back(target);
      if (request.find("\r\nAuthorization: ") != std::string::npos) authorized_.push_back(target);
      seen_.insert(path);
      if (auto action = onRequest_.find(path); action != onRequest_.end()) {
        calls_.Post(std::move(action->second));
        onRequest_.erase(action);
      }
      if (auto hold = holds_.find(path); hold != holds_.end()) awaited = hold->second;
      stall = stalled_.contains(path);
      refused = private_.contains(path) && request.find("\r\nAuthorization: ") == std::string::npos;
      cv_.notify_all();
    }
    if (!awaited.empty()) {
      WaitFor(20000, [&] {
        return std::all_of(awaited.begin(), awaited.end(),
                           [&](const std::string& p) { return seen_.contains(p); });
      });
    }
    if (stall) {
      // In steps, so that a client that gave up is noticed.
      for (int rounds = 0; rounds < 400 && !WaitFor(50, [&] { return released_; }); ++rounds) {
        pollfd p{fd, POLLIN, 0};
        char byte;
        if (::poll(&p, 1, 0) > 0 && ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0) return;
      }
    }
    if (delayMs_ > 0) WaitFor(delayMs_, [] { return false; });
    if (stop_) return;
    auto page = refused ? pages_.end() : pages_.find(path);
    std::string answer =
        refused ? "HTTP/1.0 401 Unauthorized\r\n\r\n"
        : page == pages_.end()
            ? "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<p>Nicht gefunden</p>"
            : page->second;
    if (!answer.starts_with("HTTP/") && answer != kReset && answer != kCloseUnanswered) {
      answer = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + answer;
    }
    for (size_t at; (at = answer.find("{ROOT}")) != std::string::npos;) {
      answer.replace(at, 6, root_);
    }
    for (size_t at; (at = answer.find("{PORT}")) != std::string::npos;) {
      answer.replace(at, 6, std::to_string(port_));
    }
    --open_;
    counted = false;
    if (answer == kReset) {
      linger reset{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
      return;
    }
    if (answer == kCloseUnanswered) return;
    LoopbackPeer::SendAll(fd, answer);
  }

  const std::map<std::string, std::string> pages_;
  const int delayMs_;
  int listenFd_ = -1;
  std::uint16_t port_ = 0;
  std::string root_;
  std::atomic<int> open_{0}, maxOpen_{0};

  std::mutex mu_;
  std::condition_variable cv_;
  std::atomic<bool> stop_{false};
  bool released_ = false;
  int handlers_ = 0;
  std::vector<std::string> requested_, authorized_;
  std::set<std::string> seen_;
  std::map<std::string, std::vector<std::string>> holds_;
  std::set<std::string> stalled_;
  std::set<std::string> private_;
  std::multimap<std::string, std::function<void()>> onRequest_;
  QueuedCalls calls_;
  std::thread acceptor_;  // last: it starts when everything else exists
};

}  // namespace testpeer
