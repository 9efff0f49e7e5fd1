// TCustomWSocket, the base of the socket components (WSocket.h): an
// event-driven IPv4 socket. It does all socket work non-blocking; socket
// readiness and finished name lookups arrive as messages to the component's
// hidden window and become its events, on the thread that created the
// component. The layers above share the window and its messages.
//
// Events are std::function members named On...; each is fired only through
// its virtual Do... operation, with the component as Sender. Every Error is
// 16 bits: 0 for success, else a Windows Sockets code (WinSockErrors.h), a
// SOCKS code (SocksErrors.h) or a TLS code (TlsErrors.h); WSocketErrorText
// (SocketErrors.h) gives the text of the first and the last.
//
// Most events fire from the message loop, while the owning thread pumps
// messages (Messages.h). Some also fire inside the call that causes them, as
// each call below says; and the calls that pump (Flush, WaitForClose, the
// Pump... calls, WaitForFlag) run every handler of the thread inside them,
// not only this component's. After such a call, look again at the state.
// Failures of a call go to ReportError: OnError fires inside the call when
// assigned (LastError holds the code), else the call throws ESocketException.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <vector>

#include "Component.h"
#include "Messages.h"
#include "SocketErrors.h"
#include "WSockbuf.h"
#include "WSocketResolve.h"
#include "WinSock.h"

using winsock::INVALID_SOCKET;
using winsock::SOCKET;

enum TSocketState {
  wsInvalidState,
  wsOpened,
  wsBound,
  wsConnecting,
  wsConnected,
  wsAccepting,
  wsListening,
  wsClosed
};
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };

using TDataAvailable = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TDataSent = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TSessionClosed = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TSessionAvailable = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TSessionConnected = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TDnsLookupDone = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TChangeState =
    std::function<void(TObject* Sender, TSocketState OldState, TSocketState NewState)>;
using TBgExceptionEvent =
    std::function<void(TObject* Sender, const std::exception& E, bool& CanClose)>;
using TNotifyEvent = std::function<void(TObject* Sender)>;

constexpr unsigned WM_SOCKET_NOTIFY = WM_USER + 1;
constexpr unsigned WM_HOST_LOOKUP_DONE = WM_USER + 2;
constexpr unsigned WM_ADDR_LOOKUP_DONE = WM_USER + 3;
constexpr unsigned WM_LINE_REDELIVER = WM_USER + 20;
constexpr unsigned WM_TLS_REDELIVER = WM_USER + 21;

constexpr int DnsLookupBufferSize = 1025;

// Number of live socket components in the process.
int SocketComponentCount();

class TCustomWSocket : public TComponent {
 public:
  explicit TCustomWSocket(TComponent* AOwner = nullptr);
  ~TCustomWSocket() override;

  // ---- Connections
  // Resolves Addr, Port and Proto (a host name with a blocking lookup) and
  // starts a non-blocking connect; OnChangeState fires inside (to wsOpened,
  // wsConnecting), OnSessionConnected later from the message loop. A
  // datagram socket is connected at once: OnSessionConnected(0) fires inside.
  virtual void Connect();
  // On an open connection: a graceful close (the bytes already handed to
  // the platform still reach the peer). OnChangeState(wsClosed) and, once per
  // connection, OnSessionClosed(0) fire inside this call. Nothing on a
  // closed socket.
  virtual void Close();
  // Cancels a lookup (OnDnsLookupDone(WSAEINTR) inside), drops the send
  // queue and closes without the graceful end; fires what Close fires.
  virtual void Abort();
  // Pumps messages until the send queue has gone to the platform or the
  // socket has closed: handlers run inside. No time limit (FlushTimeout is
  // not consulted).
  virtual void Flush();
  // Pumps messages, offering waiting data to OnDataAvailable, until the
  // connection has closed or the peer's close has been seen (its
  // OnSessionClosed may then still be queued): handlers run inside.
  virtual void WaitForClose();
  // Binds to Addr:Port and listens; OnChangeState fires inside (wsBound,
  // wsListening), OnSessionAvailable later per waiting connection. A
  // datagram socket is ready at once: OnSessionConnected(0) fires inside.
  virtual void Listen();
  // Takes a waiting connection (from OnSessionAvailable); its handle, for
  // another component's Dup.
  virtual SOCKET Accept();
  // Adopts an accepted handle as this component's connection (closing its
  // own first); OnChangeState fires inside.
  virtual void Dup(SOCKET NewHandle);
  virtual void ShutDown(int How);
  // Stops and restarts the socket's notifications; while paused no socket
  // event fires (a lookup still reports).
  virtual int Pause();
  virtual int Resume();

