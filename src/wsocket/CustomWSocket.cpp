
#include "CustomWSocket.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstring>

using namespace winsock;

namespace {

std::atomic<int> g_componentCount{0};

constexpr long NotifyMaskConnect = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;  // 59

}  // namespace

int SocketComponentCount() { return g_componentCount.load(); }

// ---- Construction and destruction ---------------------------------------------

TCustomWSocket::TCustomWSocket(TComponent* AOwner) : TComponent(AOwner) {
  FWindowHandle = AllocateHWnd([this](TMessage& Msg) { WndProc(Msg); });
  FSendBlockSize = DefaultBlockSize;
  TCustomWSocket::ResetToDefaults();
  ++g_componentCount;
}

TCustomWSocket::~TCustomWSocket() {
  BeginDestroy();
  try {
    CancelDnsLookup();
  } catch (...) {
    // A destructor cannot report; the completion of a lookup that could not
    // be withdrawn is dropped with the window below.
  }
  if (FState != wsClosed) {
    try {
      Close();
    } catch (...) {
      // A destructor cannot report; the handle is released below anyway.
    }
  }
  if (FHSocket != INVALID_SOCKET) {
    winsock::closesocket(FHSocket);
    FHSocket = INVALID_SOCKET;
  }
  if (--g_componentCount < 1) {
    UnloadSocketLibrary();
    g_componentCount = 0;
  }
  ClearSendQueue();
  DeallocateHWnd(FWindowHandle);
  FWindowHandle = 0;
}

void TCustomWSocket::ResetToDefaults() {
  FRemoteAddr = sockaddr_in{};
  FRemoteAddr.sin_family = AF_INET;
  FAddrFamily = AF_INET_W;
  FPortAssigned = FAddrAssigned = false;
  FAddrResolved = FPortResolved = FProtoResolved = FLocalPortResolved = false;
  FProtoAssigned = true;
  FProtoNumber = IPPROTO_TCP_W;
  FProto = "tcp";
  FSocketType = SOCK_STREAM_W;
  FLocalPort = "0";
  // Linger on with 0 s would make every close a reset, discarding the bytes
  // still on their way to the peer: the default closes gracefully.
  FLingerOnOff = wsLingerOff;
  FLingerTimeout = 0;
  FHSocket = INVALID_SOCKET;
  FState = wsClosed;
  FSendQueueEmpty = true;
  FPaused = false;
  FReadCount = 0;
  FCloseEventFired = false;
  FFlushTimeout = 60;
}

// ---- Properties ---------------------------------------------------------------

void TCustomWSocket::SetAddr(const std::string& Value) {
  if (FAddrAssigned && Value == FAddr) return;
  if (FState != wsClosed) {
    ReportError("Cannot change Addr if not closed");
    return;
  }
  FAddr = TrimBlanks(Value);
  FAddrAssigned = !FAddr.empty();
  FAddrResolved = false;
}

void TCustomWSocket::SetPort(const std::string& Value) {
  if (FPortAssigned && Value == FPort) return;
  if (FState != wsClosed) {
    ReportError("Cannot change Port if not closed");
    return;
  }
  FPort = TrimBlanks(Value);
  FPortAssigned = !FPort.empty();
  FPortResolved = false;
}

void TCustomWSocket::SetProto(const std::string& Value) {
  if (FProtoAssigned && Value == FProto) return;
  if (FState != wsClosed) {
    ReportError("Cannot change Proto if not closed");
    return;
  }
  FProto = TrimBlanks(Value);
  FProtoAssigned = !FProto.empty();
  FProtoResolved = false;
}

void TCustomWSocket::SetLocalPort(const std::string& Value) {
  if (FState != wsClosed) {
    ReportError("Cannot change LocalPort if not closed");
    return;
  }
  FLocalPort = Value;
  FLocalPortResolved = false;
}

TSocketSendFlags TCustomWSocket::SendFlags() {
  switch (FSendFlagValue) {
    case 0:
      return wsSendNormal;
    case MSG_OOB_W:
      return wsSendUrgent;
    default:
      ReportError("Invalid internal SendFlags");
      return wsSendNormal;
  }
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags Value) {
  switch (Value) {
    case wsSendNormal:
      FSendFlagValue = 0;
      break;
    case wsSendUrgent:
      FSendFlagValue = MSG_OOB_W;
      break;
    default:
      ReportError("Invalid SendFlags");
  }
}

