// TWSocket, the event-driven IPv4 socket component. The chain
// TCustomWSocket -> TCustomSocksWSocket -> TCustomSslWSocket ->
// TCustomLineWSocket -> TCustomSyncWSocket -> TWSocket adds one concern per
// class, each in the header named after it: a SOCKS client, TLS (inside the
// SOCKS tunnel, below line mode), line-mode receiving, and waiting for a
// flag. The rules of events, errors and message pumping are the base's
// (CustomWSocket.h).
#pragma once

#include "CustomSyncWSocket.h"

class TWSocket : public TCustomSyncWSocket {
 public:
  explicit TWSocket(TComponent* AOwner = nullptr) : TCustomSyncWSocket(AOwner) {}
};