  // ---- Data
  // Queues the bytes and hands the platform what it takes now; the rest goes
  // as room comes back. Returns the count queued. OnDataSent fires later,
  // from the message loop, once the queue has drained. Should the platform
  // find the connection lost, OnChangeState(wsClosed) and OnSessionClosed
  // (the code) fire inside this call. Not connected: WSAENOTCONN through
  // ReportError.
  virtual int Send(const void* Data, int Len);
  virtual int SendStr(const std::string& Str);
  virtual int SendTo(const sockaddr_in& Dest, int DestLen, const void* Data, int Len);
  virtual int Receive(void* Buffer, int BufferSize);
  virtual std::string ReceiveStr();
  virtual int ReceiveFrom(void* Buffer, int BufferSize, sockaddr_in& From, int& FromLen);

  // ---- Name lookups
  // Looks the name up on a worker thread; OnDnsLookupDone fires once, from
  // the message loop, with DnsResult and DnsResultList set. A dotted address
  // needs no lookup: OnDnsLookupDone(0) fires inside this call. An empty
  // name goes to ReportError, then (when that returns) OnDnsLookupDone
  // (WSAEINVAL) fires inside. A lookup still running is withdrawn silently.
  virtual void DnsLookup(const std::string& HostName);
  // The same for the name of a dotted address.
  virtual void ReverseDnsLookup(const std::string& HostAddr);
  // Withdraws the running lookup: it never reports, and OnDnsLookupDone
  // (WSAEINTR) fires inside this call instead. Nothing when none runs.
  virtual void CancelDnsLookup();

  // ---- Peer and local addresses
  virtual std::string PeerAddr();
  virtual std::string PeerPort();
  virtual int GetPeerName(sockaddr_in& Name, int NameLen);
  virtual std::string GetBoundPort();
  virtual int GetSockName(sockaddr_in& Name, int& NameLen);

  // ---- Message pumping: every handler of the thread runs inside these.
  // One pass: the thread's own queue when MultiThreaded, else the
  // application-wide processing of pending messages (Qt events too).
  virtual void PumpMessages();
  // The thread's queued messages, one pass (Messages.h).
  void PumpPendingMessages();
  // One queued message; false when there was none.
  bool PumpOneMessage();

  // ---- Properties
  const std::string& Addr() const { return FAddr; }
  void SetAddr(const std::string& Value);
  const std::string& Port() const { return FPort; }
  virtual void SetPort(const std::string& Value);
  const std::string& Proto() const { return FProto; }
  virtual void SetProto(const std::string& Value);
  const std::string& LocalPort() const { return FLocalPort; }
  void SetLocalPort(const std::string& Value);
  const std::string& DnsResult() const { return FDnsResult; }
  const std::vector<std::string>& DnsResultList() const { return FDnsResultList; }
  TSocketState State() const { return FState; }
  // Bytes taken by Receive and ReceiveFrom on this connection: 64 bits, as
  // one connection may carry more than 2 GiB.
  std::int64_t ReadCount() const { return FReadCount; }
  virtual std::int32_t RcvdCount();
  // The code of the last failure: of a call (as ReportError reports it) or
  // of a receive.
  std::int32_t LastError() const { return FLastError; }
  bool MultiThreaded() const { return FMultiThreaded; }
  void SetMultiThreaded(bool Value) { FMultiThreaded = Value; }
  std::int32_t FlushTimeout() const { return FFlushTimeout; }
  void SetFlushTimeout(std::int32_t Value) { FFlushTimeout = Value; }
  TSocketSendFlags SendFlags();
  void SetSendFlags(TSocketSendFlags Value);
  // wsLingerOff after every close: Close is graceful, every byte handed to
  // the socket reaches the peer before the orderly end. wsLingerOn with 0 s
  // makes the close a reset that throws away what the peer has not read yet;
  // Abort applies wsLingerOff itself.
  TSocketLingerOnOff LingerOnOff() const { return FLingerOnOff; }
  void SetLingerOnOff(TSocketLingerOnOff Value) { FLingerOnOff = Value; }
  std::int32_t LingerTimeout() const { return FLingerTimeout; }
  void SetLingerTimeout(std::int32_t Value) { FLingerTimeout = Value; }