std::int32_t TCustomWSocket::RcvdCount() {
  LoadSocketLibrary();
  std::uint32_t count = 0;
  if (winsock::ioctlsocket(FHSocket, FIONREAD_W, &count) == SOCKET_ERROR) {
    RaiseSocketError("ioctlSocket");
    return -1;
  }
  return static_cast<std::int32_t>(count);
}

std::int64_t TCustomWSocket::BufferedByteCount() const {
  std::int64_t total = 0;
  for (const auto& block : FSendQueue) total += block->WritePos() - block->ReadPos();
  return total;
}

// ---- Connecting ---------------------------------------------------------------

void TCustomWSocket::ResolveForConnect(bool LocalPortToo) {
  if (!FProtoResolved) {
    FProtoNumber = WSocketResolveProto(FProto);
    FSocketType = FProtoNumber == IPPROTO_UDP_W ? SOCK_DGRAM_W : SOCK_STREAM_W;
    FProtoResolved = true;
  }
  if (!FPortResolved) {
    FPortNumber = WSocketResolvePort(FPort, FProto);
    FRemoteAddr.sin_port = htons(FPortNumber);
    FPortResolved = true;
  }
  if (LocalPortToo && !FLocalPortResolved) {
    FLocalPortNumber = WSocketResolvePort(FLocalPort, FProto);
    FLocalPortResolved = true;
  }
  if (!FAddrResolved) {
    FRemoteAddr.sin_addr.s_addr = WSocketResolveHost(FAddr);
    FAddrResolved = true;
  }
}

void TCustomWSocket::Connect() {
  if (FHSocket != INVALID_SOCKET && FState != wsClosed) {
    ReportError("Connect: Socket already in use");
    return;
  }
  if (!FPortAssigned) {
    ReportError("Connect: No Port Specified");
    return;
  }
  if (!FAddrAssigned) {
    ReportError("Connect: No IP Address Specified");
    return;
  }
  if (!FProtoAssigned) {
    ReportError("Connect: No Protocol Specified");
    return;
  }
  try {
    ResolveForConnect(true);
  } catch (const std::exception& E) {
    ReportError(std::string("connect: ") + E.what());
    return;
  }
  ClearSendQueue();
  LoadSocketLibrary();
  FHSocket = winsock::socket(FAddrFamily, FSocketType, FProtoNumber);
  if (FHSocket == INVALID_SOCKET) {
    RaiseSocketError("Connect (socket)");
    return;
  }
  ChangeState(wsOpened);

  const int on = -1;
  if (FSocketType == SOCK_DGRAM_W) {
    BindLocal();
    if (FRemoteAddr.sin_addr.s_addr == INADDR_BROADCAST &&
        winsock::setsockopt(FHSocket, SOL_SOCKET_W, SO_BROADCAST_W, &on, 4) == SOCKET_ERROR) {
      RaiseSocketError("setsockopt(SO_BROADCAST)");
      return;
    }
  } else {
    if (FLocalPortNumber != 0) BindLocal();
    ApplyLinger();
    if (winsock::setsockopt(FHSocket, SOL_SOCKET_W, SO_KEEPALIVE_W, &on, 4) == SOCKET_ERROR) {
      RaiseSocketError("setsockopt(SO_KEEPALIVE)");
      return;
    }
    if (winsock::setsockopt(FHSocket, SOL_SOCKET_W, SO_REUSEADDR_W, &on, 4) == SOCKET_ERROR) {
      RaiseSocketError("setsockopt(SO_REUSEADDR)");
      return;
    }
  }
  if (WSAAsyncSelect(FHSocket, FWindowHandle, WM_SOCKET_NOTIFY, NotifyMaskConnect) ==
      SOCKET_ERROR) {
    RaiseSocketError("WSAAsyncSelect");
    return;
  }
  if (FSocketType == SOCK_DGRAM_W) {
    ChangeState(wsConnected);
    DoSessionConnected(0);
    return;
  }
  if (winsock::connect(FHSocket, &FRemoteAddr, sizeof FRemoteAddr) == 0 ||
      WSAGetLastError() == WSAEWOULDBLOCK) {
    ChangeState(wsConnecting);
  } else {
    FLastError = WSAGetLastError();
    RaiseSocketError("Connect");
  }
}

