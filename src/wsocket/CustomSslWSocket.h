// TCustomSslWSocket, the TLS layer of the socket components (WSocket.h),
// transparent while SslEnable is off.
#pragma once

#include <cstdint>
#include <string>

#include "CustomSocksWSocket.h"

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
