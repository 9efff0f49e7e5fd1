// The send queue of TCustomWSocket: bytes are copied once into fixed-size
// blocks and handed to the platform, oldest first, as far as it takes them.
#include "CustomWSocket.h"

#include <algorithm>
#include <cstdint>

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

void TCustomWSocket::SendQueued() {
  FSendQueueEmpty = false;
  TryToSend();
}

void TCustomWSocket::QueueSendData(const void* Data, int Len) {
  if (Len <= 0) return;
  if (FSendQueue.empty()) AppendBlock();
  const auto* p = static_cast<const std::uint8_t*>(Data);
  TBuffer* block = FSendQueue.back().get();
  for (;;) {
    int n = block->Append(p, Len);
    if (n >= Len) return;
    Len -= n;
    p += n;
    AppendBlock();
    block = FSendQueue.back().get();
  }
}

// Hands queued bytes to the platform, oldest first, until the platform is
// full or the queue is drained. Stream sockets gather up to kMaxPieces blocks
// per call; each datagram block goes alone.
void TCustomWSocket::TryToSend() {
  constexpr int kMaxPieces = 64;
  if (FHSocket == INVALID_SOCKET || FSendQueue.empty()) return;
  WSABUF_W pieces[kMaxPieces];
  for (;;) {
    while (FSendQueue.size() > 1) {
      std::int32_t unread;
      if (FSendQueue.front()->Peek(unread) != nullptr) break;
      DropFrontBlock();
    }
    const int limit = FSocketType == SOCK_DGRAM_W ? 1 : kMaxPieces;
    int count = 0;
    std::int64_t total = 0;
    for (auto it = FSendQueue.begin(); it != FSendQueue.end() && count < limit; ++it) {
      std::int32_t len;
      const std::uint8_t* data = (*it)->Peek(len);
      if (len == 0) break;
      pieces[count++] = WSABUF_W{data, len};
      total += len;
    }
    if (count == 0) {
      FSendQueueEmpty = true;  // the drained last block stays for reuse
      return;
    }
    int n = count == 1 ? SendChunk(pieces[0].buf, pieces[0].len) : SendChunks(pieces, count);
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
    for (std::int32_t left = n; left > 0;) {
      left -= FSendQueue.front()->Consume(left);
      if (left > 0 && FSendQueue.size() > 1) DropFrontBlock();
    }
    if (n < total) return;  // the platform is full; the write notification resumes
  }
}

int TCustomWSocket::SendChunks(const WSABUF_W* Pieces, int Count) {
  return sendv(FHSocket, Pieces, Count, FSendFlagValue);
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

void TCustomWSocket::AppendBlock() {
  if (FSpareBlocks.empty()) {
    FSendQueue.push_back(std::make_unique<TBuffer>(FSendBlockSize));
  } else {
    FSendQueue.push_back(std::move(FSpareBlocks.back()));
    FSpareBlocks.pop_back();
  }
}

void TCustomWSocket::DropFrontBlock() {
  constexpr size_t kMaxSpareBlocks = 64;
  if (FSpareBlocks.size() < kMaxSpareBlocks) FSpareBlocks.push_back(std::move(FSendQueue.front()));
  FSendQueue.pop_front();
}

void TCustomWSocket::ClearSendQueue() {
  FSendQueue.clear();
  FSpareBlocks.clear();
}

int TCustomWSocket::SendTo(const sockaddr_in& Dest, int DestLen, const void* Data, int Len) {
  LoadSocketLibrary();
  return winsock::sendto(FHSocket, Data, Len, FSendFlagValue, &Dest, DestLen);
}