void TCustomWSocket::BindLocal() {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(FLocalPortNumber);
  local.sin_addr.s_addr = INADDR_ANY;
  if (winsock::bind(FHSocket, &local, sizeof local) == SOCKET_ERROR) {
    ReportErrorFmt("winsock.bind failed, error #%d", WSAGetLastError());
    return;
  }
  int len = sizeof local;
  if (winsock::getsockname(FHSocket, &local, &len) == SOCKET_ERROR) {
    ReportErrorFmt("winsock.getsockname failed, error #%d", WSAGetLastError());
    return;
  }
  FLocalPortNumber = ntohs(local.sin_port);
  FLocalPort = std::to_string(FLocalPortNumber);
}

void TCustomWSocket::ChangeState(TSocketState NewState) {
  TSocketState old = FState;
  FState = NewState;
  DoChangeState(old, NewState);
}

// ---- Notifications ------------------------------------------------------------

void TCustomWSocket::WndProc(TMessage& Msg) {
  try {
    switch (Msg.Msg) {
      case WM_SOCKET_NOTIFY:
        HandleSocketNotify(Msg);
        break;
      case WM_HOST_LOOKUP_DONE:
        HandleHostLookupDone(Msg);
        break;
      case WM_ADDR_LOOKUP_DONE:
        HandleAddrLookupDone(Msg);
        break;
      default:
        DefWindowProc(Msg);
    }
  } catch (const std::exception& E) {
    HandleBgException(E);
  }
}

void TCustomWSocket::HandleBgException(const std::exception& E) {
  bool CanClose = true;
  if (OnBgException) {
    try {
      OnBgException(this, E, CanClose);
    } catch (...) {
      // The handler of a failure failed too: nobody is left to tell, and the
      // Abort below still cleans up.
    }
  }
  if (CanClose) {
    try {
      Abort();
    } catch (...) {
      // A failing Abort cannot be reported either: this runs from the
      // message loop, which has no caller to hand the exception to.
    }
  }
}

void TCustomWSocket::HandleSocketNotify(TMessage& Msg) {
  // A message for an earlier handle, or any while paused, is stale.
  const auto socket = static_cast<SOCKET>(Msg.WParam);
  if (FHSocket == INVALID_SOCKET || socket != FHSocket || FPaused) return;
  const auto events = static_cast<std::uint16_t>(Msg.LParam & 0xffff);
  const auto error = static_cast<std::uint16_t>((Msg.LParam >> 16) & 0xffff);
  // A handler may close the socket (or the component's negotiation may):
  // the remaining bits then belong to a connection that is gone.
  auto gone = [&] { return FHSocket != socket; };
  if (events & FD_CONNECT) {
    ChangeState(wsConnected);
    DoSessionConnected(error);
    if (error != 0 && FState != wsClosed) Close();
    if (gone()) return;
  }
  if (events & FD_READ) {
    DeliverReadable(error, false);
    if (gone()) return;
  }
  if (events & FD_WRITE) {
    TryToSend();
    if (FSendQueueEmpty) DoDataSent(error);
    if (gone()) return;
  }
  if (events & FD_ACCEPT) {
    DoSessionAvailable(error);
    if (gone()) return;
  }
  if ((events & FD_CLOSE) && FState != wsConnecting) {
    DeliverReadable(0, true);  // data that came before the close goes first
    if (gone()) return;
    // DoSessionClosed runs even without a handler: the layers above hand
    // out what they still hold there.
    if (!FCloseEventFired) {
      FCloseEventFired = true;
      DoSessionClosed(error);
    }
    if (FState != wsClosed) Close();
  }
}