  SOCKET HSocket() const { return FHSocket; }
  HWND Handle() const { return FWindowHandle; }
  bool QuitReceived() const { return FQuitReceived; }
  size_t SendQueueBlockCount() const { return FSendQueue.size(); }
  bool SendQueueEmpty() const { return FSendQueueEmpty; }
  // Bytes queued and not yet handed to the platform.
  std::int64_t BufferedByteCount() const;

  // ---- Events
  // From the message loop while received data waits: the handler takes it
  // with Receive. Several times per read notification (a bounded number of
  // passes, fewer when the handler leaves the data unread); before
  // OnSessionClosed until everything has been offered. Error: that of the
  // notification, 0 in practice. Without a handler the data is read and
  // dropped.
  TDataAvailable OnDataAvailable;
  // From the message loop whenever a write notification finds the send queue
  // empty: after each Send once its bytes have all gone to the platform, and
  // once right after a plain connection is made. Error: 0 in practice.
  TDataSent OnDataSent;
  // Once per connection: from the message loop when the peer's close or
  // reset has been seen (after its data went through OnDataAvailable), or
  // inside Close, Abort or the Send that found the connection lost. Error:
  // 0 for an orderly end and for a local close, else the code (e.g.
  // WSAECONNRESET; SOCKS and TLS codes for their failures). Not during
  // destruction.
  TSessionClosed OnSessionClosed;
  // From the message loop on a listening socket, once per waiting
  // connection (again after each Accept). Error: 0 in practice.
  TSessionAvailable OnSessionAvailable;
  // Once per Connect, from the message loop when the connection stands
  // (Error 0) or has failed (e.g. WSAECONNREFUSED). After a failed plain
  // connect the component closes: OnSessionClosed(0) follows unless the
  // handler closed it.
  // Through SOCKS or TLS it fires when their negotiation has ended, with
  // their code on failure.
  TSessionConnected OnSessionConnected;
  // At every change of State, inside the call that changes it (Connect,
  // Close, Listen, Dup, Send...) or from the message loop.
  TChangeState OnChangeState;
  // Once per DnsLookup or ReverseDnsLookup (see there). Error: 0 or the
  // lookup's code (WSAHOST_NOT_FOUND, WSANO_DATA, WSATRY_AGAIN...); WSAEINTR
  // after CancelDnsLookup.
  TDnsLookupDone OnDnsLookupDone;
  // Inside a call whose failure ReportError reports, instead of the
  // exception; LastError holds the code of a socket failure.
  TNotifyEvent OnError;
  // When an exception escapes the handling of a notification (a handler's
  // included): CanClose (true) asks for an Abort afterwards, which fires
  // OnSessionClosed.
  TBgExceptionEvent OnBgException;

 protected:
  virtual void WndProc(TMessage& Msg);
  virtual void ResetToDefaults();
  virtual void DoClose(bool Shut, std::uint16_t Error);
  virtual void BindLocal();
  // Hands one piece of the send queue to the platform; its result unchanged.
  virtual int SendChunk(const void* Data, int Len);
  // Hands several consecutive pieces of the send queue to the platform in
  // one call (stream sockets); the platform result unchanged.
  virtual int SendChunks(const winsock::WSABUF_W* Pieces, int Count);
  virtual void ReportError(const std::string& Msg);
  virtual void HandleBgException(const std::exception& E);
  virtual bool DoDataAvailable(std::uint16_t Error);
  virtual void DoSessionAvailable(std::uint16_t Error);
  virtual void DoSessionConnected(std::uint16_t Error);
  virtual void DoSessionClosed(std::uint16_t Error);
  virtual void DoDataSent(std::uint16_t Error);
  virtual void DoChangeState(TSocketState OldState, TSocketState NewState);
  virtual void DoDnsLookupDone(std::uint16_t Error);
  virtual void DoError();
  virtual int RecvRaw(void* Buffer, int Size, int Flags);
  virtual int RecvFromRaw(void* Buffer, int Size, int Flags, sockaddr_in& From, int& FromLen);

