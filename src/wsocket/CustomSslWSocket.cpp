// The TLS layer of the socket chain, on OpenSSL. The library reads and
// writes through a BIO of our own: reading takes bytes from the layer below
// (the SOCKS layer's leftover first, then the platform), writing appends the
// encrypted bytes to the component's send queue. So the handshake and the
// data run entirely inside the component's notifications, never blocking.
#include "CustomSslWSocket.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "TlsErrors.h"

using namespace winsock;

namespace {

BIO_METHOD* SocketBioMethod(int (*write)(BIO*, const char*, int), int (*read)(BIO*, char*, int),
                            long (*ctrl)(BIO*, int, long, void*)) {
  static BIO_METHOD* method = [&] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tirasel socket");
    BIO_meth_set_write(m, write);
    BIO_meth_set_read(m, read);
    BIO_meth_set_ctrl(m, ctrl);
    return m;
  }();
  return method;
}

bool IsAddressLiteral(const std::string& host) {
  in_addr v4{};
  return ::inet_pton(AF_INET, host.c_str(), &v4) == 1;
}

}  // namespace

TCustomSslWSocket::TCustomSslWSocket(TComponent* AOwner) : TCustomSocksWSocket(AOwner) {}

TCustomSslWSocket::~TCustomSslWSocket() {
  // The core's destructor closes the connection later, without this layer:
  // the connection's TLS state goes first.
  FreeConnection();
  FreeContext();
}

// ---- Settings -----------------------------------------------------------------

void TCustomSslWSocket::SetSslEnable(bool Value) {
  if (State() != wsClosed) {
    ReportError("Can't change SslEnable if not closed");
    return;
  }
  FSslEnable = Value;
}

void TCustomSslWSocket::SetSslServerName(const std::string& Value) {
  if (State() != wsClosed) {
    ReportError("Can't change SslServerName if not closed");
    return;
  }
  FSslServerName = Value;
}

void TCustomSslWSocket::SetSslCAFile(const std::string& Value) {
  if (State() != wsClosed) {
    ReportError("Can't change SslCAFile if not closed");
    return;
  }
  if (Value != FSslCAFile) FreeContext();
  FSslCAFile = Value;
}

void TCustomSslWSocket::SetSslVerifyPeer(bool Value) {
  if (State() != wsClosed) {
    ReportError("Can't change SslVerifyPeer if not closed");
    return;
  }
  if (Value != FSslVerifyPeer) FreeContext();
  FSslVerifyPeer = Value;
}

bool TCustomSslWSocket::SslSessionReused() const {
  return FSsl && FTlsPhase == tpEstablished && SSL_session_reused(FSsl) == 1;
}

// ---- Context and connection state ---------------------------------------------