void TCustomWSocket::DeliverReadable(std::uint16_t Error, bool untilDrained) {
  // A handler that keeps leaving the waiting bytes unread would hold the
  // thread here forever; a few passes without progress end the delivery.
  constexpr int MaxStalledPasses = 3;
  // A peer that sends as fast as the handler reads would do the same: after
  // this many passes the rest waits for the next read notification (each
  // read re-arms it), and the messages and window events queued meanwhile
  // go first. Before a close nothing more can arrive, so all is delivered.
  constexpr int MaxReadPasses = 8;
  std::uint32_t previous = UINT32_MAX;
  int stalled = 0;
  int passes = 0;
  try {
    for (;;) {
      FLastError = 0;
      if (!DoDataAvailable(Error)) {
        char discard[1024];
        if (RecvRaw(discard, sizeof discard, 0) < 0) {
          FLastError = WSAGetLastError();
          if (FLastError == WSAEWOULDBLOCK) {
            FLastError = 0;
            break;
          }
        }
      }
      if (FLastError != 0 || FHSocket == INVALID_SOCKET) break;
      std::uint32_t waiting = 0;
      if (winsock::ioctlsocket(FHSocket, FIONREAD_W, &waiting) == SOCKET_ERROR) {
        FLastError = WSAGetLastError();
        break;
      }
      if (waiting == 0) break;
      if (!untilDrained && ++passes >= MaxReadPasses) break;
      stalled = waiting >= previous ? stalled + 1 : 0;
      if (stalled >= MaxStalledPasses) break;
      previous = waiting;
    }
  } catch (const std::exception&) {
    // Ends this delivery pass; the next read notification starts a new one.
  }
}

// ---- Receiving ----------------------------------------------------------------

int TCustomWSocket::RecvRaw(void* Buffer, int Size, int Flags) {
  LoadSocketLibrary();
  return winsock::recv(FHSocket, Buffer, Size, Flags);
}

int TCustomWSocket::RecvFromRaw(void* Buffer, int Size, int Flags, sockaddr_in& From,
                                int& FromLen) {
  LoadSocketLibrary();
  return winsock::recvfrom(FHSocket, Buffer, Size, Flags, &From, &FromLen);
}

int TCustomWSocket::Receive(void* Buffer, int BufferSize) {
  return NoteReceived(RecvRaw(Buffer, BufferSize, 0));
}

std::string TCustomWSocket::ReceiveStr() {
  std::int32_t count = RcvdCount();
  if (count <= 0) return {};
  std::string data(static_cast<size_t>(count), '\0');
  int n = RecvRaw(data.data(), count, 0);
  if (n <= 0) return {};
  data.resize(static_cast<size_t>(n));
  return data;
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int BufferSize, sockaddr_in& From, int& FromLen) {
  return NoteReceived(RecvFromRaw(Buffer, BufferSize, 0, From, FromLen));
}

int TCustomWSocket::NoteReceived(int Result) {
  if (Result < 0) {
    FLastError = WSAGetLastError();
  } else {
    FReadCount += Result;
  }
  return Result;
}

void TCustomWSocket::SetRemoteAddr(std::uint32_t Addr) {
  FRemoteAddr.sin_addr.s_addr = Addr;
  FAddrResolved = true;
}

void TCustomWSocket::SetRemotePort(std::uint16_t Port) {
  FRemoteAddr.sin_port = htons(Port);
  FPortResolved = true;
}

// ---- Closing ------------------------------------------------------------------

void TCustomWSocket::Close() { DoClose(true, 0); }

void TCustomWSocket::DoClose(bool Shut, std::uint16_t Error) {
  if (FHSocket == INVALID_SOCKET) {
    if (FState != wsClosed) {
      ChangeState(wsClosed);
      ResetToDefaults();
    }
    return;
  }
  if (FState == wsClosed) return;
  if (Shut) ShutDown(1);
  for (;;) {
    if (winsock::closesocket(FHSocket) != SOCKET_ERROR) break;
    FLastError = WSAGetLastError();
    if (FLastError == WSAEWOULDBLOCK) {
      PumpMessages();
      continue;
    }
    if (FLastError == WSANOTINITIALISED) break;
    FHSocket = INVALID_SOCKET;
    RaiseSocketError("Disconnect (closesocket)");
    return;
  }
  FHSocket = INVALID_SOCKET;
  ChangeState(wsClosed);
  if (!Destroying() && !FCloseEventFired) {
    FCloseEventFired = true;
    DoSessionClosed(Error);
  }
  try {
    ResetToDefaults();
  } catch (...) {
    // The connection is closed and reported; a layer's reset that fails
    // must not turn the close into a failure.
  }
}

void TCustomWSocket::Abort() {
  CancelDnsLookup();
  ClearSendQueue();
  if (FState == wsConnected && FProtoNumber == IPPROTO_TCP_W) {
    FLingerOnOff = wsLingerOff;
    ApplyLinger();
  }
  DoClose(false, 0);
}

