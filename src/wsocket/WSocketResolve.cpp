#include "WSocketResolve.h"

#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <cstdio>
#include <cstring>

#include "WinSock.h"

const char* const SocketLibraryName = "wsock32.dll";

namespace {

// Components may live on several threads (each with its own queue); the
// loading state is therefore guarded.
std::mutex g_libraryMu;
std::atomic<bool> g_loaded{false};
bool g_started = false;

// Releases the library when the program ends, even if a component was never
// destroyed.
struct UnloadAtExit {
  ~UnloadAtExit() { UnloadSocketLibrary(); }
} g_unloadAtExit;

std::string Format(const char* fmt, const std::string& arg) {
  char buf[400];
  std::snprintf(buf, sizeof buf, fmt, arg.c_str());
  return buf;
}

}  // namespace

void LoadSocketLibrary() {
  if (g_loaded.load(std::memory_order_acquire)) return;
  std::lock_guard lock(g_libraryMu);
  if (g_loaded.load()) return;
  g_loaded = true;
  winsock::WSAData data;
  int rc = winsock::WSAStartup(257, &data);
  if (rc != 0) {
    char buf[200];
    std::snprintf(buf, sizeof buf, "%s: WSAStartup error #%d", SocketLibraryName, rc);
    throw ESocketException(buf);
  }
  g_started = true;
}

void UnloadSocketLibrary() {
  std::lock_guard lock(g_libraryMu);
  if (!g_loaded) return;
  if (g_started) winsock::WSACleanup();
  g_started = false;
  g_loaded = false;
}

bool SocketLibraryLoaded() { return g_loaded; }

std::string TrimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

bool StartsWithDigit(const std::string& s) { return !s.empty() && s[0] >= '0' && s[0] <= '9'; }

std::uint32_t LeadingNumber(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  std::uint32_t value = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) value = value * 10u + (s[i] - '0');
  return value;
}

std::uint32_t WSocketResolveHost(const std::string& InAddr) {
  if (InAddr.empty() || InAddr.size() > 256)
    throw ESocketException("WSocketResolveHost: '" + InAddr + "' Invalid Hostname.");
  LoadSocketLibrary();
  std::string host = TrimBlanks(InAddr);
  if (StartsWithDigit(host)) {
    std::uint32_t addr = winsock::inet_addr(host.c_str());
    if (addr == INADDR_NONE && host != "255.255.255.255")
      throw ESocketException("WSocketResolveHost: '" + InAddr + "' Invalid IP address.");
    return addr;
  }
  winsock::hostent_w* he = winsock::gethostbyname(host.c_str());
  if (!he || !he->h_addr_list || !he->h_addr_list[0])
    throw ESocketException(Format("WSocketResolveHost: Cannot convert host address '%s'", InAddr));
  std::uint32_t addr;
  std::memcpy(&addr, he->h_addr_list[0], 4);
  return addr;
}

std::uint16_t WSocketResolvePort(const std::string& Port, const std::string& Proto) {
  if (Port.empty() || Port.size() >= 32)
    throw ESocketException("WSocketResolvePort: Invalid Port.");
  if (StartsWithDigit(Port)) return static_cast<std::uint16_t>(LeadingNumber(Port));
  LoadSocketLibrary();
  std::string port = TrimBlanks(Port);
  std::string proto = TrimBlanks(Proto);
  winsock::servent_w se;
  if (!winsock::getservbyname(port.c_str(), proto.empty() ? nullptr : proto.c_str(), se))
    throw ESocketException(Format("WSocketResolvePort: Cannot convert port '%s'", Port));
  return ntohs(se.s_port);
}

int WSocketResolveProto(const std::string& Proto) {
  if (Proto.empty() || Proto.size() >= 32)
    throw ESocketException("WSocketResolveProto: Invalid Protocol.");
  std::string proto = TrimBlanks(Proto);
  if (StartsWithDigit(proto)) return static_cast<int>(LeadingNumber(proto));
  LoadSocketLibrary();
  winsock::protoent_w pe;
  if (!winsock::getprotobyname(proto.c_str(), pe))
    throw ESocketException(Format("WSocketResolveProto: Cannot convert protocol '%s'", proto));
  return pe.p_proto;
}
