#include "SocketRecords.h"

#include <shared_mutex>
#include <unordered_map>

namespace winsock::records {

namespace {

// The table of sockets: looked up under a shared lock, changed only when a
// socket is created or closed. Never destroyed: clean-up at program exit may
// still consult it.
std::shared_mutex g_tableMu;
std::unordered_map<int, std::shared_ptr<SockRec>>& g_socks =
    *new std::unordered_map<int, std::shared_ptr<SockRec>>;

}  // namespace

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

Locked Find(SOCKET s) {
  if (!CheckStarted()) return Locked();
  Locked r = FindQuiet(s);
  if (!r) WSASetLastError(WSAENOTSOCK);
  return r;
}

void InsertSocket(int fd, int type, bool connected) {
  auto rec = std::make_shared<SockRec>();
  rec->type = type;
  rec->connected = connected;
  std::unique_lock lock(g_tableMu);
  g_socks[fd] = std::move(rec);
}

std::shared_ptr<SockRec> RemoveSocket(int fd) {
  std::unique_lock lock(g_tableMu);
  auto it = g_socks.find(fd);
  if (it == g_socks.end()) return nullptr;
  std::shared_ptr<SockRec> rec = std::move(it->second);
  g_socks.erase(it);
  return rec;
}

int SocketCount() {
  std::shared_lock lock(g_tableMu);
  return static_cast<int>(g_socks.size());
}

}  // namespace winsock::records
