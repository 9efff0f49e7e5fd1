#include "HttpProt.h"

#include <cstring>
#include <ctime>
#include <optional>

#include "AsciiCase.h"
#include "HttpUtils.h"
#include "RequestTarget.h"
#include "SocketErrors.h"
#include "TlsErrors.h"
#include "UrlOrigin.h"
#include "UrlParts.h"
#include "UrlResolve.h"

namespace {

// A whole decimal number, as the header fields need it: optional sign, then
// digits only; nullopt for anything else or a number past 64 bits.
std::optional<std::int64_t> DecimalValue(const std::string& text) {
  size_t at = 0;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  if (at == text.size()) return std::nullopt;
  std::int64_t value = 0;
  for (; at < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9' || value > (INT64_MAX - 9) / 10) return std::nullopt;
    value = value * 10 + (text[at] - '0');
  }
  return negative ? -value : value;
}

// The status code of a status line: the three digits after "HTTP/1.x ".
std::optional<int> StatusCodeOf(const std::string& line) {
  if (line.size() < 12) return std::nullopt;
  int code = 0;
  for (size_t at = 9; at < 12; ++at) {
    if (line[at] < '0' || line[at] > '9') return std::nullopt;
    code = code * 10 + (line[at] - '0');
  }
  return code;
}

std::string ErrorSuffix(int code) { return " (Error #" + std::to_string(code) + ")"; }

const char* const kUnresolvableText = "can't resolve hostname to IP address";

}  // namespace

THttpCli::THttpCli(TComponent* AOwner) : TComponent(AOwner) {
  FWindowHandle = AllocateHWnd([this](TMessage& msg) { WndProc(msg); });
  FSocket = new TWSocket(this);
  FSocket->OnSessionClosed = [this](TObject* s, std::uint16_t e) { HandleConnectionClosed(s, e); };
  FSocket->OnDataAvailable = [this](TObject* s, std::uint16_t e) { HandleDataAvailable(s, e); };
  FSocket->OnSessionConnected = [this](TObject* s, std::uint16_t e) { HandleConnectDone(s, e); };
  FSocket->OnDataSent = [this](TObject* s, std::uint16_t e) { HandleDataSent(s, e); };
  FSocket->OnDnsLookupDone = [this](TObject* s, std::uint16_t e) { HandleDnsLookupDone(s, e); };
}

THttpCli::~THttpCli() {
  BeginDestroy();
  delete FSocket;  // leaves the owner's list itself
  FSocket = nullptr;
  DeallocateHWnd(FWindowHandle);
}

void THttpCli::SetMultiThreaded(bool Value) {
  FMultiThreaded = Value;
  FSocket->SetMultiThreaded(Value);
}

// ---------------------------------------------------------------------------
// Messages and state

void THttpCli::WndProc(TMessage& Msg) {
  switch (Msg.Msg) {
    case WM_HTTP_REQUEST_DONE:
      // The request's type and outcome travel with the message, so a late
      // dispatch still reports the request it belongs to.
      if (OnRequestDone) {
        OnRequestDone(this, static_cast<THttpRequest>(Msg.WParam),
                      static_cast<std::uint16_t>(Msg.LParam));
      }
      break;
    case WM_HTTP_SET_READY:
      if (Msg.WParam == FRequestSerial) SetState(hsIdle);
      break;
    case WM_HTTP_RELOCATE:
      // An aborted relocation stays ended, and never touches a later request.
      // A request whose kept connection was gone comes here too.
      if (Msg.WParam == FRequestSerial && FState == hsAwaitingHeader) StartRelocatedRequest();
      break;
    case WM_HTTP_SEND_KEPT:
      if (Msg.WParam == FRequestSerial && FState == hsStarting) SendOnKeptConnection();
      break;
    default:
      DefWindowProc(Msg);
  }
}

void THttpCli::SetState(THttpState NewState) {
  if (NewState == FState) return;
  FState = NewState;
  if (OnStateChange) OnStateChange(this);
  if (NewState == hsIdle) {
    PostMessage(FWindowHandle, WM_HTTP_REQUEST_DONE, static_cast<WPARAM>(FRequestType),
                static_cast<LPARAM>(FDoneError & 0xFFFF));
  }
}

void THttpCli::SetReady() { PostMessage(FWindowHandle, WM_HTTP_SET_READY, FRequestSerial, 0); }

// ---------------------------------------------------------------------------
// Starting a request

void THttpCli::StartRequest(THttpRequest RqType) {
  if (FState != hsIdle) throw EHttpException(HttpErrorText(kHttpErrorBusy), kHttpErrorBusy);
  if (RqType == rqPost && !PostStream) {
    throw EHttpException(HttpErrorText(kHttpErrorNothingToPost), kHttpErrorNothingToPost);
  }

  ++FRequestSerial;
  // Nothing of an earlier answer's header stays: its memory neither.
  FResponseHeader = {};
  FAuthChallenges = {};
  FReasonPhrase.clear();
  FAcceptRanges.clear();
  FAnswerEnded = false;
  FRequestType = RqType;
  FDoneError = 0;
  InstallConnectionClosed();
  SetState(hsStarting);

  FDocumentName.clear();
  FStatusCode = 0;
  FReceivedBytes = 0;
  FWireBytes = 0;
  FSentBytes = 0;
  FHeldBytes = 0;
  FHeaderLineCount = 0;
  FBodyChunkCount = 0;
  FContentLength = -1;
  FContentType.clear();
  FPostSending = false;
  FRelocationPending = false;
  FLocation = URL;
  // Bytes an earlier response left unread must not become part of this one.
  FLineBufferLen = 0;
  FLineBuffer[0] = 0;

  FRelocationCount = 0;
  FTunnelPhase = tnNone;
  FDigestRetried = FAuthRetrying = false;

  std::string proto, user, pass, host, port, path;
  SplitUrl(URL, proto, user, pass, host, port, path);
  RouteTo(proto, host, port, path);
  if (!user.empty()) Username = user;
  if (!pass.empty()) Password = pass;
  if (!user.empty() || !pass.empty() || (!Username.empty() && AuthOrigin.empty())) {
    AuthOrigin = TargetOrigin();
  }
  FDocumentName = DocumentNameOf(path);
  FReused = false;
  FAnswerSeen = false;
  FRecordPending = false;
  if (StartOnKeptConnection()) return;
  StartLookup();
}

std::string THttpCli::TargetOrigin() const { return OriginOf(FUseTls, FTargetHost, FTargetPort); }

std::string THttpCli::TargetUri() const {
  return RequestUri(FUseTls, FTargetHost, FTargetPort, FTargetPath);
}

