#include "WinSock.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <shared_mutex>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "AsciiCase.h"
#include "ThreadQueue.h"

using platform_detail::QueueOfWindow;
using platform_detail::ThreadQueue;

namespace winsock {

namespace {

std::atomic<int> g_startCount{0};
thread_local int t_lastError = 0;

int Fail(int code) {
  t_lastError = code;
  return SOCKET_ERROR;
}

int FailErrno() { return Fail(ErrnoToWsa(errno)); }

bool CheckStarted() {
  if (g_startCount.load() > 0) return true;
  t_lastError = WSANOTINITIALISED;
  return false;
}

// ---- Sockets and their notification state --------------------------------

struct SockRec {
  std::mutex mu;  // guards the fields below
  int type = SOCK_STREAM;
  HWND wnd = 0;
  unsigned msg = 0;
  long mask = 0;
  std::shared_ptr<ThreadQueue> queue;  // whose epoll set watches the socket
  bool registered = false;
  std::uint32_t regEvents = 0;
  bool listening = false;
  bool connecting = false;
  bool connected = false;
  bool readArmed = true;
  bool writeArmed = false;
  bool acceptArmed = true;
  bool oobArmed = true;
  bool closePosted = false;
  bool parked = false;  // hung up with nothing to report: unwatched until re-armed
  bool shutWr = false;
};

// The table of sockets: looked up under a shared lock, changed only when a
// socket is created or closed. Each record has its own lock, so that sockets
// served by different threads do not wait for each other. Never destroyed:
// clean-up at program exit may still consult it.
std::shared_mutex g_tableMu;
std::unordered_map<int, std::shared_ptr<SockRec>>& g_socks =
    *new std::unordered_map<int, std::shared_ptr<SockRec>>;

// A socket record held under its lock.
class Locked {
 public:
  Locked() = default;
  explicit Locked(std::shared_ptr<SockRec> rec) : rec_(std::move(rec)), lock_(rec_->mu) {}
  explicit operator bool() const { return rec_ != nullptr; }
  SockRec* operator->() const { return rec_.get(); }
  SockRec& operator*() const { return *rec_; }

