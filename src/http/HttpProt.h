// THttpCli: an event-driven HTTP/1.0 and HTTP/1.1 client component.
//
// One request at a time: the address is split, the server (or proxy) name is
// looked up without blocking, the connection made, the request header sent
// in one piece, the response header cut into lines and the body written to
// ReceiveStream until the server closes (HTTP/1.0), or until its length or
// its last chunk has come (HTTP/1.1, see RequestVersion). Relocations are followed (at most
// HttpMaxRelocations in one request). An https address runs over TLS (port
// 443 by default); through a proxy it first opens a CONNECT tunnel. Every
// step runs from the owning thread's message queue (socket events and three
// private messages); Get() starts a GET and pumps messages until it ends.
//
// Events fire from the message loop, during the socket's events, unless
// said otherwise; StartRequest and Abort run some inside them (see there),
// and Get runs all of them inside it. A handler may call Abort. Error of
// OnRequestDone is 0, a Windows Sockets, SOCKS or TLS code of the
// connection, or a code of HttpErrors.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ChunkedBody.h"
#include "Component.h"
#include "ContentDecoding.h"
#include "CookieJar.h"
#include "DigestAuth.h"
#include "HttpDefaults.h"
#include "HttpErrors.h"
#include "Messages.h"
#include "Streams.h"
#include "WSocket.h"

enum THttpState {
  hsIdle,
  hsStarting,
  hsConnected,
  hsResolving,
  hsResolved,
  hsAwaitingHeader,
  hsReceivingBody,
  hsAborting
};

enum THttpRequest { rqNone, rqGet, rqPost, rqHead };

class EHttpException : public Exception {
 public:
  EHttpException(const std::string& msg, std::uint16_t code) : Exception(msg), ErrorCode(code) {}
  std::uint16_t ErrorCode;
};

// The default of MaxDocSize: a page larger than this is no page to harvest.
constexpr std::int64_t kDefaultMaxDocSize = std::int64_t{256} << 20;

using TOnCommand = std::function<void(TObject* Sender, std::string& S)>;
using TDocDataEvent = std::function<void(TObject* Sender, const void* Buffer, int Len)>;
using TCookieRcvdEvent =
    std::function<void(TObject* Sender, const std::string& Data, bool& Accept)>;
using THttpRequestDone =
    std::function<void(TObject* Sender, THttpRequest RqType, std::uint16_t Error)>;
using TRelocateEvent = std::function<void(TObject* Sender, bool& Follow)>;

class THttpCli;

// Sees each exchange of a client as it crosses the connection, for an
// archive of what a run fetched: the request header as sent, the answer's
// bytes as they come (after TLS, before anything is parsed), and the end of
// the exchange. A relocation followed ends one exchange and starts the next.
class THttpRecorder {
 public:
  virtual ~THttpRecorder() = default;
  // `targetUri`: the absolute address asked for ("scheme://host[:port]/path");
  // `ipAddress`: the server or proxy connected to.
  virtual void RequestSent(const THttpCli& client, const std::string& targetUri,
                           const std::string& ipAddress, std::string_view bytes) = 0;
  virtual void AnswerData(const THttpCli& client, std::string_view bytes) = 0;
  // The connection of the exchange closed: `error` is 0 after an answer that
  // ended well or relocated, else the request's failure code and reason
  // (also when no request could be sent).
  virtual void ExchangeEnded(const THttpCli& client, std::uint16_t error,
                             const std::string& reason) = 0;
};

constexpr unsigned WM_HTTP_REQUEST_DONE = WM_USER + 1;
constexpr unsigned WM_HTTP_SET_READY = WM_USER + 2;
constexpr unsigned WM_HTTP_RELOCATE = WM_USER + 3;
constexpr unsigned WM_HTTP_SEND_KEPT = WM_USER + 4;

// Size of the receive buffer: at most this many bytes of a header line.
constexpr int HttpLineBufferSize = 8192;
// What a stored header line counts against MaxDocSize besides its bytes: the
// string object, the list's spare room and the allocation's bookkeeping.
// Counting only the bytes let a header of one-byte lines take twenty times
// the limit.
constexpr int HttpStoredLineCost = 64;
// HTTP/1.1: the body of a refusal (400 or more) or of a relocation is read
// past, so that its connection can serve the next request, when it is no
// larger than this; a larger one ends its connection.
constexpr std::int64_t HttpMaxSkippedBody = 65536;

