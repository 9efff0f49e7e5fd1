// Readiness watching: which epoll events each socket waits for, and how a
// ready socket becomes the notifications WSAAsyncSelect asked for.
#include <cerrno>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "SocketRecords.h"

using platform_detail::QueueOfWindow;
using platform_detail::ThreadQueue;

namespace winsock {

using namespace records;

namespace {

std::uint32_t WantedEvents(const SockRec& r) {
  if (!r.wnd || !r.mask || !r.queue || r.parked) return 0;
  if (r.listening) return (r.acceptArmed && (r.mask & FD_ACCEPT)) ? std::uint32_t{EPOLLIN} : 0u;
  if (r.connecting) return EPOLLOUT;
  if (r.type == SOCK_DGRAM_W) {
    return (r.readArmed && (r.mask & FD_READ)) ? std::uint32_t{EPOLLIN} : 0u;
  }
  if (!r.connected) return 0;
  std::uint32_t ev = 0;
  if (r.readArmed && !r.closePosted && (r.mask & (FD_READ | FD_CLOSE))) ev |= EPOLLIN | EPOLLRDHUP;
  if (r.writeArmed && (r.mask & FD_WRITE)) ev |= EPOLLOUT;
  if (r.oobArmed && (r.mask & FD_OOB)) ev |= EPOLLPRI;
  return ev;
}

}  // namespace

namespace records {

void UpdateWatch(int fd, SockRec& r, bool lazy) {
  std::uint32_t want = WantedEvents(r);
  if (!r.queue) return;
  int ep = r.queue->EpollFd();
  constexpr std::uint32_t kRead = EPOLLIN | EPOLLRDHUP;
  if (lazy && r.registered && want != 0 && (want & ~r.regEvents) == 0 &&
      ((r.regEvents & ~want) & ~kRead) == 0)
    return;
  if (want == 0) {
    if (r.registered) epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);
    r.registered = false;
    r.regEvents = 0;
    return;
  }
  if (r.registered && want == r.regEvents) return;
  epoll_event ev{};
  ev.events = want;
  ev.data.fd = fd;
  epoll_ctl(ep, r.registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &ev);
  r.registered = true;
  r.regEvents = want;
}

void Notify(int fd, const SockRec& r, long event, int error) {
  if (!(r.mask & event)) return;
  PostMessage(r.wnd, r.msg, static_cast<WPARAM>(fd),
              static_cast<LPARAM>((static_cast<std::uint32_t>(error & 0xffff) << 16) |
                                  static_cast<std::uint32_t>(event)));
}

void StopWatching(int fd, SockRec& r) {
  if (r.registered && r.queue) epoll_ctl(r.queue->EpollFd(), EPOLL_CTL_DEL, fd, nullptr);
  r.registered = false;
  r.regEvents = 0;
}

void Rearm(SOCKET s, SockRec& r, bool& flag) {
  if (flag && !r.parked) return;
  flag = true;
  r.parked = false;
  UpdateWatch(s, r, true);
}

}  // namespace records

namespace {

int PendingBytes(int fd) {
  int n = 0;
  if (::ioctl(fd, FIONREAD, &n) < 0) return 0;
  return n;
}

void HandleReadable(int fd, SockRec& r, std::uint32_t ev, bool& posted) {
  // Plain readability means data; only a hang-up or error needs a closer look.
  if (!(ev & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) || PendingBytes(fd) > 0) {
    Notify(fd, r, FD_READ, 0);
    r.readArmed = false;
    posted = true;
    return;
  }
  char probe;
  ssize_t got = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  if (got > 0) {
    Notify(fd, r, FD_READ, 0);
    r.readArmed = false;
    posted = true;
  } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    int error = got == 0 ? 0 : ErrnoToWsa(errno);
    if (!r.closePosted) Notify(fd, r, FD_CLOSE, error);
    r.closePosted = true;
    r.readArmed = false;
    posted = true;
  }
}

// Pending connections: whether the handshake of a socket has ended.
void HandleConnectDone(int fd, SockRec& r) {
  int err = 0;
  socklen_t len = sizeof err;
  ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
  r.connecting = false;
  if (err == 0) {
    r.connected = true;
    r.readArmed = true;
    Notify(fd, r, FD_CONNECT, 0);
    Notify(fd, r, FD_WRITE, 0);
  } else {
    Notify(fd, r, FD_CONNECT, ErrnoToWsa(err));
  }
}

}  // namespace

int WSAAsyncSelect(SOCKET s, HWND wnd, unsigned msg, long events) {
  auto r = Find(s);
  if (!r) return SOCKET_ERROR;
  std::shared_ptr<ThreadQueue> queue;
  if (msg != 0 && events != 0) {
    queue = QueueOfWindow(wnd);
    if (!queue) return Fail(WSAEINVAL);
  }
  int flags = ::fcntl(s, F_GETFL);
  if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0) return FailErrno();
  StopWatching(s, *r);
  r->queue = queue;
  r->wnd = queue ? wnd : 0;
  r->msg = queue ? msg : 0;
  r->mask = queue ? events : 0;
  r->readArmed = r->acceptArmed = r->oobArmed = true;
  r->writeArmed = r->connected;  // a connected socket reports room to send
  r->parked = false;
  if (queue) queue->EnsureNotifier();
  UpdateWatch(s, *r);
  return 0;
}

}  // namespace winsock

namespace platform_detail {

void OnSocketReady(int fd, std::uint32_t ev) {
  using namespace winsock;
  using namespace winsock::records;
  Locked locked = FindQuiet(fd);
  if (!locked) return;
  SockRec& r = *locked;
  if (!r.wnd) return;
  bool posted = false;
  if (r.connecting) {
    if (ev & (EPOLLOUT | EPOLLERR | EPOLLHUP)) {
      HandleConnectDone(fd, r);
      posted = true;
    }
  } else if (r.listening) {
    if ((ev & EPOLLIN) && r.acceptArmed) {
      Notify(fd, r, FD_ACCEPT, 0);
      r.acceptArmed = false;
      posted = true;
    }
  } else if (r.type == SOCK_DGRAM_W) {
    if ((ev & EPOLLIN) && r.readArmed) {
      Notify(fd, r, FD_READ, 0);
      r.readArmed = false;
      posted = true;
    }
  } else if (r.connected) {
    if ((ev & EPOLLPRI) && r.oobArmed && (r.mask & FD_OOB)) {
      Notify(fd, r, FD_OOB, 0);
      r.oobArmed = false;
      posted = true;
    }
    if ((ev & (EPOLLOUT | EPOLLERR | EPOLLHUP)) && r.writeArmed && (r.mask & FD_WRITE)) {
      Notify(fd, r, FD_WRITE, 0);
      r.writeArmed = false;
      posted = true;
    }
    if ((ev & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) && r.readArmed && !r.closePosted) {
      HandleReadable(fd, r, ev, posted);
    }
  }
  if (!posted && (ev & (EPOLLERR | EPOLLHUP))) r.parked = true;
  UpdateWatch(fd, r, posted);
}

}  // namespace platform_detail