 private:
  std::shared_ptr<SockRec> rec_;
  std::unique_lock<std::mutex> lock_;
};

// The record of a socket, locked; empty when the handle is unknown.
Locked FindQuiet(int fd) {
  std::shared_ptr<SockRec> rec;
  {
    std::shared_lock lock(g_tableMu);
    auto it = g_socks.find(fd);
    if (it == g_socks.end()) return Locked();
    rec = it->second;
  }
  return Locked(std::move(rec));
}

void InsertSocket(int fd, int type, bool connected) {
  auto rec = std::make_shared<SockRec>();
  rec->type = type;
  rec->connected = connected;
  std::unique_lock lock(g_tableMu);
  g_socks[fd] = std::move(rec);
}

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

// Brings the epoll registration in line with what the socket may report.
// With lazy, read interest that is no longer wanted stays registered: the
// usual next step is a receive that re-arms it, which then costs no call.
// Should the socket turn readable before that, the event finds nothing to
// report and the strict update that follows removes the interest.
void UpdateWatch(int fd, SockRec& r, bool lazy = false) {
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

// ---- Asynchronous lookups -------------------------------------------------

struct Lookup {
  HWND wnd = 0;
  unsigned msg = 0;
  char* buf = nullptr;
  int buflen = 0;
  std::shared_ptr<ThreadQueue> queue;
  bool cancelled = false;
  bool finished = false;  // completion posted
};

std::mutex g_lookupMu;
std::unordered_map<HANDLE, std::shared_ptr<Lookup>>& g_lookups =
    *new std::unordered_map<HANDLE, std::shared_ptr<Lookup>>;
HANDLE g_nextLookup = 1;

struct HostResult {
  int error = 0;
  std::string name;
  std::vector<std::uint32_t> addrs;  // network order
};

bool IsReservedInvalidName(std::string name) {
  // Names under the reserved top-level domain "invalid" never resolve; they
  // are answered here without asking the name service.
  while (!name.empty() && name.back() == '.') name.pop_back();
  LowerAsciiInPlace(name);
  return name == "invalid" || (name.size() > 8 && name.ends_with(".invalid"));
}

HostResult ResolveName(const std::string& name) {
  HostResult res;
  if (IsReservedInvalidName(name)) {
    res.error = WSAHOST_NOT_FOUND;
    return res;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (rc != 0) {
    res.error = GaiToWsa(rc, errno);
    return res;
  }
  res.name = (list && list->ai_canonname) ? list->ai_canonname : name;
  for (addrinfo* p = list; p; p = p->ai_next) {
    if (p->ai_family != AF_INET) continue;
    std::uint32_t a = reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
    bool seen = false;
    for (auto x : res.addrs) seen = seen || x == a;
    if (!seen) res.addrs.push_back(a);
  }
  ::freeaddrinfo(list);
  if (res.addrs.empty()) res.error = WSANO_DATA;
  return res;
}

HostResult ResolveAddr(std::uint32_t addr) {
  HostResult res;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = addr;
  char host[NI_MAXHOST];
  int rc = ::getnameinfo(reinterpret_cast<sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0,
                         NI_NAMEREQD);
  if (rc != 0) {
    res.error = rc == EAI_NONAME ? WSAHOST_NOT_FOUND : GaiToWsa(rc, errno);
    return res;
  }
  res.name = host;
  res.addrs.push_back(addr);
  return res;
}

// Lays out a host entry in buf (which must be pointer-aligned): the record,
// the alias list (empty), the address pointers, the addresses, the name.
// Returns the bytes used, or -1 with the error set when it cannot fit.
int WriteHostEnt(const HostResult& res, char* buf, int buflen, int& error) {
  if (reinterpret_cast<std::uintptr_t>(buf) % alignof(hostent_w) != 0) {
    error = WSAEFAULT;
    return -1;
  }
  size_t k = res.addrs.size();
  auto need = [&](size_t count) {
    return sizeof(hostent_w) + sizeof(char*) + (count + 1) * sizeof(char*) + count * 4 +
           res.name.size() + 1;
  };
  while (k > 0 && need(k) > static_cast<size_t>(buflen)) --k;
  if (need(k) > static_cast<size_t>(buflen) || (k == 0 && !res.addrs.empty())) {
    error = WSAENOBUFS;
    return -1;
  }
  auto* he = reinterpret_cast<hostent_w*>(buf);
  char* p = buf + sizeof(hostent_w);
  he->h_aliases = reinterpret_cast<char**>(p);
  he->h_aliases[0] = nullptr;
  p += sizeof(char*);
  he->h_addr_list = reinterpret_cast<char**>(p);
  p += (k + 1) * sizeof(char*);
  for (size_t i = 0; i < k; ++i) {
    std::memcpy(p, &res.addrs[i], 4);
    he->h_addr_list[i] = p;
    p += 4;
  }
  he->h_addr_list[k] = nullptr;
  he->h_name = p;
  std::memcpy(p, res.name.c_str(), res.name.size() + 1);
  p += res.name.size() + 1;
  he->h_addrtype = AF_INET_W;
  he->h_length = 4;
  error = 0;
  return static_cast<int>(p - buf);
}

void CompleteLookup(HANDLE handle, const std::shared_ptr<Lookup>& lk, const HostResult& res) {
  std::lock_guard lock(g_lookupMu);
  if (lk->cancelled) return;
  int error = res.error;
  int used = 0;
  if (error == 0) used = WriteHostEnt(res, lk->buf, lk->buflen, error);
  if (used < 0) used = 0;
  lk->finished = true;
  PostMessage(lk->wnd, lk->msg, static_cast<WPARAM>(handle),
              static_cast<LPARAM>((static_cast<std::uint32_t>(error & 0xffff) << 16) |
                                  (static_cast<std::uint32_t>(used) & 0xffff)));
}

bool CompletionStillQueued(const Lookup& lk, HANDLE handle, bool remove) {
  if (!lk.queue) return false;
  auto match = [&](const TMessage& m) {
    return m.Window == lk.wnd && m.Msg == lk.msg && m.WParam == handle;
  };
  return remove ? lk.queue->RemoveFirst(match) : lk.queue->Contains(match);
}

// Forgets finished requests whose completion has been taken from the queue.
void PruneFinishedLookups() {
  for (auto it = g_lookups.begin(); it != g_lookups.end();) {
    if (it->second->finished && !CompletionStillQueued(*it->second, it->first, false)) {
      it = g_lookups.erase(it);
    } else {
      ++it;
    }
  }
}

template <typename Work>
HANDLE StartLookup(HWND wnd, unsigned msg, char* buf, int buflen, Work work) {
  if (!CheckStarted()) return 0;
  auto queue = QueueOfWindow(wnd);
  if (!queue || !buf || buflen <= 0) {
    t_lastError = WSAEINVAL;
    return 0;
  }
  auto lk = std::make_shared<Lookup>();
  lk->wnd = wnd;
  lk->msg = msg;
  lk->buf = buf;
  lk->buflen = buflen;
  lk->queue = queue;
  HANDLE handle;
  {
    std::lock_guard lock(g_lookupMu);
    PruneFinishedLookups();
    handle = g_nextLookup++;
    g_lookups.emplace(handle, lk);
  }
  try {
    std::thread([handle, lk, work]() { CompleteLookup(handle, lk, work()); }).detach();
  } catch (const std::system_error&) {
    std::lock_guard lock(g_lookupMu);
    g_lookups.erase(handle);
    t_lastError = WSAENOBUFS;
    return 0;
  }
  return handle;
}

alignas(hostent_w) thread_local char t_hostBuffer[1025];

}  // namespace

// ---- Start-up and errors ----------------------------------------------------

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
    std::lock_guard lock(g_lookupMu);
    for (auto& [handle, lk] : g_lookups) {
      lk->cancelled = true;
      CompletionStillQueued(*lk, handle, true);
    }
    g_lookups.clear();
  }
  return 0;
}

bool IsStarted() { return g_startCount.load() > 0; }

int WSAGetLastError() { return t_lastError; }
void WSASetLastError(int code) { t_lastError = code; }

int ErrnoToWsa(int err) {
  switch (err) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAENOTSOCK;
    case EACCES: case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: case ENFILE: return WSAEMFILE;
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case ENOBUFS: case ENOMEM: return WSAENOBUFS;
    case EISCONN: return 10056;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    case EPIPE: return WSAECONNRESET;
    default: return WSAEINVAL;
  }
}