class THttpCli : public TComponent {
 public:
  explicit THttpCli(TComponent* AOwner = nullptr);
  ~THttpCli() override;

  // ---- Requests
  // Synchronous GET of URL: pumps messages until the request has ended (with
  // MultiThreaded off the application's too: clicks, timers and other
  // components' events run inside), and returns only after OnRequestDone
  // has fired. Raises EHttpException for a busy component, and with
  // StatusCode as ErrorCode for a status >= 400 (a failure's 404 included).
  void Get();
  // Asynchronous start of a request; raises EHttpException (kHttpErrorBusy,
  // kHttpErrorNothingToPost). OnStateChange fires inside, and for a dotted
  // address the connect starts inside too. Its end is reported by
  // OnRequestDone.
  void StartRequest(THttpRequest RqType);
  // Ends the running request: StatusCode 404, ReasonPhrase "Connection
  // aborted on request", OnRequestDone's Error kHttpErrorAborted (later,
  // from the message loop). OnStateChange (hsAborting, hsIdle) and the
  // socket's close, with OnDocEnd when a body had begun, run inside. While
  // idle it only closes an open connection.
  void Abort();

  // ---- Properties set by the caller
  std::string URL;
  // "1.0": the request line says HTTP/1.0 and every answer ends with its
  // connection. "1.1": the Host line names a port that is not the scheme's
  // default, chunked answers are read, and a connection whose answer ended
  // by its length or last chunk stays open for the next request on the same
  // route (the same server, the same proxy for plain http, the same tunnel
  // for https); a kept connection the server closes before answering is
  // replaced once by a fresh one for a GET.
  std::string RequestVersion = "1.0";
  std::string Proxy;
  std::string ProxyPort = kDefaultProxyPort;
  std::string Sender;  // "From: " line
  std::string Agent = kDefaultUserAgent;
  std::string Accept = kDefaultAccept;
  // "Accept-Encoding: " line; empty: none. When set, a body in the content
  // codings TContentDecoder knows is undone before it reaches ReceiveStream
  // (MaxDocSize counting the decoded bytes), and one in another coding, or
  // damaged, fails the request with kHttpErrorBadCoding.
  std::string AcceptEncoding;
  std::string Reference;  // "Referer: " line
  // Site credentials, sent only to the origin ("scheme://host:port", see
  // UrlOrigin) in AuthOrigin: a followed link or a relocation to another
  // origin never sees them. An address with user information sets all three
  // as its request starts; a request that starts with Username set and
  // AuthOrigin empty binds them to its own origin. They go as Basic
  // authorization until the origin answers 401 with a Digest challenge
  // (HTTP/1.1 only): the request is then sent once more with Digest
  // authorization, and later requests to the origin answer that challenge
  // (counting its nonce) until it asks again.
  std::string Username, Password;
  std::string AuthOrigin;
  std::string ProxyUsername, ProxyPassword;
  bool NoCache = false;
  double ModifiedSince = 0;  // days since 30 December 1899, GMT; 0: not set
  std::string Cookie;
  // Cookies of the run: what Set-Cookie stores and each request's Cookie
  // line after Cookie's own text; not owned, must outlive the requests.
  TCookieJar* Cookies = nullptr;
  // Further "Name: value" lines sent with every request, after the others;
  // one naming a line the client sends itself (Accept, User-Agent, Host...)
  // takes that line's place.
  std::vector<std::string> ExtraHeaders;
  std::string ContentTypePost = "application/x-www-form-urlencoded";
  // "Range: bytes=Begin-End" on the next request only (both are cleared when
  // it is sent); an answer's Content-Range never sets them.
  std::string ContentRangeBegin, ContentRangeEnd;
  TStream* ReceiveStream = nullptr;   // not owned; must outlive the request
  TStream* PostStream = nullptr;      // not owned; must outlive the request
  THttpRecorder* Recorder = nullptr;  // not owned; must outlive the requests
  // For https addresses: a PEM file of further trusted certificates, and
  // whether the server's certificate is verified at all.
  std::string SslCAFile;
  bool SslVerifyPeer = true;
  // The most bytes one request may receive, header lines and body together
  // (the caller holds them in memory; each stored header line counts
  // HttpStoredLineCost more); more end the request with
  // kHttpErrorDocTooLarge before they reach ReceiveStream. 0: no limit.
  std::int64_t MaxDocSize = kDefaultMaxDocSize;