void THttpCli::RouteTo(const std::string& Scheme, const std::string& Host,
                       const std::string& PortText, const std::string& Path) {
  const TRoute route = RouteOf(Scheme, Host, PortText, Path, Proxy);
  FUseTls = route.useTls;
  FTunnelWanted = route.tunnel;
  FTargetHost = route.targetHost;
  FTargetPort = route.targetPort;
  FTargetPath = route.targetPath;
  FConnectHost = route.connectHost;
  FConnectPort = route.connectPort;
  FRequestHost = route.requestHost;
  FRequestPath = route.requestPath;
  FRouteKey = RouteKeyOf(route);
}

THttpCli::TRoute THttpCli::RouteOf(const std::string& Scheme, const std::string& Host,
                                   const std::string& PortText, const std::string& Path,
                                   const std::string& ProxyText) const {
  TRoute route;
  route.useTls = EqualIgnoringAsciiCase(Scheme, "https");
  route.targetHost = Host;
  route.targetPort = PortText.empty() ? DefaultPort(route.useTls) : PortText;
  route.targetPath = Path.empty() ? "/" : Path;
  const bool otherPort = route.targetPort != DefaultPort(route.useTls);
  route.requestHost = Http11() && otherPort ? Host + ":" + route.targetPort : Host;
  if (ProxyText.empty()) {
    route.connectHost = Host;
    route.connectPort = route.targetPort;
    route.requestPath = Path;
  } else {
    const TUrlParts proxy = SplitUrl(ProxyText);
    route.connectHost = proxy.Host;
    route.connectPort = proxy.Port.empty() ? ProxyPort : proxy.Port;
    // A proxy cannot see into TLS: an https request goes through a tunnel
    // and names only the path, a plain one names the whole address.
    route.tunnel = route.useTls;
    route.requestPath = route.useTls ? Path
                                     : (Scheme.empty() ? "http" : Scheme) + "://" + Host +
                                           (PortText.empty() ? "" : ":" + PortText) + Path;
  }
  if (route.requestPath.empty()) route.requestPath = "/";
  return route;
}

// Plain http through a proxy names the whole address in each request, so
// any such request can share the connection to the proxy; a tunnel or TLS
// connection belongs to its server, and to the certificate rules it was
// checked by.
std::string THttpCli::TRoute::Key() const {
  std::string key = connectHost + ":" + connectPort;
  if (tunnel) {
    key += " tunnel " + targetHost + ":" + targetPort;
  } else if (useTls) {
    key += " tls " + targetHost;
  }
  return key;
}

std::string THttpCli::RouteKeyOf(const TRoute& Route) const {
  if (!Route.useTls) return Route.Key();
  return Route.Key() + " ca " + SslCAFile + (SslVerifyPeer ? " verified" : " unverified");
}

bool THttpCli::KeepsConnectionFor(const std::string& Url, const std::string& ProxyText) const {
  if (FKeptRoute.empty() || FState != hsIdle || !Http11()) return false;
  const TUrlParts parts = SplitUrl(Url);
  return RouteKeyOf(RouteOf(parts.Proto, parts.Host, parts.Port, parts.Path, ProxyText)) ==
         FKeptRoute;
}

void THttpCli::StartLookup() {
  FReused = false;
  FAnswerSeen = false;
  FResolvedAddr.clear();
  SetState(hsResolving);
  if (FState != hsResolving) return;  // a state-change handler aborted
  if (!CheckRoute()) return;
  try {
    FSocket->DnsLookup(FConnectHost);
  } catch (const std::exception&) {
    // A name the resolver will not even start on is a name that cannot be
    // resolved; the client must not stay in its lookup for ever.
    if (FState == hsResolving) FailBeforeConnect(winsock::WSAHOST_NOT_FOUND, kUnresolvableText);
  }
}

// An address without a host, with a host no name can have, or with a port
// that is no number fails before anything is looked up or sent.
bool THttpCli::CheckRoute() {
  if (!IsSendableHost(FTargetHost) || !IsSendableHost(FConnectHost)) {
    FailBeforeConnect(winsock::WSAHOST_NOT_FOUND, kUnresolvableText);
    return false;
  }
  if (!PortNumber(FTargetPort) || !PortNumber(FConnectPort)) {
    FailBeforeConnect(kHttpErrorBadPort, HttpErrorText(kHttpErrorBadPort));
    return false;
  }
  return true;
}

// Ends a request that has no connection yet; OnRequestDone follows from the
// message loop, as after a failed lookup.
void THttpCli::FailBeforeConnect(std::uint16_t Code, const std::string& Reason) {
  EndWithFailure(Code, Reason);
  HandleConnectionClosed(FSocket, 0);
}

void THttpCli::EndWithFailure(std::uint16_t Code, const std::string& Reason) {
  FDoneError = Code;
  FStatusCode = kHttpFailureStatus;
  FReasonPhrase = Reason;
}

void THttpCli::InstallConnectionClosed() {
  FSocket->OnSessionClosed = [this](TObject* s, std::uint16_t e) { HandleConnectionClosed(s, e); };
}

void THttpCli::HandleDnsLookupDone(TObject*, std::uint16_t Error) {
  // Only the lookup of a running request counts: an aborted request, or a
  // late result after a failed cancel, is ignored.
  if (FState != hsResolving) return;
  if (Error != 0) {
    EndWithFailure(Error, kUnresolvableText);
    HandleConnectionClosed(FSocket, Error);
    return;
  }
  FResolvedAddr = FSocket->DnsResult();
  SetState(hsResolved);
  if (FState != hsResolved) return;  // a state-change handler aborted
  try {
    PrepareSocket();
    FSocket->SetAddr(FResolvedAddr);
    FSocket->SetPort(FConnectPort);
    FSocket->SetProto("tcp");
    FSocket->Connect();
  } catch (const std::exception&) {
    int code = FSocket->LastError();
    EndWithFailure(static_cast<std::uint16_t>(code),
                   "can't connect: " + WSocketErrorText(code) + ErrorSuffix(code));
    FSocket->Close();
    HandleConnectionClosed(FSocket, 0);
  }
}

void THttpCli::PrepareSocket() {
  FSocket->SetSslEnable(FUseTls && !FTunnelWanted);
  FSocket->SetSslServerName(FTargetHost);
  FSocket->SetSslCAFile(SslCAFile);
  FSocket->SetSslVerifyPeer(SslVerifyPeer);
  FTunnelPhase = FTunnelWanted ? tnAwaitingAnswer : tnNone;
}

