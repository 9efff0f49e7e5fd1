// The event-driven IPv4 socket component family.
//
// TCustomWSocket does all socket work non-blocking; socket readiness and
// finished name lookups arrive as messages to the component's hidden window
// and become its events, on the thread that created the component. The chain
// TCustomWSocket -> TCustomSocksWSocket -> TCustomSslWSocket ->
// TCustomLineWSocket -> TCustomSyncWSocket -> TWSocket adds one concern per
// class: a SOCKS client, TLS (inside the SOCKS tunnel, below line mode),
// line-mode receiving, and waiting for a flag.
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
#include "SocksErrors.h"
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

  // ---- State shared with the layers above
  SOCKET FHSocket = INVALID_SOCKET;
  HWND FWindowHandle = 0;
  TSocketState FState = wsClosed;
  std::int32_t FLastError = 0;
  std::int64_t FReadCount = 0;
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

// ---- SOCKS layer: transparent while SocksServer is empty -------------------

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { socksAuthStart, socksAuthSuccess, socksAuthFailure, socksAuthNotRequired };
using TSocksAuthStateEvent = std::function<void(TObject* Sender, TSocksAuthState AuthState)>;
using TSocksErrorEvent =
    std::function<void(TObject* Sender, std::int32_t Error, const std::string& Msg)>;

// Requests are built, and replies collected, in areas of this size.
constexpr int SocksAreaSize = 128;

// Connects through a SOCKS 4, 4A or 5 proxy (SOCKS 5 optionally with
// username/password). The negotiation runs inside the component's own
// notifications; the application's OnSessionConnected is held back until it
// has ended, in success or failure. Every failure closes the connection and
// reports OnSocksError, OnSessionConnected and OnSessionClosed with a code of
// SocksErrors.h (see SocksFail); a SOCKS 4 destination that cannot be
// resolved (SocksDestinationUnresolved) skips OnSessionConnected. All these
// fire from the message loop, within the negotiation's notifications.
class TCustomSocksWSocket : public TCustomWSocket {
 public:
  explicit TCustomSocksWSocket(TComponent* AOwner = nullptr);

  void Connect() override;
  void Listen() override;
  std::int32_t RcvdCount() override;

  const std::string& SocksLevel() const { return FSocksLevel; }
  void SetSocksLevel(const std::string& Value);
  const std::string& SocksServer() const { return FSocksServer; }
  virtual void SetSocksServer(const std::string& Value);
  const std::string& SocksPort() const { return FSocksPort; }
  virtual void SetSocksPort(const std::string& Value);
  const std::string& SocksUsercode() const { return FSocksUsercode; }
  void SetSocksUsercode(const std::string& Value) { FSocksUsercode = Value; }
  const std::string& SocksPassword() const { return FSocksPassword; }
  void SetSocksPassword(const std::string& Value) { FSocksPassword = Value; }
  TSocksAuthentication SocksAuthentication() const { return FSocksAuthentication; }
  void SetSocksAuthentication(TSocksAuthentication Value) { FSocksAuthentication = Value; }

  // Once per failed negotiation, first of the failure's events: the code
  // and its text.
  TSocksErrorEvent OnSocksError;
  // At each step of the username/password authentication: start, then
  // success or failure (failure once more before OnSessionClosed when a
  // connection that failed there closes); socksAuthNotRequired when the
  // server accepted the connection without the authentication offered.
  TSocksAuthStateEvent OnSocksAuthState;
  // Once per Connect through a SOCKS server, when the connection to the
  // server stands (0) or has failed (the Windows Sockets code).
  TSessionConnected OnSocksConnected;

 protected:
  enum TSocksPhase { spIdle, spMethods, spAuth, spConnect };

  void ResetToDefaults() override;
  void DoSessionConnected(std::uint16_t Error) override;
  void DoSessionClosed(std::uint16_t Error) override;
  void DoDataSent(std::uint16_t Error) override;
  bool DoDataAvailable(std::uint16_t Error) override;
  int RecvRaw(void* Buffer, int Size, int Flags) override;
  virtual void DoSocksConnected(std::uint16_t Error);
  virtual void DoSocksError(std::int32_t Error, const std::string& Msg);
  // The connection to the destination stands (directly, or through the SOCKS
  // server once the negotiation has succeeded), or could not be made (Error):
  // fires the application's OnSessionConnected. The TLS layer holds it back
  // for its handshake.
  virtual void DoTransportConnected(std::uint16_t Error);
  void DoSocksAuthState(TSocksAuthState AuthState);

