// Socket layer benchmarks:
//  - streaming over loopback through Send and OnDataAvailable/Receive,
//    next to a plain blocking POSIX socket pair measured in the same run;
//  - connect, exchange a few bytes and close, many times, checking that no
//    descriptor leaks and that memory does not grow.
// Sizes: TIRASEL_BENCH_MIB (default 1024) and TIRASEL_BENCH_CYCLES (10000).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "WSocket.h"

namespace {

std::int64_t EnvInt(const char* name, std::int64_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoll(v) : fallback;
}

std::int64_t StreamBytes() { return EnvInt("TIRASEL_BENCH_MIB", 1024) << 20; }

constexpr int kChunk = 64 * 1024;

int OpenFdCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

long ResidentKiB() {
  std::ifstream f("/proc/self/statm");
  long size = 0, resident = 0;
  f >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A listening plain socket on 127.0.0.1 with an ephemeral port.
int PlainListener(std::uint16_t& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::listen(fd, 128);
  port = ntohs(a.sin_port);
  return fd;
}

// Pumps the calling thread's queue until done or the deadline.
void PumpUntil(TCustomWSocket& s, const std::function<bool()>& done, int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline)
      throw std::runtime_error("benchmark timed out");
    s.PumpPendingMessages();
    if (!done()) WaitForMessages(100, false);
  }
}

void BM_PlainBlockingStream(benchmark::State& state) {
  const std::int64_t total = StreamBytes();
  for (auto _ : state) {
    std::uint16_t port;
    int lfd = PlainListener(port);
    std::thread sender([port, total] {
      int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(port);
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
      std::vector<char> buf(kChunk, 'x');
      for (std::int64_t sent = 0; sent < total;) {
        ssize_t n = ::send(fd, buf.data(),
                           static_cast<size_t>(std::min<std::int64_t>(kChunk, total - sent)), 0);
        if (n <= 0) break;
        sent += n;
      }
      ::close(fd);
    });
    int fd = ::accept(lfd, nullptr, nullptr);
    std::vector<char> buf(kChunk);
    std::int64_t got = 0;
    for (;;) {
      ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
      if (n <= 0) break;
      got += n;
    }
    sender.join();
    ::close(fd);
    ::close(lfd);
    if (got != total) state.SkipWithError("plain stream lost bytes");
  }
  state.SetBytesProcessed(state.iterations() * total);
}

// Sender: a TWSocket on its own thread with its own message queue, sending
// the next chunk from OnDataSent. Receiver: a TWSocket adopted from a
// listening TWSocket on this thread, reading in OnDataAvailable.
void BM_WSocketStream(benchmark::State& state) {
  const std::int64_t total = StreamBytes();
  for (auto _ : state) {
    TWSocket server;
    TWSocket receiver;
    std::int64_t got = 0;
    std::vector<char> rbuf(kChunk);
    receiver.SetMultiThreaded(true);
    receiver.OnDataAvailable = [&](TObject*, std::uint16_t) {
      int n = receiver.Receive(rbuf.data(), kChunk);
      if (n > 0) got += n;
      if (got >= total) receiver.Close();
    };
    server.SetMultiThreaded(true);
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.OnSessionAvailable = [&](TObject*, std::uint16_t) { receiver.Dup(server.Accept()); };
    server.Listen();
    std::string port = server.GetBoundPort();

    std::atomic<bool> senderFailed{false};
    std::thread sender([&] {
      try {
        TWSocket s;
        s.SetMultiThreaded(true);
        std::vector<char> buf(kChunk, 'x');
        std::int64_t queued = 0;
        bool closed = false;
        s.OnDataSent = [&](TObject*, std::uint16_t) {
          if (queued >= total) return;
          int n = static_cast<int>(std::min<std::int64_t>(kChunk * 4, total - queued));
          for (int off = 0; off < n; off += kChunk) s.Send(buf.data(), std::min(kChunk, n - off));
          queued += n;
        };
        s.OnSessionClosed = [&](TObject*, std::uint16_t) { closed = true; };
        s.SetAddr("127.0.0.1");
        s.SetPort(port);
        s.Connect();
        PumpUntil(
            s, [&] { return closed; }, 600);
      } catch (...) {
        senderFailed = true;
      }
    });
    PumpUntil(
        server, [&] { return got >= total || senderFailed; }, 600);
    sender.join();
    server.Close();
    if (got != total) state.SkipWithError("stream lost bytes");
  }
  state.SetBytesProcessed(state.iterations() * total);
}

// A plain echo server thread: for each connection, echoes what it reads
// until the peer closes.
class EchoServer {
 public:
  EchoServer() : lfd_(PlainListener(port_)), thread_([this] { Run(); }) {}
  ~EchoServer() {
    stop_ = true;
    thread_.join();
    ::close(lfd_);
  }
  std::uint16_t Port() const { return port_; }
  long Closed() const { return closed_; }

 private:
  void Run() {
    while (!stop_) {
      pollfd p{lfd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int fd = ::accept(lfd_, nullptr, nullptr);
      if (fd < 0) continue;
      char buf[256];
      for (;;) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        ::send(fd, buf, static_cast<size_t>(n), MSG_NOSIGNAL);
      }
      ::close(fd);
      ++closed_;
    }
  }
  std::uint16_t port_ = 0;
  std::atomic<long> closed_{0};
  int lfd_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void BM_WSocketConnectCycles(benchmark::State& state) {
  const std::int64_t cycles = EnvInt("TIRASEL_BENCH_CYCLES", 10000);
  EchoServer echo;
  const std::string port = std::to_string(echo.Port());
  TWSocket s;
  s.SetMultiThreaded(true);
  std::string reply;
  s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    char buf[64];
    int n = s.Receive(buf, sizeof buf);
    if (n > 0) reply.append(buf, static_cast<size_t>(n));
  };
  auto cycle = [&] {
    reply.clear();
    s.SetAddr("127.0.0.1");
    s.SetPort(port);
    s.Connect();
    PumpUntil(
        s, [&] { return s.State() == wsConnected || s.State() == wsClosed; }, 10);
    if (s.State() != wsConnected) throw std::runtime_error("connect failed");
    s.SendStr("ping");
    PumpUntil(
        s, [&] { return reply.size() >= 4; }, 10);
    s.Close();
  };
  // The server's ends live in this process too: count once it has closed them.
  auto serverDone = [&](long expected) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (echo.Closed() < expected && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  for (int i = 0; i < 100; ++i) cycle();  // warm-up: allocator and caches settle
  serverDone(100);
  const int fdsBefore = OpenFdCount();
  const long rssBefore = ResidentKiB();
  for (auto _ : state) {
    for (std::int64_t i = 0; i < cycles; ++i) cycle();
  }
  serverDone(100 + cycles * static_cast<long>(state.iterations()));
  const int fdsAfter = OpenFdCount();
  const long rssAfter = ResidentKiB();
  state.counters["cycles_per_s"] =
      benchmark::Counter(static_cast<double>(cycles) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  state.counters["fd_leak"] = fdsAfter - fdsBefore;
  state.counters["rss_growth_KiB"] = static_cast<double>(rssAfter - rssBefore);
  if (fdsAfter != fdsBefore) state.SkipWithError("descriptor leak");
}

}  // namespace

BENCHMARK(BM_PlainBlockingStream)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WSocketStream)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WSocketConnectCycles)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