// Fires for the connection, and, through a tunnel, again when TLS to the
// server has been set up in it.
void THttpCli::HandleConnectDone(TObject*, std::uint16_t Error) {
  if (Error != 0) {
    FTunnelPhase = tnNone;
    EndWithFailure(Error, WSocketErrorText(Error) + ErrorSuffix(Error));
    HandleConnectionClosed(FSocket, Error);
    return;
  }
  FConnected = true;
  if (FTunnelPhase == tnAwaitingAnswer) {
    SendTunnelRequest();
    return;
  }
  FTunnelPhase = tnNone;
  SendRequest();
}

void THttpCli::SendRequest() {
  FConnectionRoute = FRouteKey;
  SetState(hsConnected);
  if (!FReused) DoSessionConnected();
  if (FState != hsConnected) return;  // an event handler aborted
  FNextLineHandler = lhHeader;
  SetState(hsAwaitingHeader);
  if (FState != hsAwaitingHeader) return;
  const std::string version = Http11() ? "1.1" : "1.0";
  try {
    switch (FRequestType) {
      case rqGet:
        SendRequestHeader("GET", version);
        break;
      case rqPost:
        SendRequestHeader("POST", version);
        DoSendBegin();
        FPostSending = true;
        HandleDataSent(FSocket, 0);
        break;
      case rqHead:
        SendRequestHeader("HEAD", version);
        break;
      case rqNone:
        break;
    }
  } catch (const std::exception&) {
    CloseConnection();
  }
}

// ---------------------------------------------------------------------------
// The tunnel through a proxy for https

void THttpCli::SendTunnelRequest() {
  const std::string authority = FTargetHost + ":" + FTargetPort;
  std::string request = "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority + "\r\n";
  if (!ProxyUsername.empty()) {
    request +=
        "Proxy-Authorization: Basic " + EncodeBase64(ProxyUsername + ":" + ProxyPassword) + "\r\n";
  }
  request += "\r\n";
  FTunnelAnswer.clear();
  try {
    FSocket->SendStr(request);
  } catch (const std::exception&) {
    CloseConnection();
  }
}

// The proxy's answer to CONNECT: a status line and header lines up to an
// empty line. Only "200" opens the tunnel; the server says nothing before
// the client's first TLS message, so nothing follows the answer.
void THttpCli::HandleTunnelAnswer() {
  char piece[512];
  int n = FSocket->Receive(piece, sizeof piece);
  if (n <= 0) return;
  FTunnelAnswer.append(piece, static_cast<size_t>(n));
  size_t end = FTunnelAnswer.find("\r\n\r\n");
  if (end == std::string::npos) end = FTunnelAnswer.find("\n\n");
  if (end == std::string::npos) {
    if (FTunnelAnswer.size() > HttpLineBufferSize)
      FailTunnel(kHttpFailureStatus, "Proxy answer to CONNECT too long");
    return;
  }
  std::string statusLine = FTunnelAnswer.substr(0, FTunnelAnswer.find_first_of("\r\n"));
  FResponseHeader.push_back(statusLine);
  int status = 0;
  if (statusLine.starts_with("HTTP/1.") && statusLine.size() >= 12) {
    status = static_cast<int>(DecimalValue(statusLine.substr(9, 3)).value_or(0));
  }
  if (status != 200) {
    const std::string reason = statusLine.size() > 13 ? statusLine.substr(13) : statusLine;
    FailTunnel(status, status >= 400 ? reason : statusLine);
    return;
  }
  FTunnelPhase = tnHandshake;
  FSocket->StartSslHandshake();
}

// Ends the request like a failed connection, with the proxy's status and
// reason (a status below 400 would let Get pass as a success: it becomes 404).
void THttpCli::FailTunnel(int Status, const std::string& Reason) {
  FTunnelPhase = tnNone;
  EndWithFailure(kHttpErrorTunnelRefused,
                 Status >= 400 ? Reason : "Proxy refused the tunnel: " + Reason);
  if (Status >= 400) FStatusCode = Status;
  CloseConnection();
}

void THttpCli::SendRequestHeader(const std::string& Method, const std::string& Version) {
  FRequestBuffer.clear();
  FUnsafeHeader = false;
  DoRequestHeaderBegin();
  FSentTls = FUseTls;
  FSentHost = FTargetHost;
  FSentPath = FTargetPath;
  WriteRequestLine(Method + " " + RequestTargetOf(FRequestPath) + " HTTP/" + Version);
  if (!Sender.empty()) WriteOwnLine("From", Sender);
  if (!Accept.empty()) WriteOwnLine("Accept", Accept);
  if (!AcceptEncoding.empty()) WriteOwnLine("Accept-Encoding", AcceptEncoding);
  if (!Reference.empty()) WriteOwnLine("Referer", Reference);
  if (Method == "POST" && !ContentTypePost.empty()) WriteOwnLine("Content-Type", ContentTypePost);
  if (!Agent.empty()) WriteOwnLine("User-Agent", Agent);
  WriteOwnLine("Host", FRequestHost);
  if (NoCache) WriteOwnLine("Pragma", "no-cache");
  if (Method == "POST")
    WriteRequestLine("Content-Length: " + std::to_string(PostStream ? PostStream->Size() : 0));
  if (ModifiedSince != 0)
    WriteRequestLine("If-Modified-Since: " + FormatHttpDate(ModifiedSince) + " GMT");
  FDigestNonceSent.clear();
  if (!Username.empty() && TargetOrigin() == AuthOrigin) {
    const std::string value = AuthorizationValue(Method);
    if (!value.empty()) WriteRequestLine("Authorization: " + value);
  }
  // Inside a tunnel the request goes to the https server, not the proxy:
  // the proxy's password has no business there.
  if (!Proxy.empty() && !ProxyUsername.empty() && !FTunnelWanted) {
    WriteRequestLine("Proxy-Authorization: Basic " +
                     EncodeBase64(ProxyUsername + ":" + ProxyPassword));
  }
  if (const std::string cookies = CookieLine(); !cookies.empty()) WriteOwnLine("Cookie", cookies);
  for (const std::string& line : ExtraHeaders) WriteRequestLine(line);
  if (!ContentRangeBegin.empty() || !ContentRangeEnd.empty()) {
    WriteRequestLine("Range: bytes=" + ContentRangeBegin + "-" + ContentRangeEnd);
    ContentRangeBegin.clear();
    ContentRangeEnd.clear();
  }
  FAcceptRanges.clear();
  DoRequestHeaderEnd();
  WriteRequestLine("");
  if (FUnsafeHeader) {
    // A line break inside a value would start a header line of the value's
    // choosing: nothing of such a request is sent.
    FRequestBuffer.clear();
    FailResponse(kHttpErrorUnsafeHeader);
    return;
  }
  if (Recorder) {
    FRecordPending = true;
    FPendingUri = TargetUri();
    FPendingRequest = FRequestBuffer;
    if (!FReused) FlushRecordedRequest();
  }
  FSocket->Send(FRequestBuffer.data(), static_cast<int>(FRequestBuffer.size()));
  FRequestBuffer.clear();
}

