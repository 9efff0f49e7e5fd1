// Name lookups: blocking ones on the calling thread, asynchronous ones on a
// worker thread each, whose completion is posted to the requesting window.
// Names under the reserved domain "invalid" fail at once.
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <thread>
#include <unordered_map>
#include <vector>

#include "AsciiCase.h"
#include "SocketRecords.h"

using platform_detail::QueueOfWindow;
using platform_detail::ThreadQueue;

namespace winsock {

using records::CheckStarted;

namespace {

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
    WSASetLastError(WSAEINVAL);
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
    WSASetLastError(WSAENOBUFS);
    return 0;
  }
  return handle;
}

alignas(hostent_w) thread_local char t_hostBuffer[1025];

}  // namespace

namespace records {

void WithdrawAllLookups() {
  std::lock_guard lock(g_lookupMu);
  for (auto& [handle, lk] : g_lookups) {
    lk->cancelled = true;
    CompletionStillQueued(*lk, handle, true);
  }
  g_lookups.clear();
}

}  // namespace records

hostent_w* gethostbyname(const char* name) {
  if (!CheckStarted()) return nullptr;
  if (!name) {
    WSASetLastError(WSAEFAULT);
    return nullptr;
  }
  HostResult res = ResolveName(name);
  int error = res.error;
  // A host entry that does not fit sets error.
  if (error == 0) WriteHostEnt(res, t_hostBuffer, sizeof t_hostBuffer, error);
  if (error != 0) {
    WSASetLastError(error);
    return nullptr;
  }
  return reinterpret_cast<hostent_w*>(t_hostBuffer);
}

bool getservbyname(const char* name, const char* proto, servent_w& out) {
  if (!CheckStarted()) return false;
  if (!name) {
    WSASetLastError(WSAEFAULT);
    return false;
  }
  servent se{};
  servent* result = nullptr;
  char buf[2048];
  if (::getservbyname_r(name, proto, &se, buf, sizeof buf, &result) != 0 || !result) {
    WSASetLastError(WSANO_DATA);
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
    WSASetLastError(WSAEFAULT);
    return false;
  }
  protoent pe{};
  protoent* result = nullptr;
  char buf[2048];
  if (::getprotobyname_r(name, &pe, buf, sizeof buf, &result) != 0 || !result) {
    WSASetLastError(WSANO_DATA);
    return false;
  }
  out.p_name = result->p_name ? result->p_name : "";
  out.p_proto = result->p_proto;
  return true;
}

HANDLE WSAAsyncGetHostByName(HWND wnd, unsigned msg, const char* name, char* buf, int buflen) {
  if (!name) {
    WSASetLastError(WSAEFAULT);
    return 0;
  }
  std::string host = name;
  return StartLookup(wnd, msg, buf, buflen, [host] { return ResolveName(host); });
}

HANDLE WSAAsyncGetHostByAddr(HWND wnd, unsigned msg, const char* addr, int len, int type, char* buf,
                             int buflen) {
  if (!addr || len != 4 || type != AF_INET_W) {
    WSASetLastError(WSAEINVAL);
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
  if (it == g_lookups.end()) return records::Fail(WSAEINVAL);
  auto lk = it->second;
  g_lookups.erase(it);
  if (!lk->finished) {
    lk->cancelled = true;
    return 0;
  }
  // Finished: a completion still waiting in the queue is withdrawn with it.
  if (CompletionStillQueued(*lk, request, true)) return 0;
  return records::Fail(WSAEALREADY);
}

}  // namespace winsock
