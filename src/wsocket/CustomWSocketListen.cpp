// Listening, accepting, adopting and pausing sockets of TCustomWSocket, and
// the addresses of both ends.
#include "CustomWSocket.h"

#include <arpa/inet.h>

using namespace winsock;

void TCustomWSocket::Listen() {
  if (!FPortAssigned) {
    WSASetLastError(WSAEINVAL);
    RaiseSocketError("listen: port not assigned");
    return;
  }
  if (!FProtoAssigned) {
    WSASetLastError(WSAEINVAL);
    RaiseSocketError("listen: protocol not assigned");
    return;
  }
  if (!FAddrAssigned) {
    WSASetLastError(WSAEINVAL);
    RaiseSocketError("listen: address not assigned");
    return;
  }
  try {
    ResolveForConnect(false);
  } catch (const std::exception& E) {
    ReportError(std::string("listen: ") + E.what());
    return;
  }
  ClearSendQueue();
  LoadSocketLibrary();
  FHSocket = winsock::socket(FAddrFamily, FSocketType, FProtoNumber);
  if (FHSocket == INVALID_SOCKET) {
    RaiseSocketError("socket");
    return;
  }
  if (winsock::bind(FHSocket, &FRemoteAddr, sizeof FRemoteAddr) == SOCKET_ERROR) {
    // The socket is released before reporting: the state is still closed,
    // so a later Close would not find it.
    int code = WSAGetLastError();
    winsock::closesocket(FHSocket);
    FHSocket = INVALID_SOCKET;
    WSASetLastError(code);
    RaiseSocketError("Bind");
    return;
  }
  ChangeState(wsBound);
  if (FSocketType == SOCK_DGRAM_W) {
    ChangeState(wsListening);
    ChangeState(wsConnected);
    DoSessionConnected(0);
  } else {
    if (winsock::listen(FHSocket, 5) == SOCKET_ERROR) {
      RaiseSocketError("Listen");
      return;
    }
    ChangeState(wsListening);
  }
  if (FHSocket != INVALID_SOCKET &&
      WSAAsyncSelect(FHSocket, FWindowHandle, WM_SOCKET_NOTIFY,
                     FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE) == SOCKET_ERROR)
    RaiseSocketError("WSAASyncSelect");
}

SOCKET TCustomWSocket::Accept() {
  if (FState != wsListening) {
    WSASetLastError(WSAEINVAL);
    RaiseSocketError("not a listening socket");
    return INVALID_SOCKET;
  }
  int len = sizeof FRemoteAddr;
  FLastAcceptHandle = winsock::accept(FHSocket, &FRemoteAddr, &len);
  if (FLastAcceptHandle == INVALID_SOCKET) RaiseSocketError("Accept");
  return FLastAcceptHandle;
}

void TCustomWSocket::Dup(SOCKET NewHandle) {
  if (NewHandle == 0 || NewHandle == INVALID_SOCKET) {
    WSASetLastError(WSAEINVAL);
    RaiseSocketError("Dup");
    return;
  }
  LoadSocketLibrary();
  if (FState != wsClosed) {
    int rc = winsock::closesocket(FHSocket);
    FHSocket = INVALID_SOCKET;
    if (rc == SOCKET_ERROR) {
      RaiseSocketError("Dup (closesocket)");
      return;
    }
    ChangeState(wsClosed);
  }
  FHSocket = NewHandle;
  ApplyLinger();
  if (WSAAsyncSelect(FHSocket, FWindowHandle, WM_SOCKET_NOTIFY,
                     FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE) == SOCKET_ERROR) {
    RaiseSocketError("WSAAsyncSelect");
    return;
  }
  ChangeState(wsConnected);
}

int TCustomWSocket::Pause() {
  FPaused = true;
  LoadSocketLibrary();
  return WSAAsyncSelect(FHSocket, FWindowHandle, 0, 0);
}

int TCustomWSocket::Resume() {
  FPaused = false;
  LoadSocketLibrary();
  // A listening socket gets its incoming connections reported again, as
  // Listen selected them; any other the events of a connection.
  const long events = FState == wsListening ? FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE
                                            : FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
  return WSAAsyncSelect(FHSocket, FWindowHandle, WM_SOCKET_NOTIFY, events);
}

std::string TCustomWSocket::PeerAddr() {
  if (FState != wsConnected) return "error";
  sockaddr_in peer{};
  int len = sizeof peer;
  if (winsock::getpeername(FHSocket, &peer, &len) == SOCKET_ERROR) {
    RaiseSocketError("GetPeerName");
    return "error";
  }
  return winsock::inet_ntoa(peer.sin_addr.s_addr);
}

std::string TCustomWSocket::PeerPort() {
  if (FState != wsConnected) return "error";
  sockaddr_in peer{};
  int len = sizeof peer;
  if (winsock::getpeername(FHSocket, &peer, &len) == SOCKET_ERROR) {
    RaiseSocketError("GetPeerPort");
    return "error";
  }
  return std::to_string(ntohs(peer.sin_port));
}

int TCustomWSocket::GetPeerName(sockaddr_in& Name, int NameLen) {
  if (FState != wsConnected) return -1;
  int len = NameLen;
  return winsock::getpeername(FHSocket, &Name, &len);
}

int TCustomWSocket::GetSockName(sockaddr_in& Name, int& NameLen) {
  LoadSocketLibrary();
  return winsock::getsockname(FHSocket, &Name, &NameLen);
}

std::string TCustomWSocket::GetBoundPort() {
  if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
  sockaddr_in local{};
  int len = sizeof local;
  if (winsock::getsockname(FHSocket, &local, &len) == SOCKET_ERROR) return "error";
  return std::to_string(ntohs(local.sin_port));
}