// One of the client's own lines, unless ExtraHeaders holds its own.
void THttpCli::WriteOwnLine(std::string_view Name, const std::string& Value) {
  for (const std::string& line : ExtraHeaders) {
    if (StartsWithIgnoringAsciiCase(line, Name) && line.size() > Name.size() &&
        line[Name.size()] == ':') {
      return;
    }
  }
  WriteRequestLine(std::string(Name) + ": " + Value);
}

std::string THttpCli::CookieLine() const {
  if (!Cookies) return Cookie;
  const std::string stored =
      Cookies->HeaderFor(FUseTls, FTargetHost, FTargetPath, static_cast<std::int64_t>(std::time(nullptr)));
  if (Cookie.empty() || stored.empty()) return Cookie + stored;
  return Cookie + "; " + stored;
}

void THttpCli::WriteRequestLine(const std::string& Line) {
  std::string s = Line;
  if (OnCommand) OnCommand(this, s);
  if (!IsSafeHeaderText(s)) FUnsafeHeader = true;
  FRequestBuffer += s;
  FRequestBuffer += "\r\n";
}

void THttpCli::HandleDataSent(TObject*, std::uint16_t) {
  if (!FPostSending) return;
  std::int64_t count = PostStream ? PostStream->Read(FPostChunkBuffer, sizeof FPostChunkBuffer) : 0;
  if (count <= 0) {
    FPostSending = false;
    DoSendEnd();
    return;
  }
  FSentBytes += count;
  DoSendData(FPostChunkBuffer, static_cast<int>(count));
  FSocket->Send(FPostChunkBuffer, static_cast<int>(count));
}

void THttpCli::HandleConnectionClosed(TObject* Sender, std::uint16_t Error) {
  if (RetryOnFreshConnection()) return;
  if (FAfterSkip != asNothing && FDoneError == 0) {
    // The body of a relocation or refusal is of no use: its end does not matter.
    FAfterSkip = asNothing;
    FSkipBody = false;
    FLineBufferLen = 0;
    FLineBuffer[0] = 0;
    HandleRelocationClosed(Sender, Error);
    return;
  }
  if (FDoneError == 0) TakeUnendedPageLine();
  if (FDoneError == 0) CheckAnswerComplete(Error);
  // A body that ended with its connection ends its codings too.
  if (FDoneError == 0 && FState == hsReceivingBody) FinishDecoding(true);
  FConnected = false;
  EndExchange();
}

// The request has ended, its connection closed or kept for the next.
void THttpCli::EndExchange() {
  FTunnelPhase = tnNone;
  if (Recorder) {
    FlushRecordedRequest();
    Recorder->ExchangeEnded(*this, static_cast<std::uint16_t>(FDoneError), FReasonPhrase);
  }
  if (FBodyChunkCount > 0) DoDocEnd();
  SetReady();
}

void THttpCli::FlushRecordedRequest() {
  if (!FRecordPending) return;
  FRecordPending = false;
  Recorder->RequestSent(*this, FPendingUri, FResolvedAddr, FPendingRequest);
  FPendingRequest.clear();
}

// A header-less page of one line without a line end is complete only at the
// close: its bytes are the page.
void THttpCli::TakeUnendedPageLine() {
  if (FState != hsAwaitingHeader || FLineBufferLen == 0) return;
  const std::string_view rest(FLineBuffer, static_cast<size_t>(FLineBufferLen));
  if (!StartsWithIgnoringAsciiCase(rest, "<HTML>")) return;
  FCurrentLine.assign(rest);
  FCurrentLineEnd.clear();
  FLineBufferLen = 0;
  FLineBuffer[0] = 0;
  HandleHeaderLine();
}

// The connection closed while the request still ran: what was missing of
// the answer makes it a failure. A body without a length ends with the
// connection; a header-less page ("<HTML>" first) needs no status line.
void THttpCli::CheckAnswerComplete(std::uint16_t Error) {
  if (FTunnelPhase == tnAwaitingAnswer) {
    EndWithFailure(kHttpErrorTunnelRefused,
                   "Proxy closed the connection without answering CONNECT");
    return;
  }
  if (IsTruncatedEnd(Error)) {
    EndWithFailure(Error, WSocketErrorText(Error) + ErrorSuffix(Error));
    return;
  }
  // A refusal's body read past is not missed either.
  if (FAnswerEnded || FSkipBody || FState == hsIdle || FState == hsAborting) return;
  std::uint16_t code = 0;
  if (FState != hsReceivingBody && FStatusCode == 0) {
    code = kHttpErrorNoStatus;
  } else if (BodyExpected() && FContentLength >= 0 && FBodySeen < FContentLength) {
    code = kHttpErrorShortBody;
  } else if (FChunked && FState == hsReceivingBody) {
    code = kHttpErrorShortBody;  // the last chunk never came
  }
  if (code == 0) return;
  // A reset says more than "missing": its code is the one reported.
  if (Error != 0) {
    EndWithFailure(Error, WSocketErrorText(Error) + ErrorSuffix(Error));
  } else {
    EndWithFailure(code, HttpErrorText(code));
  }
}

// HEAD answers and the statuses 1xx, 204 and 304 never carry a body,
// whatever their Content-Length says.
bool THttpCli::BodyExpected() const {
  if (FRequestType == rqHead) return false;
  return FStatusCode >= 200 && FStatusCode != 204 && FStatusCode != 304;
}

// A TLS stream that ended badly: a fatal error, or a close without the
// close alert before the body was complete. A body without a length ends
// with the connection, so there a missing alert cannot be told from the end.
bool THttpCli::IsTruncatedEnd(std::uint16_t Error) const {
  if (!IsTlsErrorCode(Error)) return false;
  if (Error != TlsClosedWithoutAlert || FState != hsReceivingBody) return true;
  if (FChunked) return !FAnswerEnded;
  return FContentLength >= 0 && FBodySeen < FContentLength;
}

void THttpCli::CloseConnection() {
  FSocket->Close();
  FConnected = false;
}

// ---------------------------------------------------------------------------
// Waiting and aborting

void THttpCli::Get() {
  StartRequest(rqGet);
  WaitForIdle();
  if (FStatusCode >= 400)
    throw EHttpException(FReasonPhrase, static_cast<std::uint16_t>(FStatusCode));
}

