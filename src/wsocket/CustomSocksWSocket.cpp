// The SOCKS layer of the socket chain: SOCKS 4, 4A and 5 (with optional
// username/password authentication) in front of an ordinary TCP connection.
// While SocksServer is empty every operation passes straight through.
#include "CustomSocksWSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

#include "AsciiCase.h"
#include "SocksErrors.h"

using namespace winsock;

namespace {

using TSocksFailure = std::pair<std::uint16_t, std::string>;

// A code of the table with its text, and what follows the text.
TSocksFailure Failure(int Code, const std::string& Detail = "") {
  return {static_cast<std::uint16_t>(Code), SocksErrorText(Code).value_or("") + Detail};
}

// Code and text of a failed SOCKS 5 connect reply (reply field 1..255).
TSocksFailure Socks5ReplyError(int Field) {
  // Reply fields 1..8 follow each other in the table, from 20004 on.
  if (Field >= 1 && Field <= 8) return Failure(SocksMethodNotAcceptable + Field);
  return Failure(SocksUnassignedReply, std::to_string(Field));
}

// Code and text of a failed SOCKS 4 reply (any code but 90).
TSocksFailure Socks4ReplyError(int Code) {
  switch (Code) {
    case 91:
      return Failure(SocksRequestRejected);
    case 92:
      return Failure(SocksConnectionRefused);
    case 93:
      return Failure(SocksAuthenticationFailed);
    default:
      return Failure(SocksUnassignedReply, std::to_string(Code));
  }
}

void AppendPort(std::string& out, std::uint16_t port) {
  out += static_cast<char>(port >> 8);
  out += static_cast<char>(port & 0xff);
}

std::string ExceptionText(const std::exception& E) {
  const char* cls = dynamic_cast<const ESocketException*>(&E) ? "ESocketException" : "Exception";
  return std::string(cls) + " " + E.what();
}

}  // namespace

TCustomSocksWSocket::TCustomSocksWSocket(TComponent* AOwner) : TCustomWSocket(AOwner) {
  ResetSocksDefaults();
}

void TCustomSocksWSocket::ResetToDefaults() {
  TCustomWSocket::ResetToDefaults();
  ResetSocksDefaults();
}

void TCustomSocksWSocket::ResetSocksDefaults() {
  FSocksPhase = spIdle;
  FSocksServer.clear();
  FSocksPort.clear();
  FSocksLevel = "5";
  FLeftoverCount = 0;
  FLeftoverPos = 0;
  FReplyCount = 0;
  FSocksServerAssigned = false;
}

// ---- Settings -----------------------------------------------------------------

void TCustomSocksWSocket::SetSocksLevel(const std::string& Value) {
  if (State() != wsClosed) {
    ReportError("Can't change socks level if not closed");
    return;
  }
  if (Value != "4" && Value != "5" && Value != "4A" && Value != "4a") {
    ReportError("Invalid socks level. Must be 4, 4A or 5.");
    return;
  }
  FSocksLevel = Value == "4a" ? "4A" : Value;
}

void TCustomSocksWSocket::SetSocksServer(const std::string& Value) {
  if (State() != wsClosed) {
    ReportError("Can't change socks server if not closed");
    return;
  }
  FSocksServer = TrimBlanks(Value);
  FSocksServerAssigned = !FSocksServer.empty();
  ForgetRemoteAddr();  // the address to connect to changes with it
}

void TCustomSocksWSocket::SetSocksPort(const std::string& Value) {
  if (State() != wsClosed) {
    ReportError("Can't change socks port if not closed");
    return;
  }
  FSocksPort = TrimBlanks(Value);
  ForgetRemotePort();
}

// ---- Connecting ---------------------------------------------------------------