  bool MultiThreaded() const { return FMultiThreaded; }
  void SetMultiThreaded(bool Value);

  // ---- Results
  THttpState State() const { return FState; }
  THttpRequest RequestType() const { return FRequestType; }
  int StatusCode() const { return FStatusCode; }
  const std::string& ReasonPhrase() const { return FReasonPhrase; }
  std::int64_t ContentLength() const { return FContentLength; }
  const std::string& ContentType() const { return FContentType; }
  const std::string& Location() const { return FLocation; }
  const std::string& DocumentName() const { return FDocumentName; }
  const std::string& AcceptRanges() const { return FAcceptRanges; }
  const std::vector<std::string>& ResponseHeader() const { return FResponseHeader; }
  const std::vector<std::string>& AuthChallenges() const { return FAuthChallenges; }
  // The body's bytes as they reached ReceiveStream (decoded).
  std::int64_t ReceivedBytes() const { return FReceivedBytes; }
  // Every byte the request received from its connections, headers and
  // compressed bodies included.
  std::int64_t WireBytes() const { return FWireBytes; }
  std::int64_t SentBytes() const { return FSentBytes; }
  bool Connected() const { return FConnected; }
  // The request ran on a connection kept from an earlier one.
  bool ConnectionReused() const { return FReused; }
  // A request to Url through ProxyText (empty: direct) would go over the
  // connection this idle client keeps open.
  bool KeepsConnectionFor(const std::string& Url, const std::string& ProxyText) const;
  TWSocket& Socket() { return *FSocket; }

  // ---- Events
  TNotifyEvent OnTrace;  // never fired
  // Once per connection to the server (again after each relocation, and
  // through a tunnel once TLS stands), before the request is sent; not for
  // a request on a kept connection.
  TNotifyEvent OnSessionConnected;
  // Once per header line received, after it was added to ResponseHeader.
  TNotifyEvent OnHeaderData;
  // Once per request header line, before it is sent; the handler may change
  // the line.
  TOnCommand OnCommand;
  // Once per response (relocations included): before its first header line,
  // and after its end (the empty line, or the start of a header-less page).
  TNotifyEvent OnHeaderBegin;
  TNotifyEvent OnHeaderEnd;
  // Once per request header sent, around its lines.
  TNotifyEvent OnRequestHeaderBegin;
  TNotifyEvent OnRequestHeaderEnd;
  // The body: OnDocBegin before its first piece, OnDocData per piece (after
  // it was written to ReceiveStream; a chunked body's data without its
  // framing), OnDocEnd once when the answer has ended after a body had begun
  // (also after a failure or Abort).
  TNotifyEvent OnDocBegin;
  TDocDataEvent OnDocData;
  TNotifyEvent OnDocEnd;
  // A POST's body: OnSendBegin after the header, OnSendData per piece before
  // it is sent, OnSendEnd once PostStream has nothing more.
  TNotifyEvent OnSendBegin;
  TDocDataEvent OnSendData;
  TNotifyEvent OnSendEnd;
  // At every change of State, inside whatever call or event changes it.
  TNotifyEvent OnStateChange;
  // Once per request, from the message loop, after the state has become
  // hsIdle: also after a failure or Abort. Error: 0 (a status >= 400 from
  // the server included), a socket code, or a code of HttpErrors.h.
  THttpRequestDone OnRequestDone;
  // Once per relocation, when its answer's header has ended, before the
  // old connection closes; Location holds the new address. Follow (true when
  // called) set to false ends the request there, as done, with the
  // relocation's status and no body.
  TRelocateEvent OnRelocate;
  // Once per relocation followed, when the old connection has closed;
  // Location holds the new address.
  TNotifyEvent OnLocationChange;
  // Once per Set-Cookie header line, with its value.
  TCookieRcvdEvent OnCookie;