// Pumps messages until the request has ended. Between passes it sleeps until
// the next message, socket event or window event instead of spinning, so a
// silent server costs no processor time.
void THttpCli::WaitForIdle() {
  while (FState != hsIdle) {
    if (FMultiThreaded) {
      FSocket->PumpPendingMessages();
    } else {
      ProcessMessages();
    }
    if (FState == hsIdle) break;
    WaitForMessages(100, !FMultiThreaded);
  }
  // The request-done message was posted when the state became idle: one more
  // pass delivers it, so OnRequestDone always fires before Get returns.
  if (FMultiThreaded) {
    FSocket->PumpPendingMessages();
  } else {
    ProcessMessages();
  }
}

void THttpCli::Abort() {
  if (FState == hsIdle) {
    if (FSocket->State() != wsClosed) FSocket->Close();
    return;
  }
  bool lookupRunning = FState == hsResolving;
  SetState(hsAborting);
  if (lookupRunning) {
    try {
      FSocket->CancelDnsLookup();
    } catch (const std::exception&) {
      // A lookup that cannot be withdrawn reports later, to a request no
      // longer resolving: HandleDnsLookupDone ignores it.
    }
  }
  EndWithFailure(kHttpErrorAborted, HttpErrorText(kHttpErrorAborted));
  if (lookupRunning) {
    HandleConnectionClosed(FSocket, 0);
  } else {
    FSocket->Close();
  }
  SetState(hsIdle);
}

// ---------------------------------------------------------------------------
// Receiving

// Ends the request as failed (see kHttpErrorBusy): closing the connection
// runs HandleConnectionClosed, and nothing more of the response is handled.
void THttpCli::FailResponse(std::uint16_t Code) {
  EndWithFailure(Code, HttpErrorText(Code));
  FSocket->Close();
}

// Counts bytes the caller will hold; past MaxDocSize the request fails.
bool THttpCli::HoldBytes(size_t Count) {
  FHeldBytes += static_cast<std::int64_t>(Count);
  if (MaxDocSize <= 0 || FHeldBytes <= MaxDocSize) return true;
  FailResponse(kHttpErrorDocTooLarge);
  return false;
}

bool THttpCli::HoldHeaderLine(size_t Length) { return HoldBytes(Length + HttpStoredLineCost); }

void THttpCli::HandleDataAvailable(TObject*, std::uint16_t) {
  if (!FKeptRoute.empty()) {
    // Bytes on a connection with no request on it: nothing that comes
    // there can be trusted to belong to the next answer.
    DropKeptConnection();
    return;
  }
  if (FTunnelPhase == tnAwaitingAnswer) {
    HandleTunnelAnswer();
    return;
  }
  int free = HttpLineBufferSize - FLineBufferLen;
  if (free <= 0) {
    // A header line longer than the buffer: the response cannot be read.
    FailResponse(kHttpErrorLineTooLong);
    return;
  }
  int n = FSocket->Receive(FLineBuffer + FLineBufferLen, free);
  if (FRequestType == rqNone || n <= 0) return;
  FAnswerSeen = true;
  FWireBytes += n;
  if (Recorder) {
    FlushRecordedRequest();
    Recorder->AnswerData(*this, std::string_view(FLineBuffer + FLineBufferLen, n));
  }
  FLineBuffer[FLineBufferLen + n] = 0;
  FLineBufferLen += n;

  if (FState == hsReceivingBody) {
    FCurrentLine.assign(FLineBuffer, static_cast<size_t>(FLineBufferLen));
    FLineBufferLen = 0;
    CallLineHandler();
    return;
  }
  while (FLineBufferLen > 0) {
    // The buffer is searched as a zero-terminated text.
    size_t textLength = std::strlen(FLineBuffer);
    const char* lf = static_cast<const char*>(std::memchr(FLineBuffer, '\n', textLength));
    if (!lf || lf - FLineBuffer >= FLineBufferLen) break;
    int p = static_cast<int>(lf - FLineBuffer) + 1;
    int length = (p > 1 && FLineBuffer[p - 2] == '\r') ? p - 2 : p - 1;
    // Lines of a header-less page keep their line ends, so that the page
    // reaches the stream as it was sent.
    if (FState == hsReceivingBody) length = p;
    FCurrentLine.assign(FLineBuffer, static_cast<size_t>(length));
    FCurrentLineEnd.assign(FLineBuffer + length, static_cast<size_t>(p - length));
    std::memmove(FLineBuffer, FLineBuffer + p, static_cast<size_t>(FLineBufferLen - p + 1));
    FLineBufferLen -= p;
    if (FState == hsAwaitingHeader || FState == hsReceivingBody) CallLineHandler();
    // Failed or aborted, or the answer ended with its connection kept: the
    // rest is not this request's.
    if (FDoneError != 0 || !FKeptRoute.empty()) break;
  }
}

void THttpCli::CallLineHandler() {
  switch (FNextLineHandler) {
    case lhHeader:
      HandleHeaderLine();
      break;
    case lhBody:
      HandleBodyData();
      break;
    case lhNone:
      SetReady();
      break;
  }
}

void THttpCli::HandleHeaderLine() {
  if (FHeaderLineCount == 0) {
    // Each answer (a relocation's too) brings its own length and framing.
    FContentLength = -1;
    FAnswer11 = FCloseAsked = FKeepAliveAsked = FChunked = FPersistent = false;
    FSkipBody = false;
    FAfterSkip = asNothing;
    FBodySeen = 0;
    FContentEncoding.clear();
    FDecoder.reset();
    FChunkedBody = TChunkedBody();
    DoHeaderBegin();
  }
  ++FHeaderLineCount;

  if (StartsWithIgnoringAsciiCase(FCurrentLine, "<HTML>")) {
    // A response without a header: the page starts here.
    if (FContentType.empty()) FContentType = "text/html";
    SetState(hsReceivingBody);
    FNextLineHandler = lhBody;
    DoHeaderEnd();
    FCurrentLine += FCurrentLineEnd;
    HandleBodyData();
    DeliverBufferedBody();
    return;
  }
  if (FCurrentLine.empty()) {
    HandleHeaderEnd();
    return;
  }
  if (!HoldHeaderLine(FCurrentLine.size())) return;
  FResponseHeader.push_back(FCurrentLine);

  std::string version = FCurrentLine.substr(0, 8);
  if (version == "HTTP/1.0" || version == "HTTP/1.1") {
    std::optional<int> code = StatusCodeOf(FCurrentLine);
    if (!code) {
      // Without a status nobody can tell what the rest of the response is.
      FailResponse(kHttpErrorBadStatus);
      return;
    }
    FStatusCode = *code;
    FReasonPhrase = FCurrentLine.size() > 13 ? FCurrentLine.substr(13) : "";
    FAnswer11 = version == "HTTP/1.1";
  } else if (size_t colon = FCurrentLine.find(':'); colon != std::string::npos) {
    size_t valueStart = colon + 1;
    while (valueStart < FCurrentLine.size() - 1 && FCurrentLine[valueStart] == ' ') ++valueStart;
    HandleHeaderField(LowerAscii(FCurrentLine.substr(0, colon)), FCurrentLine.substr(valueStart));
  }
  if (OnHeaderData) OnHeaderData(this);
  if (FDoneError == 0 && FStatusCode >= 400 && !Http11()) {
    FAnswerEnded = true;
    FSocket->Close();
  }
}