  // A SOCKS negotiation is running: received bytes are the server's replies.
  bool SocksNegotiating() const { return FSocksPhase != spIdle; }

  bool FSocksServerAssigned = false;

 private:
  bool IsSocks4() const { return !FSocksLevel.empty() && FSocksLevel[0] == '4'; }
  void ResetSocksDefaults();
  void SendMethodRequest();
  void SendAuthRequest();
  void SendConnectRequest();
  bool BuildSocks4Request(std::string& Request);
  bool BuildSocks5Request(std::string& Request);
  void SendRequest(const std::string& Request);
  // Reads into ReplyBuffer behind the bytes collected, at most up to Limit
  // bytes in all; false when the read failed, the peer has closed (the
  // negotiation then fails) or nothing fits.
  bool CollectReply(int Limit);
  void HandleMethodReply();
  void HandleAuthReply();
  bool HandleSocks4Reply();
  bool HandleSocks5Reply();
  // The negotiation has succeeded: the application's connection begins.
  bool FinishNegotiation(int ReplyLength);
  void SocksFail(std::uint16_t Error, const std::string& Msg);
  // SocksFail with the code's text from SocksErrors.h.
  void SocksFail(std::uint16_t Error);

  std::string FSocksLevel = "5";
  std::string FSocksServer;
  std::string FSocksPort;
  std::string FSocksUsercode;
  std::string FSocksPassword;
  TSocksAuthentication FSocksAuthentication = socksNoAuthentication;

  TSocksPhase FSocksPhase = spIdle;
  std::uint8_t FRequestedAuthMethod = 0;
  std::uint16_t FDestPortNumber = 0;
  std::uint8_t FReplyBuffer[SocksAreaSize] = {};
  int FReplyCount = 0;
  int FLeftoverPos = 0;
  int FLeftoverCount = 0;
};

// ---- TLS layer: transparent while SslEnable is off -------------------------

struct ssl_st;
struct ssl_ctx_st;
struct ssl_session_st;
struct bio_st;
struct bio_method_st;

// With SslEnable on, runs TLS (OpenSSL) over the connection once it stands,
// also inside a SOCKS tunnel. The handshake is driven by the component's own
// notifications; the application's OnSessionConnected is held back until it
// has ended: with 0, or with a TLS code (TlsErrors.h), after which the
// connection closes with OnSessionClosed carrying the same code.
//
// Once established, Send and the send queue take plain bytes (the queue holds
// them encrypted) and OnDataSent fires when the encrypted bytes have left;
// OnDataAvailable and Receive deliver decrypted bytes, also those the library
// holds back after a read (they are offered again from the message loop).
// Close sends the TLS close alert when it can. The peer's close (alert or TCP
// close) gives one OnSessionClosed after all decrypted data has been offered;
// a TCP close without the close alert reports TlsClosedWithoutAlert.
//
// The peer's certificate chain is verified against the system's trust store
// (OpenSSL's default paths, so SSL_CERT_FILE and SSL_CERT_DIR apply) plus
// SslCAFile, and its name against SslServerName (or Addr when that is empty);
// SslServerName also goes out as the server name indication.
class TCustomSslWSocket : public TCustomSocksWSocket {
 public:
  explicit TCustomSslWSocket(TComponent* AOwner = nullptr);
  ~TCustomSslWSocket() override;

  void Close() override;
  int Send(const void* Data, int Len) override;
  // Decrypted bytes ready for Receive (the rest of the current record).
  std::int32_t RcvdCount() override;

  // Settings, changed only while closed.
  bool SslEnable() const { return FSslEnable; }
  void SetSslEnable(bool Value);
  const std::string& SslServerName() const { return FSslServerName; }
  void SetSslServerName(const std::string& Value);
  // A PEM file of further trusted certificates; empty: the system's only.
  const std::string& SslCAFile() const { return FSslCAFile; }
  void SetSslCAFile(const std::string& Value);
  // Off: any certificate and any name is accepted.
  bool SslVerifyPeer() const { return FSslVerifyPeer; }
  void SetSslVerifyPeer(bool Value);

  // On an open plain connection (a tunnel after a proxy's CONNECT answer):
  // turns SslEnable on and starts the handshake. OnSessionConnected fires
  // again when it has ended, as for a connection made with SslEnable on; a
  // failure found at once fires it (and OnSessionClosed) inside this call.
  void StartSslHandshake();