void TCustomSocksWSocket::Connect() {
  if (!FSocksServerAssigned) {
    TCustomWSocket::Connect();
    return;
  }
  if (!EqualIgnoringAsciiCase(Proto(), "tcp")) {
    ReportError("tcp is the only protocol supported thru socks server");
    return;
  }
  try {
    // The core connects to whatever RemoteAddr holds once it counts as
    // resolved: here the SOCKS server.
    if (!RemotePortResolved()) SetRemotePort(WSocketResolvePort(FSocksPort, Proto()));
    if (!RemoteAddrResolved()) SetRemoteAddr(WSocketResolveHost(FSocksServer));
    FDestPortNumber = WSocketResolvePort(Port(), Proto());
    FSocksPhase = spMethods;
    FReplyCount = 0;
  } catch (const std::exception& E) {
    // Nothing half-resolved stays behind.
    ForgetRemotePort();
    ForgetRemoteAddr();
    ReportError(std::string("connect: ") + E.what());
    return;
  }
  TCustomWSocket::Connect();
}

void TCustomSocksWSocket::Listen() {
  if (FSocksServerAssigned) {
    ReportError("listening is not supported thru socks server");
    return;
  }
  TCustomWSocket::Listen();
}

void TCustomSocksWSocket::DoSessionConnected(std::uint16_t Error) {
  if (FSocksPhase != spMethods) {
    DoTransportConnected(Error);
    return;
  }
  DoSocksConnected(Error);
  if (Error != 0) {
    DoTransportConnected(Error);
    return;
  }
  if (IsSocks4()) {
    SendConnectRequest();
  } else {
    SendMethodRequest();
  }
}

void TCustomSocksWSocket::DoSessionClosed(std::uint16_t Error) {
  if (FSocksPhase == spAuth && OnSessionClosed) DoSocksAuthState(socksAuthFailure);
  TCustomWSocket::DoSessionClosed(Error);
}

// The application has no connection yet while the negotiation runs: the
// write notifications that carry the SOCKS requests are not its business.
void TCustomSocksWSocket::DoDataSent(std::uint16_t Error) {
  if (FSocksPhase == spIdle) TCustomWSocket::DoDataSent(Error);
}

// ---- Requests -----------------------------------------------------------------

void TCustomSocksWSocket::SendMethodRequest() {
  FRequestedAuthMethod = FSocksAuthentication == socksAuthenticateUsercode ? 2 : 0;
  SendRequest(std::string{5, 1, static_cast<char>(FRequestedAuthMethod)});
}

void TCustomSocksWSocket::SendAuthRequest() {
  FSocksPhase = spAuth;
  DoSocksAuthState(socksAuthStart);
  if (3 + FSocksUsercode.size() + FSocksPassword.size() > SocksAreaSize) {
    DoSocksAuthState(socksAuthFailure);
    SocksFail(SocksInternalError);
    return;
  }
  std::string request{1, static_cast<char>(FSocksUsercode.size())};
  request += FSocksUsercode;
  request += static_cast<char>(FSocksPassword.size());
  request += FSocksPassword;
  SendRequest(request);
}

void TCustomSocksWSocket::SendConnectRequest() {
  FSocksPhase = spConnect;
  std::string request;
  if (!(IsSocks4() ? BuildSocks4Request(request) : BuildSocks5Request(request))) return;
  if (request.size() > SocksAreaSize) {
    SocksFail(SocksInternalError);
    return;
  }
  SendRequest(request);
}

bool TCustomSocksWSocket::BuildSocks4Request(std::string& Request) {
  const bool is4A = FSocksLevel == "4A";
  std::uint32_t dest = 0;
  if (is4A) {
    dest = winsock::inet_addr("0.0.0.1");
  } else {
    try {
      dest = WSocketResolveHost(Addr());
    } catch (const std::exception& E) {
      DoSocksError(SocksDestinationUnresolved, ExceptionText(E));
      DoClose(true, SocksDestinationUnresolved);
      return false;
    }
  }
  Request = {4, 1};
  AppendPort(Request, FDestPortNumber);
  Request.append(reinterpret_cast<const char*>(&dest), 4);  // network order already
  Request += FSocksUsercode;
  Request += '\0';
  if (is4A) {
    Request += Addr();
    Request += '\0';
  }
  return true;
}

