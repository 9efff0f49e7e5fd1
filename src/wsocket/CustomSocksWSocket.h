// TCustomSocksWSocket, the SOCKS layer of the socket components (WSocket.h):
// a SOCKS 4, 4A or 5 client, transparent while SocksServer is empty.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "CustomWSocket.h"
#include "SocksErrors.h"

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