  // The handshake has ended successfully and the connection still stands.
  bool SslEstablished() const { return FTlsPhase == tpEstablished; }
  // The handshake resumed the session of an earlier connection.
  bool SslSessionReused() const;

 protected:
  enum TTlsPhase { tpOff, tpHandshake, tpEstablished };

  void WndProc(TMessage& Msg) override;
  void ResetToDefaults() override;
  void DoTransportConnected(std::uint16_t Error) override;
  bool DoDataAvailable(std::uint16_t Error) override;
  void DoDataSent(std::uint16_t Error) override;
  void DoSessionClosed(std::uint16_t Error) override;
  int RecvRaw(void* Buffer, int Size, int Flags) override;

  // A SOCKS negotiation or the TLS handshake is running: received bytes are
  // not the application's.
  bool Negotiating() const { return SocksNegotiating() || FTlsPhase == tpHandshake; }

 private:
  static int BioWrite(bio_st* Bio, const char* Data, int Len);
  static int BioRead(bio_st* Bio, char* Buffer, int Size);
  static long BioCtrl(bio_st* Bio, int Cmd, long Num, void* Ptr);
  static int StoreNewSession(ssl_st* Ssl, ssl_session_st* Session);

  // The context for the current settings, made on first use; nullptr (and
  // Error set) when it cannot be made.
  ssl_ctx_st* Context(std::uint16_t& Error);
  void FreeContext();
  void StartHandshake();
  bool PrepareConnection(std::uint16_t& Error);
  void ContinueHandshake();
  void FinishHandshake();
  void HandshakeFail(std::uint16_t Error);
  std::uint16_t HandshakeFailureCode(int SslError) const;
  // Encrypts and queues plain bytes; false when the library refused them.
  bool WritePlain(const void* Data, int Len);
  void FlushEncrypted();
  bool DeliverDecrypted(std::uint16_t Error);
  void NoteReadEnd(int SslError);
  void PostRedeliver();
  void HandleRedeliver();
  void OfferPendingAtClose();
  bool HasPendingPlain() const;
  void FreeConnection();
  std::string SessionKey() const;

  bool FSslEnable = false;
  std::string FSslServerName;
  std::string FSslCAFile;
  bool FSslVerifyPeer = true;

  ssl_ctx_st* FSslContext = nullptr;  // owned; made for the settings above
  ssl_st* FSsl = nullptr;             // owned; one per connection
  bio_st* FBio = nullptr;             // owned by FSsl
  // The last session the peer offered for resumption, and its host:port.
  ssl_session_st* FSession = nullptr;
  std::string FSessionKey;
  TTlsPhase FTlsPhase = tpOff;
  std::string FPlainBeforeHandshake;  // sent while the handshake ran
  // How the peer ended the TLS stream: 0 still open; -1 close alert;
  // else the TLS code of the failure (a close without the alert included).
  int FReadEnd = 0;
  bool FRedeliverPosted = false;
  bool FClosedInHandshake = false;  // Close came while the handshake ran
  bool FInDelivery = false;         // inside DeliverDecrypted
  std::uint64_t FPlainReads = 0;    // successful decrypted reads, for progress checks
};

// ---- Line layer: plain delivery while LineMode is off ----------------------

// Default bound of a line held without its LineEnd (see LineLimit).
constexpr std::int32_t DefaultLineLimit = 1024 * 1024;

// With LineMode on, collects received bytes and fires OnDataAvailable once
// per complete line (LineEnd included); the handler reads the line with
// Receive or ReceiveStr, which never hand out more than that line. With
// LineMode off everything passes through.
class TCustomLineWSocket : public TCustomSslWSocket {
 public:
  explicit TCustomLineWSocket(TComponent* AOwner = nullptr);

  std::int32_t RcvdCount() override;

  bool LineMode() const { return FLineMode; }
  virtual void SetLineMode(bool Value);
  // An empty LineEnd delivers as LineMode off does, up to the close.
  const std::string& LineEnd() const { return FLineEnd; }
  void SetLineEnd(const std::string& Value);
  bool LineEcho() const { return FLineEcho; }
  void SetLineEcho(bool Value) { FLineEcho = Value; }
  bool LineEdit() const { return FLineEdit; }
  void SetLineEdit(bool Value) { FLineEdit = Value; }
  // Most bytes held for a line whose LineEnd has not come; beyond it
  // OnLineTooLong fires and, unless the handler closes the connection, the
  // held bytes are delivered as a piece of the line. 0: no limit.
  std::int32_t LineLimit() const { return FLineLimit; }
  void SetLineLimit(std::int32_t Value) { FLineLimit = Value; }