 protected:
  virtual void WriteRequestLine(const std::string& Line);
  virtual void StartLookup();
  virtual void CloseConnection();
  virtual void HandleRelocationClosed(TObject* Sender, std::uint16_t Error);
  virtual void DoCookie(const std::string& Data, bool& Accept);
  virtual void DoSessionConnected();
  virtual void DoRequestHeaderBegin();
  virtual void DoRequestHeaderEnd();
  virtual void DoHeaderBegin();
  virtual void DoHeaderEnd();
  virtual void DoDocBegin();
  virtual void DoDocData(const void* Buffer, int Len);
  virtual void DoDocEnd();
  virtual void DoSendBegin();
  virtual void DoSendData(const void* Buffer, int Len);
  virtual void DoSendEnd();

 private:
  enum TLineHandler { lhNone, lhHeader, lhBody };
  // Where a request goes: what is connected to, and what the connection
  // carries. Requests with equal keys can share a connection.
  struct TRoute {
    bool useTls = false, tunnel = false;
    std::string targetHost, targetPort, targetPath;
    std::string connectHost, connectPort;
    std::string requestHost, requestPath;
    std::string Key() const;
  };

  void WndProc(TMessage& Msg);
  void SetState(THttpState NewState);
  void SetReady();
  void SendRequestHeader(const std::string& Method, const std::string& Version);
  void WriteOwnLine(std::string_view Name, const std::string& Value);
  std::string CookieLine() const;
  void WaitForIdle();
  void EndWithFailure(std::uint16_t Code, const std::string& Reason);
  void FailResponse(std::uint16_t Code);
  void FailBeforeConnect(std::uint16_t Code, const std::string& Reason);
  bool HoldBytes(size_t Count);
  bool HoldHeaderLine(size_t Length);
  std::string TargetOrigin() const;
  std::string TargetUri() const;

  // Socket events.
  void HandleDnsLookupDone(TObject* Sender, std::uint16_t Error);
  void HandleConnectDone(TObject* Sender, std::uint16_t Error);
  void HandleDataSent(TObject* Sender, std::uint16_t Error);
  void HandleConnectionClosed(TObject* Sender, std::uint16_t Error);
  void TakeUnendedPageLine();
  void CheckAnswerComplete(std::uint16_t Error);
  bool BodyExpected() const;
  void HandleDataAvailable(TObject* Sender, std::uint16_t Error);
  void InstallConnectionClosed();

  // Receive side.
  void CallLineHandler();
  void HandleHeaderLine();
  void HandleHeaderField(const std::string& Name, const std::string& Value);
  void HandleHeaderEnd();
  void HandleRelocationHeaderEnd();
  void HandleBodyData();
  void DeliverBufferedBody();
  void ComputeRelocation(const std::string& Value);
  // Routes the request to the address Scheme://Host[:PortText]Path: what is
  // connected to, the request line's target and Host, TLS and the tunnel.
  void RouteTo(const std::string& Scheme, const std::string& Host, const std::string& PortText,
               const std::string& Path);
  TRoute RouteOf(const std::string& Scheme, const std::string& Host, const std::string& PortText,
                 const std::string& Path, const std::string& ProxyText) const;
  std::string RouteKeyOf(const TRoute& Route) const;
  bool Http11() const { return RequestVersion == "1.1"; }
  // Persistent connections.
  bool StartOnKeptConnection();
  void SendOnKeptConnection();
  void KeepConnection();
  void DropKeptConnection();
  bool RetryOnFreshConnection();
  void EndExchange();
  void FlushRecordedRequest();
  // The end of an answer by its framing (HTTP/1.1).
  void DecideFraming();
  bool DeliverBody(std::string_view Piece);
  bool DeliverDecoded(std::string_view Piece);
  bool StartDecoding();
  bool FinishDecoding(bool Closed);
  void TakeChunkedBody();
  void TakeLengthBody();
  void FinishAnswer();
  enum TAfterSkip { asNothing, asRelocation, asAuthRetry };
  bool SkipBodyToKeepConnection(TAfterSkip Then);
  // Digest authorization (see Username).
  bool TakeDigestChallenge();
  void RetryWithDigest();
  std::string AuthorizationValue(const std::string& Method);
  void EndRefusal();
  void FollowOnKeptConnection();
  void StartRelocatedRequest();
  void GoOnWithNextRequest();
  void CloseForNextRequest();
  bool CheckRoute();
  void PrepareSocket();
  void SendRequest();
  void SendTunnelRequest();
  void HandleTunnelAnswer();
  void FailTunnel(int Status, const std::string& Reason);
  bool IsTruncatedEnd(std::uint16_t Error) const;

