#include "FuzzServer.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Messages.h"

bool PumpUntil(const std::function<bool()>& done, int rounds) {
  for (int round = 0; round < rounds; ++round) {
    bool quit = false;
    PumpPendingMessages(quit);
    if (done()) return true;
    WaitForMessages(1, false);
  }
  return done();
}

TFuzzServer::TFuzzServer() {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listenFd_ < 0 ||
      ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::listen(listenFd_, 16) != 0) {
    std::abort();
  }
  port_ = ntohs(address.sin_port);
}

TFuzzServer::~TFuzzServer() {
  if (fd_ >= 0) ::close(fd_);
  ::close(listenFd_);
}

bool TFuzzServer::Accept(const std::function<bool()>& gone) {
  PumpUntil([&] {
    if (fd_ < 0) fd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    return fd_ >= 0 || gone();
  });
  if (fd_ < 0) return false;
  // Every piece leaves at once: held back for an acknowledgement, pieces
  // would cost milliseconds each.
  int on = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return true;
}

void TFuzzServer::Feed(std::string_view piece, int clientFd, const std::function<bool()>& gone) {
  while (!piece.empty()) {
    ssize_t sent = ::send(fd_, piece.data(), piece.size(), MSG_NOSIGNAL);
    if (sent <= 0) return;  // the component has reset the connection
    piece.remove_prefix(static_cast<size_t>(sent));
  }
  PumpUntil(
      [&] {
        int unread = 0;
        return gone() || ::ioctl(clientFd, FIONREAD, &unread) != 0 || unread == 0;
      },
      200);
}

bool TFuzzServer::AwaitRequest(const std::function<bool()>& gone) {
  bool sent = false;
  PumpUntil(
      [&] {
        sent = sent || Drain() > 0;
        return sent || gone();
      },
      1000);
  return sent;
}

bool TFuzzServer::Finish(const std::function<bool()>& done) {
  if (fd_ < 0) return PumpUntil(done);
  ::shutdown(fd_, SHUT_WR);
  bool ended = PumpUntil([&] {
    Drain();
    return done();
  });
  // Both sides are done with the connection: a reset leaves no waiting state
  // behind for the thousands of connections a fuzzing run makes.
  linger reset{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(fd_);
  fd_ = -1;
  return ended;
}

// What the component sends is read away: unread bytes would turn the
// server's close into a reset.
size_t TFuzzServer::Drain() {
  char buffer[4096];
  size_t total = 0;
  ssize_t n;
  while (fd_ >= 0 && (n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0)
    total += static_cast<size_t>(n);
  return total;
}