bool TCustomSocksWSocket::BuildSocks5Request(std::string& Request) {
  // The destination always travels as a name; its length must fit one byte.
  if (Addr().size() > 255) {
    SocksFail(SocksInternalError);
    return false;
  }
  Request = {5, 1, 0, 3, static_cast<char>(Addr().size())};
  Request += Addr();
  AppendPort(Request, FDestPortNumber);
  return true;
}

void TCustomSocksWSocket::SendRequest(const std::string& Request) {
  try {
    SendStr(Request);
  } catch (const std::exception&) {
    // The negotiation waits for a reply that will not come until the peer
    // closes; that close fails it.
  }
}

// ---- Replies ------------------------------------------------------------------

bool TCustomSocksWSocket::DoDataAvailable(std::uint16_t Error) {
  if (FSocksPhase == spIdle) return TCustomWSocket::DoDataAvailable(Error);
  if (Error != 0) {
    SocksFail(Error, "data receive error");
    return false;
  }
  switch (FSocksPhase) {
    case spMethods:
      HandleMethodReply();
      return true;
    case spAuth:
      HandleAuthReply();
      return true;
    case spConnect:
      return IsSocks4() ? HandleSocks4Reply() : HandleSocks5Reply();
    default:
      SocksFail(SocksInternalError);
      return false;
  }
}

bool TCustomSocksWSocket::CollectReply(int Limit) {
  const int room = Limit - FReplyCount;
  if (room <= 0) return false;
  // Straight from the platform: the layers above hold nothing of the server's.
  int n = NoteReceived(TCustomWSocket::RecvRaw(FReplyBuffer + FReplyCount, room, 0));
  if (n < 0) {
    if (LastError() != WSAEWOULDBLOCK)
      SocksFail(static_cast<std::uint16_t>(LastError()), "data receive error");
    return false;
  }
  if (n == 0) {
    // The server closed before its reply was complete.
    SocksFail(SocksServerFailure);
    return false;
  }
  FReplyCount += n;
  return true;
}

void TCustomSocksWSocket::HandleMethodReply() {
  if (!CollectReply(SocksAreaSize - 1)) return;
  if (IsSocks4()) {
    SocksFail(SocksLogicError);
    return;
  }
  if (FReplyCount < 2) return;
  FReplyCount = 0;
  if (FReplyBuffer[0] != 5) {
    SocksFail(SocksVersionError);
    return;
  }
  switch (FReplyBuffer[1]) {
    case 0:
      if (FRequestedAuthMethod != 0) DoSocksAuthState(socksAuthNotRequired);
      SendConnectRequest();
      break;
    case 2:
      SendAuthRequest();
      break;
    default:
      SocksFail(SocksMethodNotAcceptable);
  }
}

void TCustomSocksWSocket::HandleAuthReply() {
  if (!CollectReply(SocksAreaSize - 1)) return;
  TSocksFailure failure;
  if (FReplyBuffer[0] != 1) {
    failure = Failure(SocksVersionError);
  } else if (FReplyCount < 2) {
    return;
  } else if (FReplyCount > 2) {
    failure = {SocksLogicError, SocksTooMuchDataText};
  } else if (FReplyBuffer[1] != 0) {
    failure = {SocksAuthenticationFailed, Socks5AuthenticationFailedText};
  }
  if (failure.first != 0) {
    DoSocksAuthState(socksAuthFailure);
    SocksFail(failure.first, failure.second);
    return;
  }
  FReplyCount = 0;
  DoSocksAuthState(socksAuthSuccess);
  SendConnectRequest();
}

bool TCustomSocksWSocket::HandleSocks4Reply() {
  if (!CollectReply(8) || FReplyCount < 8) return true;
  FReplyCount = 0;
  if (FReplyBuffer[0] != 0) {
    SocksFail(SocksVersionError);
    return true;
  }
  if (FReplyBuffer[1] != 90) {
    auto [code, text] = Socks4ReplyError(FReplyBuffer[1]);
    SocksFail(code, text);
    return true;
  }
  return FinishNegotiation(8);
}