void THttpCli::HandleHeaderField(const std::string& Name, const std::string& Value) {
  if (Name == "location") {
    FRelocationPending = true;
    ComputeRelocation(Value);
  } else if (Name == "content-length") {
    // The length is only recorded; an unreadable one leaves it unknown.
    std::optional<std::int64_t> length = DecimalValue(Value);
    if (length && *length >= 0) FContentLength = *length;
  } else if (Name == "accept-ranges") {
    FAcceptRanges = Value;
  } else if (Name == "content-type") {
    FContentType = LowerAscii(Value);
  } else if (Name == "www-authenticate") {
    if (HoldHeaderLine(Value.size())) FAuthChallenges.push_back(Value);
  } else if (Name == "set-cookie") {
    bool accept = true;
    DoCookie(Value, accept);
    if (accept && Cookies) {
      Cookies->Store(FSentTls, FSentHost, FSentPath, Value,
                     static_cast<std::int64_t>(std::time(nullptr)));
    }
  } else if (Name == "transfer-encoding") {
    // Chunked is always the last coding applied to the body.
    const std::vector<std::string_view> codings = HeaderListItems(Value);
    FChunked = !codings.empty() && EqualIgnoringAsciiCase(codings.back(), "chunked");
  } else if (Name == "content-encoding") {
    FContentEncoding += (FContentEncoding.empty() ? "" : ", ") + Value;
  } else if (Name == "connection") {
    FCloseAsked = FCloseAsked || HasHeaderToken(Value, "close");
    FKeepAliveAsked = FKeepAliveAsked || HasHeaderToken(Value, "keep-alive");
  }
}

void THttpCli::HandleHeaderEnd() {
  if (FStatusCode == 0) {
    // Header lines without a status line: nobody can tell what follows.
    FailResponse(kHttpErrorNoStatus);
    return;
  }
  if (Http11() && FStatusCode >= 400) {
    if (FStatusCode == 401 && TakeDigestChallenge()) {
      RetryWithDigest();
    } else {
      EndRefusal();
    }
    return;
  }
  if (FRelocationPending) {
    HandleRelocationHeaderEnd();
    return;
  }
  size_t dot = FDocumentName.rfind('.');
  if (dot != std::string::npos &&
      EqualIgnoringAsciiCase(std::string_view(FDocumentName).substr(dot), ".exe") &&
      FContentType == "text/html") {
    ReplaceExtension(FDocumentName, "htm");
  }
  DecideFraming();
  if (!StartDecoding()) return;
  SetState(hsReceivingBody);
  FNextLineHandler = lhBody;
  DoHeaderEnd();
  if (FState != hsReceivingBody || FDoneError != 0) return;  // a handler aborted
  if (Http11() && !FChunked && (!BodyExpected() || FContentLength == 0)) {
    FinishAnswer();
    return;
  }
  DeliverBufferedBody();
}

// HTTP/1.1: an answer ends by its last chunk or its length, and its
// connection stays unless either side says otherwise; an answer that only
// its close can end ends with the connection, as under HTTP/1.0.
void THttpCli::DecideFraming() {
  if (!Http11()) {
    // The length is recorded only: the close ends the answer.
    FChunked = false;
    FPersistent = false;
    return;
  }
  if (!BodyExpected()) FChunked = false;
  if (FChunked) FContentLength = -1;
  const bool framed = FChunked || FContentLength >= 0 || !BodyExpected();
  FPersistent = framed && !FCloseAsked && (FAnswer11 || FKeepAliveAsked);
}

// Bytes that came in one piece with the header's end are the body's first.
void THttpCli::DeliverBufferedBody() {
  if (FLineBufferLen == 0 || FDoneError != 0 || FState != hsReceivingBody) return;
  FCurrentLine.assign(FLineBuffer, static_cast<size_t>(FLineBufferLen));
  FLineBufferLen = 0;
  FLineBuffer[0] = 0;
  HandleBodyData();
}

// FCurrentLine holds the body's next bytes as they came.
void THttpCli::HandleBodyData() {
  if (FChunked) {
    TakeChunkedBody();
  } else if (Http11() && FContentLength >= 0) {
    TakeLengthBody();
  } else {
    DeliverBody(FCurrentLine);
  }
}

// False when the request failed or was aborted meanwhile.
bool THttpCli::DeliverBody(std::string_view Piece) {
  FBodySeen += static_cast<std::int64_t>(Piece.size());
  if (FSkipBody) {
    if (FBodySeen <= HttpMaxSkippedBody) return true;
    FPersistent = false;  // an endless chunked refusal: the close ends it
    FAnswerEnded = true;
    FSocket->Close();
    return false;
  }
  if (!FDecoder) return DeliverDecoded(Piece);
  const bool fed = FDecoder->Feed(Piece.data(), Piece.size(), [this](const char* data, std::size_t size) {
    return DeliverDecoded(std::string_view(data, size));
  });
  if (!fed && FDoneError == 0 && FState == hsReceivingBody) FailResponse(kHttpErrorBadCoding);
  return FDoneError == 0 && FState == hsReceivingBody;
}

// The body's bytes as the caller takes them.
bool THttpCli::DeliverDecoded(std::string_view Piece) {
  if (!HoldBytes(Piece.size())) return false;
  if (FBodyChunkCount == 0) DoDocBegin();
  ++FBodyChunkCount;
  FReceivedBytes += static_cast<std::int64_t>(Piece.size());
  if (ReceiveStream) ReceiveStream->WriteBuffer(Piece.data(), static_cast<std::int64_t>(Piece.size()));
  DoDocData(Piece.data(), static_cast<int>(Piece.size()));
  return FDoneError == 0 && FState == hsReceivingBody;
}

