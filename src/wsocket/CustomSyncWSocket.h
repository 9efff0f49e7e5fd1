// TCustomSyncWSocket, the sync layer of the socket components (WSocket.h):
// waiting for a flag while the messages of the thread are pumped.
#pragma once

#include <cstdint>
#include <functional>

#include "CustomLineWSocket.h"

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
