// The send queue of TCustomWSocket: bytes are copied once into fixed-size
// blocks and handed to the platform, oldest first, as far as it takes them.
#include <algorithm>

#include "WSocket.h"

using namespace winsock;

int TCustomWSocket::Send(const void* Data, int Len) {
  if (FState != wsConnected) {
    WSASetLastError(WSAENOTCONN);
    RaiseSocketError("Send");
    return -1;
  }
  FSendQueueEmpty = false;
  int result = 0;
  if (Len > 0) {
    QueueSendData(Data, Len);
    result = Len;
  }
  TryToSend();
  // OnDataSent comes from the message loop, after Send has returned, as when
  // the queue drains later. (Not after TryToSend found the connection gone.)
  if (FSendQueueEmpty && FHSocket != INVALID_SOCKET)
    PostMessage(FWindowHandle, WM_SOCKET_NOTIFY, static_cast<WPARAM>(FHSocket), FD_WRITE);
  return result;
}

int TCustomWSocket::SendStr(const std::string& Str) {
  return Send(Str.data(), static_cast<int>(std::min<size_t>(Str.size(), INT32_MAX)));
}

void TCustomWSocket::QueueSendData(const void* Data, int Len) {
  if (Len <= 0) return;
  if (FSendQueue.empty()) FSendQueue.push_back(std::make_unique<TBuffer>(FSendBlockSize));
  const auto* p = static_cast<const std::uint8_t*>(Data);
  TBuffer* block = FSendQueue.back().get();
  for (;;) {
    int n = block->Append(p, Len);
    if (n >= Len) return;
    Len -= n;
    p += n;
    FSendQueue.push_back(std::make_unique<TBuffer>(FSendBlockSize));
    block = FSendQueue.back().get();
  }
}

void TCustomWSocket::TryToSend() {
  if (FHSocket == INVALID_SOCKET || FSendQueue.empty()) return;
  for (;;) {
    TBuffer* block = FSendQueue.front().get();
    std::int32_t count;
    const std::uint8_t* data = block->Peek(count);
    if (count == 0) {
      if (FSendQueue.size() > 1) {
        FSendQueue.pop_front();
        continue;
      }
      FSendQueueEmpty = true;  // the drained last block stays for reuse
      return;
    }
    int n = SendChunk(data, count);
    if (n == 0) return;
    if (n < 0) {
      int code = WSAGetLastError();
      if (IsConnectionLostCode(code)) {
        FCloseEventFired = true;  // so that Close leaves the event to us
        Close();
        DoSessionClosed(static_cast<std::uint16_t>(code));
      } else if (code != WSAEWOULDBLOCK) {
        RaiseSocketError("TryToSend failed");
      }
      return;
    }
    block->Consume(n);
    if (n < count) return;  // the platform is full; the write notification resumes
  }
}

bool TCustomWSocket::IsConnectionLostCode(int code) {
  return code == WSAEINVAL || code == WSAENOTSOCK || code == WSAECONNABORTED ||
         code == WSAECONNRESET || code == WSAENOTCONN;
}

int TCustomWSocket::SendChunk(const void* Data, int Len) {
  if (FSocketType == SOCK_DGRAM_W)
    return winsock::sendto(FHSocket, Data, Len, FSendFlagValue, &FRemoteAddr, sizeof FRemoteAddr);
  return winsock::send(FHSocket, Data, Len, FSendFlagValue);
}

void TCustomWSocket::ClearSendQueue() { FSendQueue.clear(); }

int TCustomWSocket::SendTo(const sockaddr_in& Dest, int DestLen, const void* Data, int Len) {
  LoadSocketLibrary();
  return winsock::sendto(FHSocket, Data, Len, FSendFlagValue, &Dest, DestLen);
}
