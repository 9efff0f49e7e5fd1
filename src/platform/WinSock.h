// A Windows-Sockets-style API over POSIX sockets (IPv4).
//
// Calls report failures as -1 (or 0 for handles) and leave a Windows Sockets
// error code (WinSockErrors.h) for WSAGetLastError, per thread. Socket calls
// need WSAStartup first (WSANOTINITIALISED otherwise); the started state is
// observable through IsStarted. No call runs a window procedure: events
// only become messages, dispatched later by the pumps of Messages.h.
//
// WSAAsyncSelect turns a socket's readiness into messages for a window, with
// these rules (each notification once until re-armed):
//  - FD_READ when data waits; re-armed only by a recv (also a failed one).
//  - FD_WRITE once after a connect succeeds, and after a send that would block
//    (or was taken only in part) once room is back.
//  - FD_CONNECT when the handshake ends, with its error code.
//  - FD_CLOSE once, when the peer's close (or reset) is seen after its data.
//  - FD_ACCEPT when a connection waits; re-armed by accept.
//  - FD_OOB when urgent data waits; re-armed by a recv with MSG_OOB.
// Nothing is watched that nobody will take, so a quiet socket costs no CPU.
// Closing a socket drops its notifications still queued.
//
// Asynchronous lookups run getaddrinfo/getnameinfo on worker threads; the
// completion message carries the request handle, and a successful cancel
// guarantees that no completion message is dispatched.
#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>

#include "Messages.h"
#include "WinSockErrors.h"

namespace winsock {

using SOCKET = int;
using HANDLE = std::uintptr_t;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

constexpr int AF_INET_W = 2;
constexpr int SOCK_STREAM_W = 1;
constexpr int SOCK_DGRAM_W = 2;
constexpr int IPPROTO_TCP_W = 6;
constexpr int IPPROTO_UDP_W = 17;

constexpr int SOL_SOCKET_W = 0xffff;
constexpr int SO_DEBUG_W = 0x0001;
constexpr int SO_REUSEADDR_W = 0x0004;
constexpr int SO_KEEPALIVE_W = 0x0008;
constexpr int SO_DONTROUTE_W = 0x0010;
constexpr int SO_BROADCAST_W = 0x0020;
constexpr int SO_LINGER_W = 0x0080;
constexpr int SO_OOBINLINE_W = 0x0100;
constexpr int SO_SNDBUF_W = 0x1001;
constexpr int SO_RCVBUF_W = 0x1002;
constexpr int SO_ERROR_W = 0x1007;
constexpr int SO_TYPE_W = 0x1008;
constexpr int TCP_NODELAY_W = 0x0001;

constexpr int MSG_OOB_W = 1;
constexpr int MSG_PEEK_W = 2;

constexpr long FIONREAD_W = 1074030207;
constexpr long FIONBIO_W = static_cast<long>(0x8004667EL);

constexpr long FD_READ = 1;
constexpr long FD_WRITE = 2;
constexpr long FD_OOB = 4;
constexpr long FD_ACCEPT = 8;
constexpr long FD_CONNECT = 16;
constexpr long FD_CLOSE = 32;

struct WSAData {
  std::uint16_t wVersion = 0;
  std::uint16_t wHighVersion = 0;
  char szDescription[257] = {};
  char szSystemStatus[129] = {};
  std::uint16_t iMaxSockets = 0;
  std::uint16_t iMaxUdpDg = 0;
};

// The host entry written into lookup buffers and returned by gethostbyname:
// official name, aliases, address type (2), address length (4) and a
// null-terminated list of pointers to 4-byte addresses in network order.
struct hostent_w {
  char* h_name;
  char** h_aliases;
  std::int16_t h_addrtype;
  std::int16_t h_length;
  char** h_addr_list;
};

struct servent_w {
  std::string s_name;
  std::uint16_t s_port;  // network order
  std::string s_proto;
};

struct protoent_w {
  std::string p_name;
  int p_proto;
};

// Start-up and clean-up are counted; the library is started while the count
// is positive. Version 1.1 (257) or higher is accepted.
int WSAStartup(std::uint16_t versionRequested, WSAData* data);
int WSACleanup();
bool IsStarted();

SOCKET socket(int af, int type, int protocol);
int bind(SOCKET s, const sockaddr_in* addr, int len);
int connect(SOCKET s, const sockaddr_in* addr, int len);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr_in* addr, int* len);
int closesocket(SOCKET s);
int shutdown(SOCKET s, int how);
int send(SOCKET s, const void* buf, int len, int flags);
int sendto(SOCKET s, const void* buf, int len, int flags, const sockaddr_in* to, int tolen);
// Gathered send: the pieces in order, as one call (like a send of their
// concatenation). At most 1024 pieces.
struct WSABUF_W {
  const void* buf;
  int len;
};
int sendv(SOCKET s, const WSABUF_W* pieces, int count, int flags);
int recv(SOCKET s, void* buf, int len, int flags);
int recvfrom(SOCKET s, void* buf, int len, int flags, sockaddr_in* from, int* fromlen);
int setsockopt(SOCKET s, int level, int optname, const void* optval, int optlen);
int getsockopt(SOCKET s, int level, int optname, void* optval, int* optlen);
int ioctlsocket(SOCKET s, long cmd, std::uint32_t* arg);
int getsockname(SOCKET s, sockaddr_in* name, int* namelen);
int getpeername(SOCKET s, sockaddr_in* name, int* namelen);

// Dotted text to an address in network order; all ones when not an address.
std::uint32_t inet_addr(const char* text);
// An address in network order as dotted text.
std::string inet_ntoa(std::uint32_t addr);

// Blocking lookups. gethostbyname returns a per-thread entry, or nullptr with
// the error code set.
hostent_w* gethostbyname(const char* name);
bool getservbyname(const char* name, const char* proto, servent_w& out);
bool getprotobyname(const char* name, protoent_w& out);

// Notifications: events (FD_ bits) of socket s are posted to wnd as msg, with
// wParam = s and lParam = event | error << 16. Makes the socket non-blocking.
// msg 0 and events 0 stop the notifications.
int WSAAsyncSelect(SOCKET s, HWND wnd, unsigned msg, long events);

// Asynchronous lookups; 0 when the request cannot be started. Completion
// posts msg to wnd with wParam = the handle and the error code in the high
// 16 bits of lParam (low 16 bits: bytes of the buffer used); the host entry
// is written into buf before the message is posted.
HANDLE WSAAsyncGetHostByName(HWND wnd, unsigned msg, const char* name, char* buf, int buflen);
HANDLE WSAAsyncGetHostByAddr(HWND wnd, unsigned msg, const char* addr, int len, int type, char* buf,
                             int buflen);
// 0 on success; afterwards no completion message of the request arrives.
int WSACancelAsyncRequest(HANDLE request);

// Test support: number of sockets currently open through this API.
int OpenSocketCount();

}  // namespace winsock