SSL_CTX* TCustomSslWSocket::Context(std::uint16_t& Error) {
  if (FSslContext) return FSslContext;
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (!ctx) {
    Error = TlsLibraryFailure;
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  // Fewer, larger reads from the platform; what is read ahead counts as
  // pending (SSL_has_pending) and is offered again.
  SSL_CTX_set_read_ahead(ctx, 1);
  SSL_CTX_set_verify(ctx, FSslVerifyPeer ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  SSL_CTX_set_default_verify_paths(ctx);
  if (!FSslCAFile.empty() && SSL_CTX_load_verify_locations(ctx, FSslCAFile.c_str(), nullptr) != 1) {
    SSL_CTX_free(ctx);
    ERR_clear_error();
    Error = TlsCAFileUnreadable;
    return nullptr;
  }
  // Sessions are kept by the component (one per host and port), so that the
  // next connection to the same server resumes instead of a full handshake.
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(ctx, &TCustomSslWSocket::StoreNewSession);
  FSslContext = ctx;
  return ctx;
}

void TCustomSslWSocket::FreeContext() {
  if (FSslContext) SSL_CTX_free(FSslContext);
  FSslContext = nullptr;
  // A session made under other trust settings must not skip verification.
  if (FSession) SSL_SESSION_free(FSession);
  FSession = nullptr;
  FSessionKey.clear();
}

void TCustomSslWSocket::FreeConnection() {
  // The library spoils the session of a connection freed without a close
  // alert sent; after the peer's alert the stream ended cleanly, and the
  // session stays good for the next connection.
  if (FSsl && FReadEnd == -1) SSL_set_shutdown(FSsl, SSL_get_shutdown(FSsl) | SSL_SENT_SHUTDOWN);
  if (FSsl) SSL_free(FSsl);  // frees FBio with it
  FSsl = nullptr;
  FBio = nullptr;
  FTlsPhase = tpOff;
  FPlainBeforeHandshake.clear();
  FReadEnd = 0;
}

void TCustomSslWSocket::ResetToDefaults() {
  TCustomSocksWSocket::ResetToDefaults();
  // After every close: nothing of the connection's TLS state survives.
  FreeConnection();
}

std::string TCustomSslWSocket::SessionKey() const {
  return (FSslServerName.empty() ? Addr() : FSslServerName) + ":" + Port();
}

int TCustomSslWSocket::StoreNewSession(SSL* Ssl, SSL_SESSION* Session) {
  auto* self = static_cast<TCustomSslWSocket*>(SSL_get_app_data(Ssl));
  if (!self) return 0;
  if (self->FSession) SSL_SESSION_free(self->FSession);
  self->FSession = Session;  // the reference passes to us (return 1)
  self->FSessionKey = self->SessionKey();
  return 1;
}

// ---- The BIO between the library and the layers below -----------------------

int TCustomSslWSocket::BioWrite(BIO* Bio, const char* Data, int Len) {
  auto* self = static_cast<TCustomSslWSocket*>(BIO_get_data(Bio));
  if (Len <= 0) return 0;
  self->QueueSendData(Data, Len);
  return Len;
}

int TCustomSslWSocket::BioRead(BIO* Bio, char* Buffer, int Size) {
  auto* self = static_cast<TCustomSslWSocket*>(BIO_get_data(Bio));
  BIO_clear_retry_flags(Bio);
  if (self->HSocket() == INVALID_SOCKET) return 0;
  int n = self->TCustomSocksWSocket::RecvRaw(Buffer, Size, 0);
  if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) BIO_set_retry_read(Bio);
  return n;
}

long TCustomSslWSocket::BioCtrl(BIO*, int Cmd, long, void*) {
  // The library flushes after each flight; the send queue goes out below.
  return Cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

// ---- Handshake ------------------------------------------------------------------

void TCustomSslWSocket::DoTransportConnected(std::uint16_t Error) {
  if (!FSslEnable || Error != 0) {
    TCustomSocksWSocket::DoTransportConnected(Error);
    return;
  }
  StartHandshake();
}

void TCustomSslWSocket::StartSslHandshake() {
  if (State() != wsConnected || FTlsPhase != tpOff) {
    ReportError("StartSslHandshake: no plain connection open");
    return;
  }
  FSslEnable = true;
  StartHandshake();
}

void TCustomSslWSocket::StartHandshake() {
  std::uint16_t error = 0;
  if (!PrepareConnection(error)) {
    HandshakeFail(error);
    return;
  }
  FTlsPhase = tpHandshake;
  ContinueHandshake();
}

bool TCustomSslWSocket::PrepareConnection(std::uint16_t& Error) {
  FreeConnection();
  ERR_clear_error();
  SSL_CTX* ctx = Context(Error);
  if (!ctx) return false;
  FSsl = SSL_new(ctx);
  FBio = FSsl ? BIO_new(SocketBioMethod(&BioWrite, &BioRead, &BioCtrl)) : nullptr;
  if (!FBio) {
    Error = TlsLibraryFailure;
    return false;
  }
  BIO_set_data(FBio, this);
  BIO_set_init(FBio, 1);
  SSL_set_bio(FSsl, FBio, FBio);
  SSL_set_app_data(FSsl, this);
  SSL_set_connect_state(FSsl);
  const std::string name = FSslServerName.empty() ? Addr() : FSslServerName;
  X509_VERIFY_PARAM* param = SSL_get0_param(FSsl);
  if (IsAddressLiteral(name)) {
    // An address is checked against the certificate's addresses; it is no
    // server name to indicate.
    if (FSslVerifyPeer) X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str());
  } else {
    SSL_set_tlsext_host_name(FSsl, name.c_str());
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (FSslVerifyPeer) X509_VERIFY_PARAM_set1_host(param, name.c_str(), 0);
  }
  if (FSession && FSessionKey == SessionKey()) SSL_set_session(FSsl, FSession);
  return true;
}

void TCustomSslWSocket::ContinueHandshake() {
  ERR_clear_error();
  int r = SSL_do_handshake(FSsl);
  if (r == 1) {
    // The last flight goes out together with what the application sends in
    // OnSessionConnected: two small writes in a row would wait for the
    // peer's delayed acknowledgement.
    FinishHandshake();
    if (FTlsPhase == tpEstablished) FlushEncrypted();
    return;
  }
  const SOCKET socket = HSocket();
  FlushEncrypted();
  if (HSocket() != socket) return;  // sending found the connection gone
  int sslError = SSL_get_error(FSsl, r);
  if (sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE) return;
  HandshakeFail(HandshakeFailureCode(sslError));
}

void TCustomSslWSocket::FinishHandshake() {
  FTlsPhase = tpEstablished;
  const SOCKET socket = HSocket();
  TCustomSocksWSocket::DoTransportConnected(0);
  if (HSocket() != socket || FTlsPhase != tpEstablished) return;  // closed by the handler
  if (!FPlainBeforeHandshake.empty()) {
    std::string plain;
    plain.swap(FPlainBeforeHandshake);
    Send(plain.data(), static_cast<int>(plain.size()));
    if (HSocket() != socket) return;
  }
  // The server's first data may have come with its last handshake flight.
  if (HasPendingPlain()) PostRedeliver();
}

// Like a failed SOCKS negotiation: OnSessionConnected with the code, then
// the close with OnSessionClosed carrying it too.
void TCustomSslWSocket::HandshakeFail(std::uint16_t Error) {
  FTlsPhase = tpOff;
  ERR_clear_error();
  TCustomSocksWSocket::DoTransportConnected(Error);
  if (State() != wsClosed) DoClose(true, Error);
}

std::uint16_t TCustomSslWSocket::HandshakeFailureCode(int SslError) const {
  if (FSslVerifyPeer) {
    long verdict = SSL_get_verify_result(FSsl);
    if (verdict != X509_V_OK) {
      int code = TlsCertificateBase + static_cast<int>(verdict);
      return static_cast<std::uint16_t>(code <= TlsCertificateLast ? code : TlsHandshakeFailed);
    }
  }
  unsigned long e = ERR_peek_error();
  int reason = ERR_GET_REASON(e);
  if (SslError == SSL_ERROR_SYSCALL || reason == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
    return TlsClosedInHandshake;
  }
  if (ERR_GET_LIB(e) == ERR_LIB_SSL) {
    if (reason >= SSL_AD_REASON_OFFSET && reason <= SSL_AD_REASON_OFFSET + 255) {
      return static_cast<std::uint16_t>(TlsAlertBase + reason - SSL_AD_REASON_OFFSET);
    }
    switch (reason) {
      case SSL_R_WRONG_VERSION_NUMBER:
      case SSL_R_PACKET_LENGTH_TOO_LONG:
      case SSL_R_UNKNOWN_PROTOCOL:
      case SSL_R_WRONG_SSL_VERSION:
      case SSL_R_HTTP_REQUEST:
      case SSL_R_HTTPS_PROXY_REQUEST:
      case SSL_R_UNSUPPORTED_PROTOCOL:
        return TlsPeerSpeaksNoTls;
      default:
        break;
    }
  }
  return TlsHandshakeFailed;
}

// ---- Sending ------------------------------------------------------------------

int TCustomSslWSocket::Send(const void* Data, int Len) {
  if (FTlsPhase == tpOff) return TCustomSocksWSocket::Send(Data, Len);
  if (State() != wsConnected) {
    WSASetLastError(WSAENOTCONN);
    RaiseSocketError("Send");
    return -1;
  }
  if (Len <= 0) return 0;
  if (FTlsPhase == tpHandshake) {
    FPlainBeforeHandshake.append(static_cast<const char*>(Data), static_cast<size_t>(Len));
    return Len;
  }
  if (!WritePlain(Data, Len)) {
    WSASetLastError(WSAECONNABORTED);
    RaiseSocketError("Send");
    return -1;
  }
  // The encrypted bytes are in the queue: the core sends them and fires
  // OnDataSent once they have left, as for plain data.
  TCustomSocksWSocket::Send(nullptr, 0);
  return Len;
}

bool TCustomSslWSocket::WritePlain(const void* Data, int Len) {
  ERR_clear_error();
  int r = SSL_write(FSsl, Data, Len);  // the BIO never blocks: all or failure
  if (r > 0) return true;
  ERR_clear_error();
  return false;
}

void TCustomSslWSocket::FlushEncrypted() {
  if (SendQueueBlockCount() == 0) return;
  SendQueued();
}

// Handshake flights are the layer's own business, not the application's.
void TCustomSslWSocket::DoDataSent(std::uint16_t Error) {
  if (FTlsPhase != tpHandshake) TCustomSocksWSocket::DoDataSent(Error);
}

// ---- Receiving ----------------------------------------------------------------

bool TCustomSslWSocket::DoDataAvailable(std::uint16_t Error) {
  if (FTlsPhase == tpOff || SocksNegotiating()) return TCustomSocksWSocket::DoDataAvailable(Error);
  if (FTlsPhase == tpHandshake) {
    ContinueHandshake();
    return true;
  }
  return DeliverDecrypted(Error);
}

// Offers the data to the application, and again while the library still
// holds decrypted bytes and the handler takes some: the read-ahead records
// go out in this pass instead of one posted message per read.
bool TCustomSslWSocket::DeliverDecrypted(std::uint16_t Error) {
  struct DeliveryFlag {
    bool& flag;
    explicit DeliveryFlag(bool& f) : flag(f) { flag = true; }
    ~DeliveryFlag() { flag = false; }
  } delivering(FInDelivery);
  const SOCKET socket = HSocket();
  const bool handled = TCustomSocksWSocket::DoDataAvailable(Error);
  while (handled && HSocket() == socket && HasPendingPlain()) {
    const std::uint64_t before = FPlainReads;
    TCustomSocksWSocket::DoDataAvailable(0);
    if (FPlainReads == before) break;
  }
  if (HSocket() == socket && HasPendingPlain()) PostRedeliver();
  return handled;
}

int TCustomSslWSocket::RecvRaw(void* Buffer, int Size, int Flags) {
  if (FTlsPhase == tpOff) return TCustomSocksWSocket::RecvRaw(Buffer, Size, Flags);
  if (FTlsPhase == tpHandshake || FReadEnd != 0 || Size <= 0) {
    if (FReadEnd != 0) return 0;
    WSASetLastError(WSAEWOULDBLOCK);
    return -1;
  }
  ERR_clear_error();
  int n = SSL_read(FSsl, Buffer, Size);
  if (n > 0) {
    ++FPlainReads;
    // Bytes the library has read ahead bring no notification of their own;
    // a delivery pass offers them itself.
    if (!FInDelivery && HasPendingPlain()) PostRedeliver();
    return n;
  }
  int sslError = SSL_get_error(FSsl, n);
  if (sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE) {
    FlushEncrypted();  // a post-handshake message may want an answer
    WSASetLastError(WSAEWOULDBLOCK);
    return -1;
  }
  NoteReadEnd(sslError);
  return 0;
}

// The stream has ended: the peer's close alert, its TCP close without the
// alert, or a fatal error in the data. Further reads give 0; the connection
// closes from the message loop unless the peer's close arrives first.
void TCustomSslWSocket::NoteReadEnd(int SslError) {
  unsigned long e = ERR_peek_error();
  int reason = ERR_GET_REASON(e);
  if (SslError == SSL_ERROR_ZERO_RETURN) {
    FReadEnd = -1;
  } else if (SslError == SSL_ERROR_SYSCALL || reason == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
    FReadEnd = TlsClosedWithoutAlert;
  } else if (ERR_GET_LIB(e) == ERR_LIB_SSL && reason >= SSL_AD_REASON_OFFSET &&
             reason <= SSL_AD_REASON_OFFSET + 255) {
    FReadEnd = TlsAlertBase + reason - SSL_AD_REASON_OFFSET;
  } else {
    FReadEnd = TlsProtocolError;
  }
  ERR_clear_error();
  PostRedeliver();
}

std::int32_t TCustomSslWSocket::RcvdCount() {
  if (FTlsPhase == tpOff) return TCustomSocksWSocket::RcvdCount();
  if (FTlsPhase != tpEstablished || FReadEnd != 0) return 0;
  if (SSL_pending(FSsl) == 0) {
    // Process the next record, if it is complete, without taking from it.
    char probe;
    ERR_clear_error();
    int n = SSL_peek(FSsl, &probe, 1);
    if (n <= 0) {
      int sslError = SSL_get_error(FSsl, n);
      if (sslError != SSL_ERROR_WANT_READ && sslError != SSL_ERROR_WANT_WRITE)
        NoteReadEnd(sslError);
      ERR_clear_error();
      return 0;
    }
  }
  return SSL_pending(FSsl);
}

bool TCustomSslWSocket::HasPendingPlain() const {
  return FSsl && FTlsPhase == tpEstablished && FReadEnd == 0 && SSL_has_pending(FSsl) == 1;
}

void TCustomSslWSocket::PostRedeliver() {
  if (FRedeliverPosted) return;
  FRedeliverPosted = PostMessage(Handle(), WM_TLS_REDELIVER, 0, 0);
}

void TCustomSslWSocket::WndProc(TMessage& Msg) {
  if (Msg.Msg != WM_TLS_REDELIVER) {
    TCustomSocksWSocket::WndProc(Msg);
    return;
  }
  try {
    HandleRedeliver();
  } catch (const std::exception& E) {
    HandleBgException(E);
  }
}

// Offers what the library holds through all layers above (line mode
// included); after the end of the stream, closes the connection with the
// code of that end. A reader that takes nothing is not asked again until
// new data arrive.
void TCustomSslWSocket::HandleRedeliver() {
  FRedeliverPosted = false;
  if (FTlsPhase != tpEstablished || State() != wsConnected) return;
  if (HasPendingPlain()) {
    const SOCKET socket = HSocket();
    DoDataAvailable(0);
    if (HSocket() != socket || FTlsPhase != tpEstablished) return;
  }
  if (FReadEnd != 0 && !HasPendingPlain()) {
    DoClose(true, static_cast<std::uint16_t>(FReadEnd > 0 ? FReadEnd : 0));
  }
}

// ---- Closing --------------------------------------------------------------------

void TCustomSslWSocket::Close() {
  // Sending may find the connection gone and close it, reporting the loss
  // only after this layer's state has been reset.
  FClosedInHandshake = FTlsPhase == tpHandshake;
  if (FTlsPhase == tpEstablished && State() == wsConnected && FReadEnd == 0) {
    // The close alert goes out as far as the platform takes it now; a close
    // does not wait for the peer.
    ERR_clear_error();
    SSL_shutdown(FSsl);
    ERR_clear_error();
    FlushEncrypted();
  }
  TCustomSocksWSocket::Close();
}

void TCustomSslWSocket::DoSessionClosed(std::uint16_t Error) {
  const bool inHandshake = FTlsPhase == tpHandshake || FClosedInHandshake;
  FClosedInHandshake = false;
  // The connection was lost in the handshake (not closed by the
  // application): the held-back OnSessionConnected reports it first.
  if (inHandshake && (Error != 0 || State() != wsClosed)) {
    FTlsPhase = tpOff;
    if (Error == 0) Error = TlsClosedInHandshake;
    TCustomSocksWSocket::DoTransportConnected(Error);
  }
  if (FTlsPhase == tpEstablished && State() != wsClosed) {
    // The peer closed: hand out what the library still holds first.
    OfferPendingAtClose();
    if (Error == 0 && FReadEnd == 0) {
      // Nothing read the end of the stream yet: look whether it was an alert.
      char probe;
      ERR_clear_error();
      int n = SSL_peek(FSsl, &probe, 1);
      if (n <= 0) NoteReadEnd(SSL_get_error(FSsl, n));
    }
    if (Error == 0 && FReadEnd > 0) Error = static_cast<std::uint16_t>(FReadEnd);
  }
  TCustomSocksWSocket::DoSessionClosed(Error);
}

void TCustomSslWSocket::OfferPendingAtClose() {
  const SOCKET socket = HSocket();
  while (HasPendingPlain()) {
    const std::uint64_t before = FPlainReads;
    DoDataAvailable(0);
    if (HSocket() != socket || FPlainReads == before) break;
  }
}