void TCustomWSocket::ShutDown(int How) {
  if (FHSocket != INVALID_SOCKET) winsock::shutdown(FHSocket, How);
}

void TCustomWSocket::ApplyLinger() {
  if (FLingerOnOff == wsLingerNoSet) return;
  if (FHSocket == INVALID_SOCKET) {
    ReportError("Cannot set linger option at this time");
    return;
  }
  std::uint16_t record[2] = {static_cast<std::uint16_t>(FLingerOnOff == wsLingerOn ? 1 : 0),
                             static_cast<std::uint16_t>(FLingerTimeout & 0xffff)};
  if (winsock::setsockopt(FHSocket, SOL_SOCKET_W, SO_LINGER_W, record, 4) == SOCKET_ERROR)
    RaiseSocketError("setsockopt(SO_LINGER)");
}

void TCustomWSocket::PumpAndWait() {
  PumpMessages();
  WaitForMessages(100, !FMultiThreaded);
}

void TCustomWSocket::Flush() {
  while (FHSocket != INVALID_SOCKET && !FSendQueueEmpty) {
    TryToSend();
    PumpMessages();
    if (FHSocket != INVALID_SOCKET && !FSendQueueEmpty) WaitForMessages(100, !FMultiThreaded);
  }
}

void TCustomWSocket::WaitForClose() {
  while (FHSocket != INVALID_SOCKET && FState != wsClosed) {
    PumpMessages();
    if (FHSocket == INVALID_SOCKET) break;
    std::uint32_t waiting = 0;
    if (winsock::ioctlsocket(FHSocket, FIONREAD_W, &waiting) == SOCKET_ERROR) break;
    if (waiting > 0) DoDataAvailable(0);
    char probe;
    if (RecvRaw(&probe, 0, 0) <= 0) {
      FLastError = WSAGetLastError();
      if (FLastError != WSAEWOULDBLOCK) break;
    }
    PumpAndWait();
  }
}

// ---- Errors -------------------------------------------------------------------

void TCustomWSocket::RaiseSocketError(const std::string& FuncName) {
  int code = WSAGetLastError();
  std::string text = "Error " + std::to_string(code) + " in function " + FuncName + "\r\n" +
                     WSocketErrorText(code);
  if (code == WSAECONNRESET || code == WSAENOTCONN) {
    if (FHSocket != INVALID_SOCKET) winsock::closesocket(FHSocket);
    FHSocket = INVALID_SOCKET;
    ChangeState(wsClosed);
  }
  FLastError = code;
  ReportError(text);
}

void TCustomWSocket::ReportError(const std::string& Msg) {
  if (OnError) {
    DoError();
    return;
  }
  throw ESocketException(Msg);
}

// ---- Events -------------------------------------------------------------------

bool TCustomWSocket::DoDataAvailable(std::uint16_t Error) {
  if (!OnDataAvailable) return false;
  OnDataAvailable(this, Error);
  return true;
}

void TCustomWSocket::DoSessionAvailable(std::uint16_t Error) {
  if (OnSessionAvailable) OnSessionAvailable(this, Error);
}

void TCustomWSocket::DoSessionConnected(std::uint16_t Error) {
  if (OnSessionConnected) OnSessionConnected(this, Error);
}

void TCustomWSocket::DoSessionClosed(std::uint16_t Error) {
  if (OnSessionClosed) OnSessionClosed(this, Error);
}

void TCustomWSocket::DoDataSent(std::uint16_t Error) {
  if (OnDataSent) OnDataSent(this, Error);
}

void TCustomWSocket::DoChangeState(TSocketState OldState, TSocketState NewState) {
  if (OnChangeState) OnChangeState(this, OldState, NewState);
}

void TCustomWSocket::DoDnsLookupDone(std::uint16_t Error) {
  if (OnDnsLookupDone) OnDnsLookupDone(this, Error);
}

void TCustomWSocket::DoError() {
  if (OnError) OnError(this);
}

// ---- Message pumping -----------------------------------------------------------

void TCustomWSocket::PumpMessages() {
  if (FMultiThreaded) {
    PumpPendingMessages();
  } else {
    ProcessMessages();
  }
}

void TCustomWSocket::PumpPendingMessages() { ::PumpPendingMessages(FQuitReceived); }

bool TCustomWSocket::PumpOneMessage() { return ::PumpOneMessage(FQuitReceived); }