void THttpCli::TakeChunkedBody() {
  std::size_t used = 0;
  const TChunkedBody::TStep step = FChunkedBody.Take(
      FCurrentLine, used, [this](std::string_view data) { return DeliverBody(data); });
  if (step == TChunkedBody::TStep::Bad) {
    FailResponse(kHttpErrorBadChunk);
  } else if (step == TChunkedBody::TStep::End) {
    // Bytes after the last chunk would be an answer nobody asked for.
    if (used < FCurrentLine.size()) FPersistent = false;
    FinishAnswer();
  }
}

void THttpCli::TakeLengthBody() {
  const std::int64_t left = FContentLength - FBodySeen;
  std::string_view piece(FCurrentLine);
  if (static_cast<std::int64_t>(piece.size()) > left) {
    piece = piece.substr(0, static_cast<std::size_t>(left));
    FPersistent = false;
  }
  if (!piece.empty() && !DeliverBody(piece)) return;
  if (FBodySeen >= FContentLength) FinishAnswer();
}

// The answer is whole: its connection stays for the next request when both
// sides allow it, else it closes (which ends the request as at a close).
void THttpCli::FinishAnswer() {
  if (FAfterSkip != asNothing) {
    FollowOnKeptConnection();
    return;
  }
  if (!FinishDecoding(false)) return;
  FAnswerEnded = true;
  if (!FPersistent || FLineBufferLen > 0) {
    FSocket->Close();
    return;
  }
  KeepConnection();
  EndExchange();
}

// The codings are undone when the request asked for them (AcceptEncoding)
// and the answer has a body; one the client cannot undo fails the request.
bool THttpCli::StartDecoding() {
  FDecoder.reset();
  if (AcceptEncoding.empty() || FContentEncoding.empty() || !BodyExpected()) return true;
  std::string error;
  FDecoder = TContentDecoder::For(FContentEncoding, error);
  if (error.empty()) return true;
  FailResponse(kHttpErrorBadCoding);
  return false;
}

// The body has ended: what the codings still hold is delivered, and a body
// cut inside its compressed data fails the request.
bool THttpCli::FinishDecoding(bool Closed) {
  std::unique_ptr<TContentDecoder> decoder = std::move(FDecoder);
  if (!decoder || FSkipBody) return true;
  const bool whole = decoder->Finish([this](const char* data, std::size_t size) {
    return DeliverDecoded(std::string_view(data, size));
  });
  if (whole || FDoneError != 0) return whole && FDoneError == 0;
  if (Closed) {
    EndWithFailure(kHttpErrorBadCoding, HttpErrorText(kHttpErrorBadCoding));
  } else {
    FailResponse(kHttpErrorBadCoding);
  }
  return false;
}

// ---------------------------------------------------------------------------
// Persistent connections

// HTTP/1.1: the body of a refusal or relocation, when its end is known and
// it is small, is read past instead of closing the connection; false when
// the connection must close instead.
bool THttpCli::SkipBodyToKeepConnection(TAfterSkip Then) {
  DecideFraming();
  if (!FPersistent || (!FChunked && FContentLength > HttpMaxSkippedBody)) return false;
  FSkipBody = true;
  FAfterSkip = Then;
  SetState(hsReceivingBody);
  if (FState != hsReceivingBody) return true;  // a handler aborted
  FNextLineHandler = lhBody;
  if (!FChunked && (!BodyExpected() || FContentLength == 0)) {
    FinishAnswer();
  } else {
    DeliverBufferedBody();
  }
  return true;
}

// HTTP/1.1: a status of 400 or more ends the request as under HTTP/1.0,
// with no body; only its connection may stay.
void THttpCli::EndRefusal() {
  if (SkipBodyToKeepConnection(asNothing)) return;
  FAnswerEnded = true;
  FSocket->Close();
}

// A relocation whose body was read past: the request goes on at the new
// address, over this connection when the route stays the same.
void THttpCli::FollowOnKeptConnection() {
  FAfterSkip = asNothing;
  FSkipBody = false;
  if (!FPersistent || FLineBufferLen > 0) {
    CloseForNextRequest();
    return;
  }
  KeepConnection();
  FNextLineHandler = lhHeader;
  SetState(hsAwaitingHeader);
  if (FState != hsAwaitingHeader) return;  // a handler aborted
  GoOnWithNextRequest();
}

void THttpCli::StartRelocatedRequest() {
  FAuthRetrying = false;
  if (!FKeptRoute.empty() && FKeptRoute == FRouteKey && FSocket->State() == wsConnected) {
    FKeptRoute.clear();
    InstallConnectionClosed();
    FReused = true;
    FAnswerSeen = false;
    SendRequest();
    return;
  }
  if (!FKeptRoute.empty()) DropKeptConnection();
  StartLookup();
}

void THttpCli::KeepConnection() {
  FKeptRoute = FConnectionRoute;
  FSocket->OnSessionClosed = [this](TObject*, std::uint16_t) {
    FKeptRoute.clear();
    FConnected = false;
  };
}

// Closes a kept connection without ending anything: no request runs on it.
void THttpCli::DropKeptConnection() {
  FKeptRoute.clear();
  FSocket->OnSessionClosed = nullptr;
  FSocket->Close();
  FConnected = false;
  InstallConnectionClosed();
}

// A request on the route of the connection kept open goes out there, from
// the message loop; one on another route closes it first.
bool THttpCli::StartOnKeptConnection() {
  if (FKeptRoute.empty()) return false;
  if (!Http11() || FKeptRoute != FRouteKey || FSocket->State() != wsConnected) {
    DropKeptConnection();
    return false;
  }
  FReused = true;
  PostMessage(FWindowHandle, WM_HTTP_SEND_KEPT, FRequestSerial, 0);
  return true;
}

void THttpCli::SendOnKeptConnection() {
  const bool open = !FKeptRoute.empty() && FSocket->State() == wsConnected;
  FKeptRoute.clear();
  if (!open) {
    StartLookup();
    return;
  }
  SendRequest();
}

// Servers close idle connections when they like: a kept connection that
// closes before any byte of the answer came is no failure of a GET, which
// is sent once more on a fresh connection (from the message loop).
bool THttpCli::RetryOnFreshConnection() {
  if (!FReused || FAnswerSeen || FDoneError != 0 || FRequestType != rqGet) return false;
  if (FState != hsAwaitingHeader) return false;
  FReused = false;
  FRecordPending = false;
  FPendingRequest.clear();
  FConnected = false;
  FLineBufferLen = 0;
  FLineBuffer[0] = 0;
  FHeaderLineCount = 0;
  PostMessage(FWindowHandle, WM_HTTP_RELOCATE, FRequestSerial, 0);
  return true;
}