bool TCustomSocksWSocket::HandleSocks5Reply() {
  if (!CollectReply(SocksAreaSize - 1)) return true;
  if (FReplyBuffer[0] != 5) {
    SocksFail(SocksVersionError);
    return true;
  }
  if (FReplyCount >= 2 && FReplyBuffer[1] != 0) {
    auto [code, text] = Socks5ReplyError(FReplyBuffer[1]);
    SocksFail(code, text);
    return true;
  }
  if (FReplyCount < 5) return true;
  const int type = FReplyBuffer[3];
  const int length = type == 1 ? 10 : type == 3 ? FReplyBuffer[4] + 7 : 5;
  if (length > SocksAreaSize - 1) {
    // A bound name too long to be collected: the reply cannot be completed.
    SocksFail(SocksInternalError);
    return true;
  }
  if (FReplyCount < length) return true;
  if (type != 1 && type != 3) {
    SocksFail(SocksAddressTypeNotSupported);
    return true;
  }
  return FinishNegotiation(length);
}

bool TCustomSocksWSocket::FinishNegotiation(int ReplyLength) {
  FSocksPhase = spIdle;
  FLeftoverPos = ReplyLength;
  FLeftoverCount = std::max(0, FReplyCount - ReplyLength);
  FReplyCount = 0;
  const SOCKET socket = HSocket();
  DoTransportConnected(0);
  if (HSocket() != socket || State() != wsConnected) return true;  // closed by the handler
  // Through the layers above, so that line mode sees the first data too.
  // Bytes left over from the reply are offered until a pass takes none:
  // the platform knows nothing of them, so no notification would bring
  // them back.
  bool handled;
  int before;
  do {
    before = FLeftoverCount;
    handled = DoDataAvailable(0);
  } while (FLeftoverCount > 0 && FLeftoverCount < before && HSocket() == socket);
  return handled;
}

// Fails the negotiation: the application learns it through OnSocksError,
// OnSessionConnected and OnSessionClosed, each with the code.
void TCustomSocksWSocket::SocksFail(std::uint16_t Error, const std::string& Msg) {
  DoSocksError(Error, Msg);
  DoTransportConnected(Error);
  DoClose(true, Error);
}

void TCustomSocksWSocket::SocksFail(std::uint16_t Error) {
  SocksFail(Error, SocksErrorText(Error).value_or(""));
}

// ---- Leftover data ------------------------------------------------------------

int TCustomSocksWSocket::RecvRaw(void* Buffer, int Size, int Flags) {
  if (FLeftoverCount <= 0) return TCustomWSocket::RecvRaw(Buffer, Size, Flags);
  const int n = std::max(0, std::min(Size, FLeftoverCount));
  std::memcpy(Buffer, FReplyBuffer + FLeftoverPos, static_cast<size_t>(n));
  FLeftoverPos += n;
  FLeftoverCount -= n;
  return n;
}

std::int32_t TCustomSocksWSocket::RcvdCount() {
  if (FLeftoverCount > 0) return FLeftoverCount;
  return TCustomWSocket::RcvdCount();
}

// ---- Events -------------------------------------------------------------------

void TCustomSocksWSocket::DoTransportConnected(std::uint16_t Error) {
  TCustomWSocket::DoSessionConnected(Error);
}

void TCustomSocksWSocket::DoSocksConnected(std::uint16_t Error) {
  if (OnSocksConnected) OnSocksConnected(this, Error);
}

void TCustomSocksWSocket::DoSocksError(std::int32_t Error, const std::string& Msg) {
  if (OnSocksError) OnSocksError(this, Error, Msg);
}

void TCustomSocksWSocket::DoSocksAuthState(TSocksAuthState AuthState) {
  if (OnSocksAuthState) OnSocksAuthState(this, AuthState);
}
