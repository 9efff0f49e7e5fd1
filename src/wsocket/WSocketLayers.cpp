// The SOCKS, line and sync layers of the socket chain. The SOCKS layer and
// the line layer pass every operation through to the layer below for now;
// their overrides are the places where the negotiation and the line delivery
// hook in.
#include "WSocket.h"

// ---- TCustomSocksWSocket ---------------------------------------------------

TCustomSocksWSocket::TCustomSocksWSocket(TComponent* AOwner) : TCustomWSocket(AOwner) {
  ResetSocksDefaults();
}

void TCustomSocksWSocket::ResetToDefaults() {
  TCustomWSocket::ResetToDefaults();
  ResetSocksDefaults();
}

void TCustomSocksWSocket::ResetSocksDefaults() {
  FSocksServer.clear();
  FSocksPort.clear();
  FSocksLevel = "5";
  FSocksServerAssigned = false;
}

void TCustomSocksWSocket::SetSocksLevel(const std::string& Value) {
  if (FState != wsClosed) {
    ReportError("Can't change socks level if not closed");
    return;
  }
  if (Value != "4" && Value != "5" && Value != "4A" && Value != "4a") {
    ReportError("Invalid socks level. Must be 4, 4A or 5.");
    return;
  }
  if (Value == "4a") {
    FSocksLevel.assign("4A");
  } else {
    FSocksLevel.assign(Value);
  }
}

void TCustomSocksWSocket::SetSocksServer(const std::string& Value) {
  if (FState != wsClosed) {
    ReportError("Can't change socks server if not closed");
    return;
  }
  FSocksServer = TrimBlanks(Value);
  FSocksServerAssigned = !FSocksServer.empty();
}

void TCustomSocksWSocket::SetSocksPort(const std::string& Value) {
  if (FState != wsClosed) {
    ReportError("Can't change socks port if not closed");
    return;
  }
  FSocksPort = TrimBlanks(Value);
}

void TCustomSocksWSocket::Connect() { TCustomWSocket::Connect(); }
void TCustomSocksWSocket::Listen() { TCustomWSocket::Listen(); }
std::int32_t TCustomSocksWSocket::RcvdCount() { return TCustomWSocket::RcvdCount(); }

void TCustomSocksWSocket::DoSessionConnected(std::uint16_t Error) {
  TCustomWSocket::DoSessionConnected(Error);
}

void TCustomSocksWSocket::DoSessionClosed(std::uint16_t Error) {
  TCustomWSocket::DoSessionClosed(Error);
}

bool TCustomSocksWSocket::DoDataAvailable(std::uint16_t Error) {
  return TCustomWSocket::DoDataAvailable(Error);
}

int TCustomSocksWSocket::RecvRaw(void* Buffer, int Size, int Flags) {
  return TCustomWSocket::RecvRaw(Buffer, Size, Flags);
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

// ---- TCustomLineWSocket ----------------------------------------------------

TCustomLineWSocket::TCustomLineWSocket(TComponent* AOwner) : TCustomSocksWSocket(AOwner) {}

void TCustomLineWSocket::SetLineMode(bool Value) { FLineMode = Value; }

std::int32_t TCustomLineWSocket::RcvdCount() { return TCustomSocksWSocket::RcvdCount(); }

void TCustomLineWSocket::WndProc(TMessage& Msg) { TCustomSocksWSocket::WndProc(Msg); }

bool TCustomLineWSocket::DoDataAvailable(std::uint16_t Error) {
  return TCustomSocksWSocket::DoDataAvailable(Error);
}

void TCustomLineWSocket::DoSessionClosed(std::uint16_t Error) {
  TCustomSocksWSocket::DoSessionClosed(Error);
}

int TCustomLineWSocket::RecvRaw(void* Buffer, int Size, int Flags) {
  return TCustomSocksWSocket::RecvRaw(Buffer, Size, Flags);
}

void TCustomLineWSocket::EditReceived(int& /*Count*/) {}

// ---- TCustomSyncWSocket ----------------------------------------------------

TCustomSyncWSocket::TCustomSyncWSocket(TComponent* AOwner) : TCustomLineWSocket(AOwner) {}

int TCustomSyncWSocket::WaitForFlag(const bool& DoneFlag) {
  FSyncDeadline = static_cast<std::int32_t>(GetTickCount() + static_cast<std::uint32_t>(FSyncTimeout));
  for (;;) {
    if (DoneFlag) return 0;
    auto now = static_cast<std::int32_t>(GetTickCount());
    if ((FSyncTimeout > 0 && now > FSyncDeadline) || ApplicationTerminated() || FQuitReceived)
      return 12001;
    PumpMessages();
    if (DoneFlag) return 0;
    // Instead of spinning: wait for the next message, at most until the deadline.
    int wait = 100;
    if (FSyncTimeout > 0) wait = std::max(0, std::min(wait, FSyncDeadline - now + 1));
    WaitForMessages(wait, !MultiThreaded());
  }
}

int TCustomSyncWSocket::RunAndWait(const std::function<void()>& Proc, bool& DoneFlag) {
  DoneFlag = false;
  if (Proc) Proc();
  return WaitForFlag(DoneFlag);
}
