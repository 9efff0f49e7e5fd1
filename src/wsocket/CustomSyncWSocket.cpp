#include "CustomSyncWSocket.h"

#include <algorithm>

TCustomSyncWSocket::TCustomSyncWSocket(TComponent* AOwner) : TCustomLineWSocket(AOwner) {}

int TCustomSyncWSocket::WaitForFlag(const bool& DoneFlag) {
  FSyncDeadline =
      static_cast<std::int32_t>(GetTickCount() + static_cast<std::uint32_t>(FSyncTimeout));
  for (;;) {
    if (DoneFlag) return 0;
    // The difference, not the two ticks, is compared: correct across the
    // wrap of the tick count.
    const auto left =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(FSyncDeadline) - GetTickCount());
    if ((FSyncTimeout > 0 && left < 0) || ApplicationTerminated() || QuitReceived())
      return SyncWaitFailed;
    PumpMessages();
    if (DoneFlag) return 0;
    // Instead of spinning: wait for the next message, at most until the deadline.
    int wait = 100;
    if (FSyncTimeout > 0) wait = std::max(0, std::min(wait, left + 1));
    WaitForMessages(wait, !MultiThreaded());
  }
}

int TCustomSyncWSocket::RunAndWait(const std::function<void()>& Proc, bool& DoneFlag) {
  DoneFlag = false;
  if (Proc) Proc();
  return WaitForFlag(DoneFlag);
}