// ---------------------------------------------------------------------------
// Relocation

// The new address is the Location value resolved against the address being
// fetched, as a browser resolves it; the request goes there next, directly
// or through the proxy, over TLS when its scheme is https. Location holds it
// with ":port" only when the port is not the scheme's default.
void THttpCli::ComputeRelocation(const std::string& Value) {
  const TUrlParts target =
      RelocationTarget(FetchedAddress(FUseTls, FTargetHost, FTargetPort, FTargetPath), Value);
  RouteTo(target.Proto, target.Host, target.Port, target.Path);
  FLocation = RelocatedAddress(target);
}

// The header of a relocation has ended: the old connection is closed and
// the request goes on at the new address, unless OnRelocate said otherwise.
void THttpCli::HandleRelocationHeaderEnd() {
  bool follow = true;
  if (OnRelocate) OnRelocate(this, follow);
  if (FState != hsAwaitingHeader) return;  // a handler aborted
  FRelocationPending = false;
  DoHeaderEnd();
  if (!follow) {
    // The relocation's answer is the request's: done, without a body.
    FAnswerEnded = true;
    FSocket->Close();
    return;
  }
  FHeaderLineCount = 0;
  FBodyChunkCount = 0;
  if (++FRelocationCount > HttpMaxRelocations) {
    // A server that keeps relocating would keep the client busy forever.
    FailResponse(kHttpErrorTooManyRelocations);
    return;
  }
  if (SkipBodyToKeepConnection(asRelocation)) return;
  CloseForNextRequest();
}

void THttpCli::HandleRelocationClosed(TObject*, std::uint16_t) {
  FConnected = false;
  if (FState == hsReceivingBody) {
    // After a relocation's body read past (HTTP/1.1), a new answer is awaited.
    FNextLineHandler = lhHeader;
    SetState(hsAwaitingHeader);
    if (FState != hsAwaitingHeader) return;  // a handler aborted
  }
  InstallConnectionClosed();
  GoOnWithNextRequest();
}

// The answer that relocated (or asked for credentials) is done with: its
// exchange is recorded and the request goes on from the message loop.
void THttpCli::GoOnWithNextRequest() {
  if (Recorder) {
    FlushRecordedRequest();
    Recorder->ExchangeEnded(*this, 0, "");
  }
  if (OnLocationChange && !FAuthRetrying) OnLocationChange(this);
  PostMessage(FWindowHandle, WM_HTTP_RELOCATE, FRequestSerial, 0);
}

// The connection closes; then the request goes on (HandleRelocationClosed).
void THttpCli::CloseForNextRequest() {
  FLineBufferLen = 0;
  FLineBuffer[0] = 0;
  FSocket->OnSessionClosed = [this](TObject* s, std::uint16_t e) { HandleRelocationClosed(s, e); };
  FSocket->Close();
}

// ---------------------------------------------------------------------------
// Digest authorization

// A 401 whose Digest challenge the credentials can answer, once per request:
// the challenge is kept for the origin. The request answered the same nonce
// already and was refused without "stale": the credentials are wrong.
bool THttpCli::TakeDigestChallenge() {
  if (FDigestRetried || Username.empty() || TargetOrigin() != AuthOrigin) return false;
  std::optional<TDigestChallenge> best;
  auto strength = [](TDigestAlgorithm a) {
    return a == TDigestAlgorithm::Md5 ? 0 : a == TDigestAlgorithm::Sha256 ? 1 : 2;
  };
  for (const std::string& field : FAuthChallenges) {
    for (const TAuthChallenge& challenge : ParseAuthChallenges(field)) {
      std::optional<TDigestChallenge> digest = DigestChallengeOf(challenge);
      if (digest && (!best || strength(digest->Algorithm) > strength(best->Algorithm))) {
        best = std::move(digest);
      }
    }
  }
  if (!best || (best->Nonce == FDigestNonceSent && !best->Stale)) return false;
  try {
    FDigestCnonce = NewCnonce();
  } catch (const std::runtime_error&) {
    return false;
  }
  FDigest = std::move(best);
  FDigestOrigin = AuthOrigin;
  FDigestCount = 0;
  FDigestRetried = true;
  return true;
}

// The refusal ends like a relocation to the same address: its body read
// past on a connection that stays, or the connection closed; then the
// request goes out again.
void THttpCli::RetryWithDigest() {
  FAuthRetrying = true;
  FAuthChallenges = {};
  FHeaderLineCount = 0;
  FBodyChunkCount = 0;
  if (SkipBodyToKeepConnection(asAuthRetry)) return;
  CloseForNextRequest();
}

// Digest for the origin of the challenge kept, else Basic; empty when no
// line may go (a Digest answer that cannot be made: never Basic instead).
std::string THttpCli::AuthorizationValue(const std::string& Method) {
  if (!FDigest || FDigestOrigin != AuthOrigin) {
    return "Basic " + EncodeBase64(Username + ":" + Password);
  }
  FDigestNonceSent = FDigest->Nonce;
  return DigestAuthorization(*FDigest, Username, Password, Method, RequestTargetOf(FRequestPath),
                             FDigestCnonce, ++FDigestCount);
}

// ---------------------------------------------------------------------------
// Events

void THttpCli::DoCookie(const std::string& Data, bool& Accept) {
  if (OnCookie) OnCookie(this, Data, Accept);
}
void THttpCli::DoSessionConnected() {
  if (OnSessionConnected) OnSessionConnected(this);
}
void THttpCli::DoRequestHeaderBegin() {
  if (OnRequestHeaderBegin) OnRequestHeaderBegin(this);
}
void THttpCli::DoRequestHeaderEnd() {
  if (OnRequestHeaderEnd) OnRequestHeaderEnd(this);
}
void THttpCli::DoHeaderBegin() {
  if (OnHeaderBegin) OnHeaderBegin(this);
}
void THttpCli::DoHeaderEnd() {
  if (OnHeaderEnd) OnHeaderEnd(this);
}
void THttpCli::DoDocBegin() {
  if (OnDocBegin) OnDocBegin(this);
}
void THttpCli::DoDocData(const void* Buffer, int Len) {
  if (OnDocData) OnDocData(this, Buffer, Len);
}
void THttpCli::DoDocEnd() {
  if (OnDocEnd) OnDocEnd(this);
}
void THttpCli::DoSendBegin() {
  if (OnSendBegin) OnSendBegin(this);
}
void THttpCli::DoSendData(const void* Buffer, int Len) {
  if (OnSendData) OnSendData(this, Buffer, Len);
}
void THttpCli::DoSendEnd() {
  if (OnSendEnd) OnSendEnd(this);
}