  TWSocket* FSocket;  // owned through the component owner chain
  HWND FWindowHandle = 0;
  bool FMultiThreaded = false;

  THttpState FState = hsIdle;
  THttpRequest FRequestType = rqNone;
  int FStatusCode = 0;
  std::string FReasonPhrase;
  std::int64_t FContentLength = -1;
  std::string FContentType;
  std::string FLocation;
  std::string FDocumentName;
  std::string FAcceptRanges;
  std::vector<std::string> FResponseHeader;
  std::vector<std::string> FAuthChallenges;
  std::int64_t FReceivedBytes = 0;
  std::int64_t FSentBytes = 0;
  std::int64_t FHeldBytes = 0;  // received bytes counted against MaxDocSize
  bool FConnected = false;

  std::string FConnectHost, FConnectPort;
  std::string FRequestHost, FRequestPath;
  std::string FResolvedAddr;
  int FDoneError = 0;

  char FLineBuffer[HttpLineBufferSize + 1] = {};
  int FLineBufferLen = 0;
  std::string FCurrentLine;
  std::string FCurrentLineEnd;  // the CR LF or LF cut off the current line
  TLineHandler FNextLineHandler = lhNone;
  int FHeaderLineCount = 0;
  int FBodyChunkCount = 0;
  bool FRelocationPending = false;
  int FRelocationCount = 0;
  // The answer was ended on purpose before the connection closed (a status
  // of 400 or more, a relocation not followed): nothing more is missing.
  bool FAnswerEnded = false;

  // The address being fetched: its scheme decides TLS, through a proxy an
  // https address needs a CONNECT tunnel first.
  bool FUseTls = false;
  std::string FTargetHost, FTargetPort, FTargetPath;
  std::string FRouteKey;  // see TRoute
  // Where the request on the connection went: whose Set-Cookie lines come.
  bool FSentTls = false;
  std::string FSentHost, FSentPath;
  enum TTunnelPhase { tnNone, tnAwaitingAnswer, tnHandshake } FTunnelPhase = tnNone;
  bool FTunnelWanted = false;
  std::string FTunnelAnswer;

  // The Digest challenge the requests to FDigestOrigin answer, with the
  // client nonce and the count of requests made with its nonce.
  std::optional<TDigestChallenge> FDigest;
  std::string FDigestOrigin, FDigestCnonce;
  unsigned FDigestCount = 0;
  std::string FDigestNonceSent;  // the nonce this request answered; empty: none
  bool FDigestRetried = false;   // this request was sent again for a challenge
  bool FAuthRetrying = false;    // ... and is on its way there now

  // HTTP/1.1: how the answer ends, and whether its connection stays.
  bool FAnswer11 = false;       // the status line says HTTP/1.1
  bool FCloseAsked = false;     // "Connection: close"
  bool FKeepAliveAsked = false; // "Connection: keep-alive" from an HTTP/1.0 server
  bool FChunked = false;        // "Transfer-Encoding: chunked"
  bool FPersistent = false;     // the connection may stay after this answer
  bool FSkipBody = false;       // the body is read past, not delivered
  TAfterSkip FAfterSkip = asNothing;  // ... and what follows it
  std::int64_t FBodySeen = 0;   // body bytes of this answer, skipped ones too
  std::int64_t FWireBytes = 0;
  std::string FContentEncoding;  // the answer's codings, all its fields joined
  std::unique_ptr<TContentDecoder> FDecoder;
  std::string FConnectionRoute; // the route of the open connection
  TChunkedBody FChunkedBody;
  std::string FKeptRoute;       // the route of the connection kept open; empty: none
  bool FReused = false;         // the request runs on a kept connection
  bool FAnswerSeen = false;     // a byte of the answer came on this connection
  // On a kept connection the request is recorded once its answer begins:
  // one the server never saw (it had closed) is sent again, not archived.
  bool FRecordPending = false;
  std::string FPendingUri, FPendingRequest;

  bool FPostSending = false;
  char FPostChunkBuffer[HttpLineBufferSize + 1] = {};
  std::string FRequestBuffer;
  bool FUnsafeHeader = false;  // a line of FRequestBuffer holds CR, LF or NUL

  // Numbers each request, so that a message posted for an earlier request
  // (an aborted relocation, a late "ready") cannot act on a later one.
  WPARAM FRequestSerial = 0;
};