  // Bytes held for the reader (diagnostics and tests).
  std::int32_t LineDataCount() const { return FLineDataCount; }
  std::int32_t LineDataSize() const { return static_cast<std::int32_t>(FLineData.size()); }

  // Inside the delivery, when the bytes held without LineEnd pass
  // LineLimit; the handler may close the connection.
  TNotifyEvent OnLineTooLong;

 protected:
  void WndProc(TMessage& Msg) override;
  void ResetToDefaults() override;
  bool DoDataAvailable(std::uint16_t Error) override;
  void DoSessionClosed(std::uint16_t Error) override;
  int RecvRaw(void* Buffer, int Size, int Flags) override;
  // Applies backspace and tab editing to the Count newest received bytes.
  virtual void EditReceived(int& Count);
  virtual void DoLineTooLong();

 private:
  class DeliveryScope;

  bool LineDelivery() const { return FLineMode && !FLineEnd.empty(); }
  // After LineMode or LineEnd changed: held bytes are offered again when the
  // delivery switched between lines and plain.
  void DeliveryChanged(bool WasLineDelivery);
  // Reads what waits below into LineData, edited and echoed; the offset from
  // which a LineEnd may newly be found, or -1 when nothing came.
  int ReceiveIntoLineData();
  // Hands out every complete line held (a line left unfinished first),
  // searching for LineEnd from offset From of the held bytes.
  void DeliverLines(int From);
  // Offers the pending line to the handler until it has been read; false when
  // the delivery has to stop (the held data went away, or the handler keeps
  // leaving the line unread).
  bool DeliverPendingLine();
  // A line without LineEnd beyond LineLimit: OnLineTooLong, then the held
  // bytes as a piece of the line; false when the delivery has to stop.
  bool DeliverOverlongLine(bool& Delivered);
  // Offers held bytes in plain mode until a pass takes none.
  void OfferHeldBytes();
  void DeliverAtClose();
  void HandleRedeliver();
  void PostRedeliver();
  int FindLineEnd(int From) const;
  void ConsumeHeld(int Count);
  void CompactLineData();
  void FreeLineData();

  bool FLineMode = false;
  std::string FLineEnd = "\r\n";
  bool FLineEcho = false;
  bool FLineEdit = false;
  std::int32_t FLineLimit = DefaultLineLimit;

  // Held bytes: FLineData[FLineStart, FLineStart + FLineDataCount), then a 0
  // byte. Read bytes leave at the front; a delivered line's unread rest is
  // always the first FPendingLineLength held bytes.
  std::vector<char> FLineData;
  std::int32_t FLineStart = 0;
  std::int32_t FLineDataCount = 0;
  std::int32_t FPendingLineLength = 0;
  bool FDelivering = false;
  bool FReceptionDeferred = false;
  bool FRedeliverPosted = false;
  // Grows whenever the held data is dropped, so that a delivery loop sees it.
  std::uint32_t FLineGeneration = 0;
};

// ---- Sync layer: waiting for a flag --------------------------------------

// WaitForFlag's result when it stopped without the flag.
constexpr int SyncWaitFailed = 12001;

class TCustomSyncWSocket : public TCustomLineWSocket {
 public:
  explicit TCustomSyncWSocket(TComponent* AOwner = nullptr);

  std::int32_t SyncTimeout() const { return FSyncTimeout; }
  void SetSyncTimeout(std::int32_t Value) { FSyncTimeout = Value; }

  // Pumps messages (every handler of the thread runs inside) until DoneFlag
  // is true (0), or SyncTimeout milliseconds pass (when positive), the
  // application terminates or a quit message arrives (SyncWaitFailed).
  virtual int WaitForFlag(const bool& DoneFlag);
  // DoneFlag := false, Proc (when set), then WaitForFlag.
  virtual int RunAndWait(const std::function<void()>& Proc, bool& DoneFlag);

 private:
  std::int32_t FSyncTimeout = 0;
  std::int32_t FSyncDeadline = 0;
};

class TWSocket : public TCustomSyncWSocket {
 public:
  explicit TWSocket(TComponent* AOwner = nullptr) : TCustomSyncWSocket(AOwner) {}
};
