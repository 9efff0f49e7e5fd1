// Test peers: a blocking POSIX server on 127.0.0.1 running one behaviour per
// accepted connection on its own thread, and helpers to wait on events.
#pragma once

#include <QObject>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <dirent.h>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "LoopbackPorts.h"
#include "Messages.h"

namespace testpeer {

using Clock = std::chrono::steady_clock;

// Pumps the thread's messages until pred holds or the time is up.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    ProcessMessages();
    if (pred()) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return pred();
    WaitForMessages(static_cast<int>(std::min<long>(left.count(), 50)));
  }
}

// Pumps for a while (for checking that nothing more arrives).
inline void PumpFor(int ms) {
  WaitUntil([] { return false; }, ms);
}

inline int OpenFdCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

// Runs actions on the thread that made it, each posted as a queued Qt event
// from any thread (a server thread that has just seen a request): they run
// where that thread next processes its Qt events, as a click on a button
// would. Actions still queued when it goes are dropped.
class QueuedCalls {
 public:
  void Post(std::function<void()> action) {
    QMetaObject::invokeMethod(&context_, std::move(action), Qt::QueuedConnection);
  }

 private:
  QObject context_;
};

using testsupport::ListenOnLoopback;

// A port on 127.0.0.1 where nobody listens (connections are refused).
inline std::uint16_t UnusedPort() { return testsupport::FreeLoopbackPort(); }

class LoopbackPeer {
 public:
  using Behaviour = std::function<void(int fd, LoopbackPeer& peer)>;

  explicit LoopbackPeer(Behaviour behaviour, int connections = 1)
      : behaviour_(std::move(behaviour)) {
    listenFd_ = ListenOnLoopback(port_, 64);
    thread_ = std::thread([this, connections] { Run(connections); });
  }

  ~LoopbackPeer() {
    stop_ = true;
    Release();
    thread_.join();
    ::close(listenFd_);
  }

  std::uint16_t Port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }
  bool Stopping() const { return stop_; }

  void Release() {
    std::lock_guard lock(mu_);
    released_ = true;
    cv_.notify_all();
  }
  bool WaitReleased(int ms) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return released_ || stop_; });
  }

  // Waits until fd is readable (true) or the peer stops / time is up.
  bool WaitReadable(int fd, int ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!stop_ && Clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 50) > 0) return true;
    }
    return false;
  }

  // What the behaviours report back.
  std::atomic<std::int64_t> received{0};
  std::atomic<std::uint64_t> checksum{0};
  std::atomic<int> accepted{0};
  std::atomic<bool> done{false};
  std::atomic<int> closed{0};  // connections the peer has closed
  std::string Received() {
    std::lock_guard lock(mu_);
    return data_;
  }
  void Keep(const char* p, size_t n) {
    std::lock_guard lock(mu_);
    data_.append(p, n);
  }

  // ---- Behaviours
  static void Echo(int fd, LoopbackPeer& peer) {
    char buf[65536];
    while (peer.WaitReadable(fd, 10000)) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      peer.received += n;
      for (ssize_t off = 0; off < n;) {
        ssize_t w = ::send(fd, buf + off, static_cast<size_t>(n - off), MSG_NOSIGNAL);
        if (w <= 0) return;
        off += w;
      }
    }
  }
  static Behaviour SendAndClose(std::string data) {
    return [data](int fd, LoopbackPeer& peer) {
      for (size_t off = 0; off < data.size();) {
        ssize_t w = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (w <= 0) break;
        off += static_cast<size_t>(w);
      }
      peer.done = true;
    };
  }
  // The close that follows is a reset.
  static void ResetAtOnce(int fd, LoopbackPeer& peer) {
    (void)peer;
    linger lg{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  }
  // Resets the connection once released.
  static void ResetWhenReleased(int fd, LoopbackPeer& peer) {
    peer.WaitReleased(20000);
    linger lg{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  }
  // Reads nothing until released, then reads everything until the close.
  static void ReadWhenReleased(int fd, LoopbackPeer& peer) {
    peer.WaitReleased(20000);
    char buf[65536];
    while (peer.WaitReadable(fd, 10000)) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      peer.received += n;
      std::uint64_t sum = peer.checksum;
      for (ssize_t i = 0; i < n; ++i) sum = sum * 31 + static_cast<unsigned char>(buf[i]);
      peer.checksum = sum;
    }
    peer.done = true;
  }
  // Keeps everything it reads; stops at the peer's close.
  static void Collect(int fd, LoopbackPeer& peer) {
    char buf[65536];
    while (peer.WaitReadable(fd, 10000)) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      peer.received += n;
      peer.Keep(buf, static_cast<size_t>(n));
    }
    peer.done = true;
  }
  // Sends what the test feeds (Feed), in order, and keeps what it reads;
  // an empty chunk closes the connection. Ends at the peer's close too.
  static void FedByTest(int fd, LoopbackPeer& peer) {
    char buf[65536];
    auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!peer.Stopping() && Clock::now() < deadline) {
      std::string chunk;
      while (peer.TakeFeed(chunk)) {
        if (chunk.empty()) return;
        if (!SendAll(fd, chunk)) return;
      }
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      peer.received += n;
      peer.Keep(buf, static_cast<size_t>(n));
    }
    peer.done = true;
  }
  void Feed(std::string chunk) {
    std::lock_guard lock(mu_);
    feed_.push_back(std::move(chunk));
  }
  bool TakeFeed(std::string& chunk) {
    std::lock_guard lock(mu_);
    if (feed_.empty()) return false;
    chunk = std::move(feed_.front());
    feed_.erase(feed_.begin());
    return true;
  }
  // Reads a request header: what came up to its empty line, the client's
  // close, or 10 s of silence.
  std::string ReadRequestHeader(int fd) {
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos && WaitReadable(fd, 10000)) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      request.append(buf, static_cast<size_t>(n));
    }
    return request;
  }
  static bool SendAll(int fd, const std::string& data) {
    for (size_t off = 0; off < data.size();) {
      ssize_t w = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
      if (w <= 0) return false;
      off += static_cast<size_t>(w);
    }
    return true;
  }
  // Holds the connection open and silent until the peer object stops.
  static void Hold(int fd, LoopbackPeer& peer) {
    (void)fd;
    peer.WaitReleased(30000);
  }

 private:
  void Run(int connections) {
    for (int i = 0; i < connections && !stop_; ++i) {
      int fd = -1;
      auto deadline = Clock::now() + std::chrono::seconds(30);
      while (!stop_ && Clock::now() < deadline) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
          fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
          break;
        }
      }
      if (fd < 0) return;
      ++accepted;
      behaviour_(fd, *this);
      ::close(fd);
      ++closed;
    }
  }

  Behaviour behaviour_;
  int listenFd_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mu_;
  std::condition_variable cv_;
  bool released_ = false;
  std::string data_;
  std::vector<std::string> feed_;
};

}  // namespace testpeer
