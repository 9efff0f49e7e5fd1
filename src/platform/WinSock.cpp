// The socket calls of WinSock.h over POSIX sockets: start-up, the calls on
// a socket and their options. Readiness watching is in WinSockWatch.cpp,
// lookups in WinSockLookups.cpp, the error codes in WinSockErrors.cpp.
#include "WinSock.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "SocketRecords.h"

namespace winsock {

using namespace records;

namespace {

std::atomic<int> g_startCount{0};

}  // namespace

bool records::CheckStarted() {
  if (g_startCount.load() > 0) return true;
  WSASetLastError(WSANOTINITIALISED);
  return false;
}

int WSAStartup(std::uint16_t versionRequested, WSAData* data) {
  if ((versionRequested & 0xff) < 1) return WSAVERNOTSUPPORTED;
  if (data) {
    data->wVersion = 0x0101;
    data->wHighVersion = 0x0101;
    std::strcpy(data->szDescription, "POSIX sockets");
    std::strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 0xffff;
    data->iMaxUdpDg = 0xffff;
  }
  ++g_startCount;
  return 0;
}

int WSACleanup() {
  int before = g_startCount.load();
  if (before <= 0) return Fail(WSANOTINITIALISED);
  if (--g_startCount == 0) {
    // Requests still running when the library stops are withdrawn.
    WithdrawAllLookups();
  }
  return 0;
}

bool IsStarted() { return g_startCount.load() > 0; }

SOCKET socket(int af, int type, int protocol) {
  if (!CheckStarted()) return INVALID_SOCKET;
  if (af != AF_INET_W) return Fail(WSAEAFNOSUPPORT);
  if (type != SOCK_STREAM_W && type != SOCK_DGRAM_W) return Fail(WSAESOCKTNOSUPPORT);
  int fd = ::socket(AF_INET, (type == SOCK_STREAM_W ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC,
                    protocol);
  if (fd < 0) return FailErrno();
  InsertSocket(fd, type, false);
  return fd;
}

int bind(SOCKET s, const sockaddr_in* addr, int len) {
  auto r = Find(s);
  if (!r) return SOCKET_ERROR;
  if (!addr || len < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  if (::bind(s, reinterpret_cast<const sockaddr*>(addr), sizeof(sockaddr_in)) < 0)
    return FailErrno();
  return 0;
}

int connect(SOCKET s, const sockaddr_in* addr, int len) {
  auto r = Find(s);
  if (!r) return SOCKET_ERROR;
  if (!addr || len < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  if (::connect(s, reinterpret_cast<const sockaddr*>(addr), sizeof(sockaddr_in)) == 0) {
    r->connected = true;
    if (r->type == SOCK_STREAM_W) {
      Notify(s, *r, FD_CONNECT, 0);
      Notify(s, *r, FD_WRITE, 0);
    }
    UpdateWatch(s, *r);
    return 0;
  }
  int err = errno;
  if (err == EINPROGRESS) {
    r->connecting = true;
    UpdateWatch(s, *r);
    return Fail(WSAEWOULDBLOCK);
  }
  // A non-blocking connect that failed at once still reports through the
  // connect notification, as the handshake's outcome.
  bool async = r->wnd && (r->mask & FD_CONNECT);
  if (async && (err == ECONNREFUSED || err == ENETUNREACH || err == EHOSTUNREACH ||
                err == ETIMEDOUT || err == ECONNRESET)) {
    Notify(s, *r, FD_CONNECT, ErrnoToWsa(err));
    return Fail(WSAEWOULDBLOCK);
  }
  return Fail(ErrnoToWsa(err));
}

int listen(SOCKET s, int backlog) {
  auto r = Find(s);
  if (!r) return SOCKET_ERROR;
  if (::listen(s, backlog) < 0) return FailErrno();
  r->listening = true;
  r->acceptArmed = true;
  UpdateWatch(s, *r);
  return 0;
}

SOCKET accept(SOCKET s, sockaddr_in* addr, int* len) {
  auto r = Find(s);
  if (!r) return INVALID_SOCKET;
  sockaddr_in peer{};
  socklen_t plen = sizeof peer;
  int fd = ::accept4(s, reinterpret_cast<sockaddr*>(&peer), &plen, SOCK_CLOEXEC);
  int err = errno;
  Rearm(s, *r, r->acceptArmed);
  if (fd < 0) return Fail(ErrnoToWsa(err));
  if (addr) *addr = peer;
  if (len) *len = sizeof peer;
  InsertSocket(fd, SOCK_STREAM_W, true);
  return fd;
}

int closesocket(SOCKET s) {
  if (!CheckStarted()) return SOCKET_ERROR;
  std::shared_ptr<SockRec> rec = RemoveSocket(s);
  if (!rec) return Fail(WSAENOTSOCK);
  std::lock_guard lock(rec->mu);
  StopWatching(s, *rec);
  // Notifications of this handle still queued would otherwise reach
  // whatever socket gets the same number next.
  if (rec->queue && rec->wnd) {
    rec->queue->PurgeIf([&](const TMessage& m) {
      return m.Window == rec->wnd && m.Msg == rec->msg && m.WParam == static_cast<WPARAM>(s);
    });
  }
  ::close(s);
  return 0;
}

int shutdown(SOCKET s, int how) {
  auto r = Find(s);
  if (!r) return SOCKET_ERROR;
  if (how < 0 || how > 2) return Fail(WSAEINVAL);
  if (::shutdown(s, how) < 0) return FailErrno();
  if (how != 0) r->shutWr = true;
  return 0;
}

namespace {

// Data transfers run outside the table lock, so that sockets served by
// different threads never wait for each other; the lock is taken before, to
// check the handle, and after, to settle the notification state.
bool Known(SOCKET s) { return static_cast<bool>(Find(s)); }

int SendFailure(SOCKET s, SockRec& r, int err) {
  if (err == EAGAIN || err == EWOULDBLOCK) {
    Rearm(s, r, r.writeArmed);
    return Fail(WSAEWOULDBLOCK);
  }
  if (err == EPIPE) return Fail(r.shutWr ? WSAESHUTDOWN : WSAECONNRESET);
  return Fail(ErrnoToWsa(err));
}

int AfterSend(SOCKET s, ssize_t n, std::int64_t wanted, int err) {
  Locked r = FindQuiet(s);
  if (n < 0) return r ? SendFailure(s, *r, err) : Fail(ErrnoToWsa(err));
  // A partial send found the buffer full, like one that would block.
  if (r && n < wanted) Rearm(s, *r, r->writeArmed);
  return static_cast<int>(n);
}

int AfterRecv(SOCKET s, ssize_t n, int err, bool oob) {
  if (Locked r = FindQuiet(s)) Rearm(s, *r, oob ? r->oobArmed : r->readArmed);
  if (n < 0) return Fail(ErrnoToWsa(err));
  return static_cast<int>(n);
}

}  // namespace

int send(SOCKET s, const void* buf, int len, int flags) {
  if (!Known(s)) return SOCKET_ERROR;
  if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
  ssize_t n = ::send(s, buf, static_cast<size_t>(len), (flags & MSG_OOB) | MSG_NOSIGNAL);
  return AfterSend(s, n, len, errno);
}

int sendv(SOCKET s, const WSABUF_W* pieces, int count, int flags) {
  if (!Known(s)) return SOCKET_ERROR;
  if (count < 0 || count > 1024 || (!pieces && count > 0)) return Fail(WSAEINVAL);
  iovec iov[1024];
  std::int64_t total = 0;
  for (int i = 0; i < count; ++i) {
    if (pieces[i].len < 0 || (!pieces[i].buf && pieces[i].len > 0)) return Fail(WSAEFAULT);
    iov[i].iov_base = const_cast<void*>(pieces[i].buf);
    iov[i].iov_len = static_cast<size_t>(pieces[i].len);
    total += pieces[i].len;
  }
  if (total > INT32_MAX) return Fail(WSAEMSGSIZE);
  msghdr mh{};
  mh.msg_iov = iov;
  mh.msg_iovlen = static_cast<size_t>(count);
  ssize_t n = ::sendmsg(s, &mh, (flags & MSG_OOB) | MSG_NOSIGNAL);
  return AfterSend(s, n, total, errno);
}

int sendto(SOCKET s, const void* buf, int len, int flags, const sockaddr_in* to, int tolen) {
  if (!Known(s)) return SOCKET_ERROR;
  if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
  if (to && tolen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  ssize_t n = ::sendto(s, buf, static_cast<size_t>(len), (flags & MSG_OOB) | MSG_NOSIGNAL,
                       reinterpret_cast<const sockaddr*>(to), to ? sizeof(sockaddr_in) : 0);
  return AfterSend(s, n, len, errno);
}

int recv(SOCKET s, void* buf, int len, int flags) {
  if (!Known(s)) return SOCKET_ERROR;
  if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
  ssize_t n;
  int err = 0;
  if (len == 0) {
    // A zero-byte read probes the connection: would-block while it is open
    // (quiet or with data waiting), 0 once the peer has closed.
    char probe;
    n = ::recv(s, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
      n = -1;
      errno = EAGAIN;
    } else if (n == 0) {
      WSASetLastError(0);
    }
  } else {
    n = ::recv(s, buf, static_cast<size_t>(len), flags & (MSG_OOB | MSG_PEEK));
  }
  if (n < 0) err = errno;
  return AfterRecv(s, n, err, flags & MSG_OOB);
}

int recvfrom(SOCKET s, void* buf, int len, int flags, sockaddr_in* from, int* fromlen) {
  if (!Known(s)) return SOCKET_ERROR;
  if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
  sockaddr_in peer{};
  socklen_t plen = sizeof peer;
  ssize_t n = ::recvfrom(s, buf, static_cast<size_t>(len), flags & (MSG_OOB | MSG_PEEK),
                         reinterpret_cast<sockaddr*>(&peer), &plen);
  int rc = AfterRecv(s, n, errno, flags & MSG_OOB);
  if (n >= 0 && from && fromlen && *fromlen >= static_cast<int>(sizeof peer)) {
    *from = peer;
    *fromlen = sizeof peer;
  }
  return rc;
}

namespace {

bool TranslateOption(int level, int optname, int& plevel, int& poptname) {
  if (level == SOL_SOCKET_W) {
    plevel = SOL_SOCKET;
    switch (optname) {
      case SO_DEBUG_W:
        poptname = SO_DEBUG;
        return true;
      case SO_REUSEADDR_W:
        poptname = SO_REUSEADDR;
        return true;
      case SO_KEEPALIVE_W:
        poptname = SO_KEEPALIVE;
        return true;
      case SO_DONTROUTE_W:
        poptname = SO_DONTROUTE;
        return true;
      case SO_BROADCAST_W:
        poptname = SO_BROADCAST;
        return true;
      case SO_LINGER_W:
        poptname = SO_LINGER;
        return true;
      case SO_OOBINLINE_W:
        poptname = SO_OOBINLINE;
        return true;
      case SO_SNDBUF_W:
        poptname = SO_SNDBUF;
        return true;
      case SO_RCVBUF_W:
        poptname = SO_RCVBUF;
        return true;
      case SO_ERROR_W:
        poptname = SO_ERROR;
        return true;
      case SO_TYPE_W:
        poptname = SO_TYPE;
        return true;
      default:
        return false;
    }
  }
  if (level == IPPROTO_TCP_W && optname == TCP_NODELAY_W) {
    plevel = IPPROTO_TCP;
    poptname = TCP_NODELAY;
    return true;
  }
  return false;
}

}  // namespace

int setsockopt(SOCKET s, int level, int optname, const void* optval, int optlen) {
  auto r = Find(s);
  if (!r) return SOCKET_ERROR;
  int plevel, pname;
  if (!TranslateOption(level, optname, plevel, pname)) return Fail(WSAENOPROTOOPT);
  if (!optval || optlen < 1) return Fail(WSAEFAULT);
  int rc;
  if (pname == SO_LINGER && plevel == SOL_SOCKET) {
    // The record is two 16-bit fields: on/off and seconds.
    if (optlen < 4) return Fail(WSAEFAULT);
    std::uint16_t fields[2];
    std::memcpy(fields, optval, 4);
    linger lg{fields[0] != 0 ? 1 : 0, fields[1]};
    rc = ::setsockopt(s, plevel, pname, &lg, sizeof lg);
  } else {
    int value = 0;
    if (optlen >= 4) {
      std::memcpy(&value, optval, 4);
    } else {
      value = *static_cast<const unsigned char*>(optval);
    }
    if (pname != SO_SNDBUF && pname != SO_RCVBUF) value = value != 0 ? 1 : 0;
    rc = ::setsockopt(s, plevel, pname, &value, sizeof value);
  }
  return rc < 0 ? FailErrno() : 0;
}

int getsockopt(SOCKET s, int level, int optname, void* optval, int* optlen) {
  auto r = Find(s);
  if (!r) return SOCKET_ERROR;
  int plevel, pname;
  if (!TranslateOption(level, optname, plevel, pname)) return Fail(WSAENOPROTOOPT);
  if (!optval || !optlen || *optlen < 4) return Fail(WSAEFAULT);
  if (pname == SO_LINGER && plevel == SOL_SOCKET) {
    linger lg{};
    socklen_t len = sizeof lg;
    if (::getsockopt(s, plevel, pname, &lg, &len) < 0) return FailErrno();
    std::uint16_t fields[2] = {static_cast<std::uint16_t>(lg.l_onoff),
                               static_cast<std::uint16_t>(lg.l_linger)};
    std::memcpy(optval, fields, 4);
    *optlen = 4;
    return 0;
  }
  int value = 0;
  socklen_t len = sizeof value;
  if (::getsockopt(s, plevel, pname, &value, &len) < 0) return FailErrno();
  if (pname == SO_ERROR) value = ErrnoToWsa(value);
  std::memcpy(optval, &value, 4);
  *optlen = 4;
  return 0;
}

int ioctlsocket(SOCKET s, long cmd, std::uint32_t* arg) {
  auto r = Find(s);
  if (!r) return SOCKET_ERROR;
  if (!arg) return Fail(WSAEFAULT);
  if (cmd == FIONREAD_W) {
    int n = 0;
    if (::ioctl(s, FIONREAD, &n) < 0) return FailErrno();
    *arg = static_cast<std::uint32_t>(n);
    return 0;
  }
  if (cmd == FIONBIO_W) {
    int flags = ::fcntl(s, F_GETFL);
    flags = *arg ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (::fcntl(s, F_SETFL, flags) < 0) return FailErrno();
    return 0;
  }
  return Fail(WSAEINVAL);
}

int getsockname(SOCKET s, sockaddr_in* name, int* namelen) {
  auto r = Find(s);
  if (!r) return SOCKET_ERROR;
  if (!name || !namelen || *namelen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  socklen_t len = sizeof(sockaddr_in);
  if (::getsockname(s, reinterpret_cast<sockaddr*>(name), &len) < 0) return FailErrno();
  *namelen = static_cast<int>(len);
  return 0;
}

int getpeername(SOCKET s, sockaddr_in* name, int* namelen) {
  auto r = Find(s);
  if (!r) return SOCKET_ERROR;
  if (!name || !namelen || *namelen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  socklen_t len = sizeof(sockaddr_in);
  if (::getpeername(s, reinterpret_cast<sockaddr*>(name), &len) < 0) return FailErrno();
  *namelen = static_cast<int>(len);
  return 0;
}

std::uint32_t inet_addr(const char* text) { return text ? ::inet_addr(text) : INADDR_NONE; }

std::string inet_ntoa(std::uint32_t addr) {
  const auto* b = reinterpret_cast<const unsigned char*>(&addr);
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
         std::to_string(b[3]);
}

int OpenSocketCount() { return SocketCount(); }

}  // namespace winsock