  // printf-style report through ReportError.
  template <typename... Args>
  void ReportErrorFmt(const char* Fmt, const Args&... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, Fmt, FmtArg(args)...);
    ReportError(buf);
  }

  void ChangeState(TSocketState NewState);
  // Runs OnDataAvailable while data waits: a bounded number of passes on a
  // read notification, everything before a close (untilDrained).
  void DeliverReadable(std::uint16_t Error, bool untilDrained);
  void RaiseSocketError(const std::string& FuncName);
  void ApplyLinger();
  void QueueSendData(const void* Data, int Len);
  void TryToSend();
  void ClearSendQueue();
  void AppendBlock();
  void DropFrontBlock();
  // Codes with which sending finds the connection gone.
  static bool IsConnectionLostCode(int code);
  // Pumps once more and, while the condition still holds, waits (bounded)
  // for the next message instead of spinning.
  void PumpAndWait();

  // ---- For the layers above
  // Where Connect goes: Addr and Port are resolved into it when Connect finds
  // them unresolved, and stay so until they change. A layer that connects
  // elsewhere (to a SOCKS server) fills in the part not resolved yet itself;
  // a part forgotten is resolved again by the next Connect.
  bool RemoteAddrResolved() const { return FAddrResolved; }
  bool RemotePortResolved() const { return FPortResolved; }
  void SetRemoteAddr(std::uint32_t Addr);  // network order
  void SetRemotePort(std::uint16_t Port);  // host order
  void ForgetRemoteAddr() { FAddrResolved = false; }
  void ForgetRemotePort() { FPortResolved = false; }
  // Records the result of a read from the platform as Receive does: the code
  // of a failure in LastError, the bytes of a success in ReadCount. Returns
  // Result.
  int NoteReceived(int Result);
  // After QueueSendData outside Send: hands the queue to the platform as Send
  // does; OnDataSent fires once it has drained.
  void SendQueued();

  // Bytes received on this connection (ReadCount); a subclass may start the
  // count elsewhere, as a test of its 64 bits does.
  std::int64_t FReadCount = 0;

 private:
  static const char* FmtArg(const std::string& s) { return s.c_str(); }
  template <typename T>
  static T FmtArg(const T& v) {
    return v;
  }

  void HandleSocketNotify(TMessage& Msg);
  void HandleHostLookupDone(TMessage& Msg);
  void HandleAddrLookupDone(TMessage& Msg);
  void ResolveForConnect(bool LocalPortToo);
  void StartAsyncLookup(const std::string& Text, bool Reverse);

  SOCKET FHSocket = INVALID_SOCKET;
  HWND FWindowHandle = 0;
  TSocketState FState = wsClosed;
  std::int32_t FLastError = 0;
  bool FCloseEventFired = false;
  bool FPaused = false;
  bool FQuitReceived = false;
  bool FAddrAssigned = false, FAddrResolved = false;
  bool FPortAssigned = false, FPortResolved = false;
  bool FProtoAssigned = true, FProtoResolved = false;
  bool FLocalPortResolved = false;
  int FAddrFamily = 2;
  int FSocketType = 1;
  int FProtoNumber = 6;
  std::uint16_t FPortNumber = 0;
  std::uint16_t FLocalPortNumber = 0;
  sockaddr_in FRemoteAddr{};
  bool FSendQueueEmpty = true;

  std::string FAddr;
  std::string FPort;
  std::string FProto = "tcp";
  std::string FLocalPort = "0";
  std::string FDnsResult;
  std::vector<std::string> FDnsResultList;
  bool FMultiThreaded = false;
  std::int32_t FFlushTimeout = 60;
  int FSendFlagValue = 0;
  TSocketLingerOnOff FLingerOnOff = wsLingerOff;
  std::int32_t FLingerTimeout = 0;

  winsock::HANDLE FLookupHandle = 0;
  alignas(8) char FLookupBuffer[DnsLookupBufferSize] = {};

  std::deque<std::unique_ptr<TBuffer>> FSendQueue;
  // Drained blocks kept for reuse (a few), sparing the allocator on streams.
  std::vector<std::unique_ptr<TBuffer>> FSpareBlocks;
  std::int32_t FSendBlockSize = DefaultBlockSize;
  SOCKET FLastAcceptHandle = INVALID_SOCKET;
};
