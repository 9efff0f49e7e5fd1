#include "DelayRelay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "LoopbackPorts.h"

namespace testsupport {

namespace {

constexpr size_t kReadPiece = 64 * 1024;
// Reads from one side per turn of the loop, so that one busy side cannot
// keep the others waiting.
constexpr int kReadsPerTurn = 16;

void MakeNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Pieces go out as they fall due: Nagle's wait for an acknowledgement would
// add a delay of its own.
void SendAtOnce(int fd) {
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int ConnectToLoopback(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  // On loopback the handshake completes within the call.
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

DelayRelay::DelayRelay(std::uint16_t targetPort, std::chrono::milliseconds delay,
                       bool delayConnect)
    : targetPort_(targetPort), delay_(delay), delayConnect_(delayConnect) {
  listenFd_ = ListenOnLoopback(port_, 128);
  int wake[2];
  if (listenFd_ < 0 || port_ == 0 || ::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (listenFd_ >= 0) ::close(listenFd_);
    throw std::runtime_error("the delay relay cannot listen on 127.0.0.1");
  }
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  MakeNonBlocking(listenFd_);
  thread_ = std::thread([this] { Run(); });
}

DelayRelay::~DelayRelay() {
  char stop = 1;
  // The pipe is empty or holds this byte already; either way the thread wakes.
  (void)!::write(wakeWrite_, &stop, 1);
  thread_.join();
  for (Pair& pair : pairs_) {
    ::close(pair.up.from);
    ::close(pair.up.to);
  }
  ::close(listenFd_);
  ::close(wakeRead_);
  ::close(wakeWrite_);
}

void DelayRelay::Run() {
  std::vector<pollfd> entries;
  for (;;) {
    // One moment for both: a piece falling due between two readings of
    // the clock would be neither written nor waited for.
    const Clock::time_point before = Clock::now();
    entries.clear();
    CollectPollEntries(entries, before);
    ::poll(entries.data(), entries.size(), PollTimeoutMs(before));
    if (entries[0].revents != 0) return;
    if (entries[1].revents != 0) AcceptOne();
    const Clock::time_point now = Clock::now();
    for (auto it = pairs_.begin(); it != pairs_.end();) {
      Pair& pair = *it;
      Read(pair.up, now);
      Read(pair.down, now);
      Deliver(pair.up, now, pair.failed);
      Deliver(pair.down, now, pair.failed);
      if (pair.failed || (pair.up.ended && pair.down.ended)) {
        ::close(pair.up.from);
        ::close(pair.up.to);
        it = pairs_.erase(it);
      } else {
        ++it;
      }
    }
  }
}

// Entry 0 is the wake pipe, entry 1 the listener (ignored while the pairs
// are at their limit), then the client and the target of each pair. A
// side with nothing to do is left out: a hung-up socket would otherwise
// end every wait at once.
void DelayRelay::CollectPollEntries(std::vector<pollfd>& entries, Clock::time_point now) const {
  entries.push_back({wakeRead_, POLLIN, 0});
  entries.push_back({pairs_.size() < kMaxPairs ? listenFd_ : -1, POLLIN, 0});
  for (const Pair& pair : pairs_) {
    for (int fd : {pair.up.from, pair.up.to}) {
      const short events = EventsOf(pair, fd, now);
      entries.push_back({events != 0 ? fd : -1, events, 0});
    }
  }
}

short DelayRelay::EventsOf(const Pair& pair, int fd, Clock::time_point now) {
  short events = 0;
  for (const Way* way : {&pair.up, &pair.down}) {
    if (way->from == fd && way->reading && way->queued < kMaxQueuedBytes) events |= POLLIN;
    if (way->to == fd && !way->queue.empty() && way->queue.front().due <= now) events |= POLLOUT;
  }
  return events;
}

// Until the earliest piece that is not yet due; no limit when none waits.
int DelayRelay::PollTimeoutMs(Clock::time_point now) const {
  int timeout = -1;
  for (const Pair& pair : pairs_) {
    for (const Way* way : {&pair.up, &pair.down}) {
      if (way->queue.empty() || way->queue.front().due <= now) continue;
      const auto wait =
          std::chrono::ceil<std::chrono::milliseconds>(way->queue.front().due - now).count();
      if (timeout < 0 || wait < timeout) timeout = static_cast<int>(wait);
    }
  }
  return timeout;
}

void DelayRelay::AcceptOne() {
  const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (client < 0) return;
  const int target = ConnectToLoopback(targetPort_);
  if (target < 0) {
    ::close(client);
    return;
  }
  MakeNonBlocking(target);
  SendAtOnce(client);
  SendAtOnce(target);
  const Clock::time_point now = Clock::now();
  Pair& pair = pairs_.emplace_back();
  pair.up.from = pair.down.to = client;
  pair.up.to = pair.down.from = target;
  pair.up.open = delayConnect_ ? now + 2 * delay_ : now;
  pair.down.open = now;
}

void DelayRelay::Read(Way& way, Clock::time_point now) {
  char buffer[kReadPiece];
  for (int i = 0; i < kReadsPerTurn && way.reading && way.queued < kMaxQueuedBytes; ++i) {
    const ssize_t n = ::recv(way.from, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    Piece piece{std::max(now, way.open) + delay_, {}, n <= 0};
    if (n > 0) piece.bytes.assign(buffer, static_cast<size_t>(n));
    way.queued += piece.bytes.size();
    way.reading = !piece.end;
    way.queue.push_back(std::move(piece));
  }
}

// Writes what has fallen due until the socket takes no more; sets `failed`
// when the receiving side is gone.
void DelayRelay::Deliver(Way& way, Clock::time_point now, bool& failed) {
  while (!way.queue.empty() && way.queue.front().due <= now) {
    Piece& head = way.queue.front();
    if (head.end) {
      ::shutdown(way.to, SHUT_WR);
      way.ended = true;
      way.queue.pop_front();
      return;
    }
    const ssize_t n = ::send(way.to, head.bytes.data() + way.headSent,
                             head.bytes.size() - way.headSent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) failed = true;
      return;
    }
    way.headSent += static_cast<size_t>(n);
    if (way.headSent < head.bytes.size()) return;
    way.queued -= head.bytes.size();
    way.headSent = 0;
    way.queue.pop_front();
  }
}

}  // namespace testsupport