int GaiToWsa(int gaiResult, int err) {
  switch (gaiResult) {
    case 0: return 0;
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_FAIL: return WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA: return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return WSANO_DATA;
#endif
    case EAI_MEMORY: return WSAENOBUFS;
    case EAI_FAMILY: return WSAEAFNOSUPPORT;
    case EAI_SYSTEM: return err ? ErrnoToWsa(err) : WSANO_RECOVERY;
    default: return WSANO_RECOVERY;
  }
}

// ---- Socket calls -------------------------------------------------------------

SOCKET socket(int af, int type, int protocol) {
  if (!CheckStarted()) return INVALID_SOCKET;
  if (af != AF_INET_W) return Fail(WSAEAFNOSUPPORT);
  if (type != SOCK_STREAM_W && type != SOCK_DGRAM_W) return Fail(10044);
  int fd = ::socket(AF_INET, (type == SOCK_STREAM_W ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC,
                    protocol);
  if (fd < 0) return FailErrno();
  InsertSocket(fd, type, false);
  return fd;
}

namespace {

// Looks the socket up and locks it; sets 10093 or 10038 when it fails.
Locked Find(SOCKET s) {
  if (!CheckStarted()) return Locked();
  Locked r = FindQuiet(s);
  if (!r) t_lastError = WSAENOTSOCK;
  return r;
}

void Rearm(SOCKET s, SockRec& r, bool& flag) {
  if (flag && !r.parked) return;
  flag = true;
  r.parked = false;
  UpdateWatch(s, r, true);
}

}  // namespace

int bind(SOCKET s, const sockaddr_in* addr, int len) {
  auto r = Find(s);
  if (!r) return SOCKET_ERROR;
  if (!addr || len < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  if (::bind(s, reinterpret_cast<const sockaddr*>(addr), sizeof(sockaddr_in)) < 0) return FailErrno();
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
  std::shared_ptr<SockRec> rec;
  {
    std::unique_lock lock(g_tableMu);
    auto it = g_socks.find(s);
    if (it == g_socks.end()) return Fail(WSAENOTSOCK);
    rec = std::move(it->second);
    g_socks.erase(it);
  }
  std::lock_guard lock(rec->mu);
  if (rec->registered && rec->queue) epoll_ctl(rec->queue->EpollFd(), EPOLL_CTL_DEL, s, nullptr);
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
      t_lastError = 0;
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
      case SO_DEBUG_W: poptname = SO_DEBUG; return true;
      case SO_REUSEADDR_W: poptname = SO_REUSEADDR; return true;
      case SO_KEEPALIVE_W: poptname = SO_KEEPALIVE; return true;
      case SO_DONTROUTE_W: poptname = SO_DONTROUTE; return true;
      case SO_BROADCAST_W: poptname = SO_BROADCAST; return true;
      case SO_LINGER_W: poptname = SO_LINGER; return true;
      case SO_OOBINLINE_W: poptname = SO_OOBINLINE; return true;
      case SO_SNDBUF_W: poptname = SO_SNDBUF; return true;
      case SO_RCVBUF_W: poptname = SO_RCVBUF; return true;
      case SO_ERROR_W: poptname = SO_ERROR; return true;
      case SO_TYPE_W: poptname = SO_TYPE; return true;
      default: return false;
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

hostent_w* gethostbyname(const char* name) {
  if (!CheckStarted()) return nullptr;
  if (!name) {
    t_lastError = WSAEFAULT;
    return nullptr;
  }
  HostResult res = ResolveName(name);
  int error = res.error;
  if (error == 0 && WriteHostEnt(res, t_hostBuffer, sizeof t_hostBuffer, error) < 0) {
    // error set by WriteHostEnt
  }
  if (error != 0) {
    t_lastError = error;
    return nullptr;
  }
  return reinterpret_cast<hostent_w*>(t_hostBuffer);
}

bool getservbyname(const char* name, const char* proto, servent_w& out) {
  if (!CheckStarted()) return false;
  if (!name) {
    t_lastError = WSAEFAULT;
    return false;
  }
  servent se{};
  servent* result = nullptr;
  char buf[2048];
  if (::getservbyname_r(name, proto, &se, buf, sizeof buf, &result) != 0 || !result) {
    t_lastError = WSANO_DATA;
    return false;
  }
  out.s_name = result->s_name ? result->s_name : "";
  out.s_port = static_cast<std::uint16_t>(result->s_port);
  out.s_proto = result->s_proto ? result->s_proto : "";
  return true;
}

bool getprotobyname(const char* name, protoent_w& out) {
  if (!CheckStarted()) return false;
  if (!name) {
    t_lastError = WSAEFAULT;
    return false;
  }
  protoent pe{};
  protoent* result = nullptr;
  char buf[2048];
  if (::getprotobyname_r(name, &pe, buf, sizeof buf, &result) != 0 || !result) {
    t_lastError = WSANO_DATA;
    return false;
  }
  out.p_name = result->p_name ? result->p_name : "";
  out.p_proto = result->p_proto;
  return true;
}

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
  if (r->registered && r->queue) epoll_ctl(r->queue->EpollFd(), EPOLL_CTL_DEL, s, nullptr);
  r->registered = false;
  r->regEvents = 0;
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

HANDLE WSAAsyncGetHostByName(HWND wnd, unsigned msg, const char* name, char* buf, int buflen) {
  if (!name) {
    t_lastError = WSAEFAULT;
    return 0;
  }
  std::string host = name;
  return StartLookup(wnd, msg, buf, buflen, [host] { return ResolveName(host); });
}

HANDLE WSAAsyncGetHostByAddr(HWND wnd, unsigned msg, const char* addr, int len, int type,
                             char* buf, int buflen) {
  if (!addr || len != 4 || type != AF_INET_W) {
    t_lastError = WSAEINVAL;
    return 0;
  }
  std::uint32_t a;
  std::memcpy(&a, addr, 4);
  return StartLookup(wnd, msg, buf, buflen, [a] { return ResolveAddr(a); });
}

int WSACancelAsyncRequest(HANDLE request) {
  if (!CheckStarted()) return SOCKET_ERROR;
  std::lock_guard lock(g_lookupMu);
  auto it = g_lookups.find(request);
  if (it == g_lookups.end()) return Fail(WSAEINVAL);
  auto lk = it->second;
  g_lookups.erase(it);
  if (!lk->finished) {
    lk->cancelled = true;
    return 0;
  }
  // Finished: a completion still waiting in the queue is withdrawn with it.
  if (CompletionStillQueued(*lk, request, true)) return 0;
  return Fail(WSAEALREADY);
}

int OpenSocketCount() {
  std::shared_lock lock(g_tableMu);
  return static_cast<int>(g_socks.size());
}

}  // namespace winsock

namespace platform_detail {

void OnSocketReady(int fd, std::uint32_t ev) {
  using namespace winsock;
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
