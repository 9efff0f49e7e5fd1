// The line layer of the socket chain: line-mode receiving, with echo and
// simple editing.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "CustomLineWSocket.h"

namespace {

// Most bytes taken from below per reception: a fast peer cannot make one
// reception grow the held data without bound.
constexpr int LineReadChunk = 64 * 1024;
// Handler calls in a row that take nothing of a pending line before the
// delivery stops (the line stays pending for the next reception).
constexpr int MaxStalledLineCalls = 3;

}  // namespace

// Marks a delivery in progress. A reception or re-delivery that arrives
// meanwhile (a handler pumping messages) is deferred to its end: lines are
// handed out strictly one after the other.
class TCustomLineWSocket::DeliveryScope {
 public:
  explicit DeliveryScope(TCustomLineWSocket& s) : s_(s), outer_(!s.FDelivering) {
    s_.FDelivering = true;
  }
  ~DeliveryScope() {
    if (!outer_) return;
    s_.FDelivering = false;
    if (s_.FReceptionDeferred) {
      s_.FReceptionDeferred = false;
      s_.PostRedeliver();
    }
  }
  DeliveryScope(const DeliveryScope&) = delete;
  DeliveryScope& operator=(const DeliveryScope&) = delete;

 private:
  TCustomLineWSocket& s_;
  bool outer_;
};

TCustomLineWSocket::TCustomLineWSocket(TComponent* AOwner) : TCustomSslWSocket(AOwner) {
  FLineEnd = "\r\n";
  FLineMode = false;
}

void TCustomLineWSocket::SetLineMode(bool Value) {
  if (Value == FLineMode) return;
  const bool wasLineDelivery = LineDelivery();
  FLineMode = Value;
  DeliveryChanged(wasLineDelivery);
}

// An empty LineEnd switches the delivery to plain as LineMode off does.
void TCustomLineWSocket::SetLineEnd(const std::string& Value) {
  const bool wasLineDelivery = LineDelivery();
  FLineEnd = Value;
  DeliveryChanged(wasLineDelivery);
}

void TCustomLineWSocket::DeliveryChanged(bool WasLineDelivery) {
  if (LineDelivery() == WasLineDelivery) return;
  // The unread rest of a line being delivered simply stays at the front of
  // the held bytes; in plain delivery it is read first.
  if (!LineDelivery()) FPendingLineLength = 0;
  if (FLineDataCount > 0 || FPendingLineLength > 0) PostRedeliver();
}

void TCustomLineWSocket::ResetToDefaults() {
  TCustomSslWSocket::ResetToDefaults();
  // Nothing held survives into the next connection.
  FreeLineData();
}

// Plain mode counts held bytes first, like the SOCKS layer's leftover: a
// handler reading with ReceiveStr gets them before the platform's.
std::int32_t TCustomLineWSocket::RcvdCount() {
  if (LineDelivery()) return FPendingLineLength;
  if (FLineDataCount > 0) return FLineDataCount;
  return TCustomSslWSocket::RcvdCount();
}

int TCustomLineWSocket::RecvRaw(void* Buffer, int Size, int Flags) {
  int available = 0;
  if (LineDelivery() && FPendingLineLength > 0) {
    available = FPendingLineLength;
  } else if (!LineDelivery() && FLineDataCount > 0) {
    available = FLineDataCount;
  } else {
    return TCustomSslWSocket::RecvRaw(Buffer, Size, Flags);
  }
  const int n = std::max(0, std::min(Size, available));
  std::memcpy(Buffer, FLineData.data() + FLineStart, static_cast<size_t>(n));
  if (LineDelivery()) FPendingLineLength -= n;
  ConsumeHeld(n);
  return n;
}

// ---- Delivery -----------------------------------------------------------------

bool TCustomLineWSocket::DoDataAvailable(std::uint16_t Error) {
  // The SOCKS server's replies and the TLS handshake are none of the line
  // layer's business.
  if (!LineDelivery() || Negotiating()) {
    const int before = FLineDataCount;
    const bool handled = TCustomSslWSocket::DoDataAvailable(Error);
    // Held bytes are unknown to the platform: what the handler left of
    // them is offered again from the message loop.
    if (FLineDataCount > 0 && FLineDataCount < before) PostRedeliver();
    return handled;
  }
  if (FDelivering) {
    FReceptionDeferred = true;
    return true;
  }
  const int from = ReceiveIntoLineData();
  if (from >= 0) DeliverLines(from);
  return true;
}

int TCustomLineWSocket::ReceiveIntoLineData() {
  if (HSocket() == INVALID_SOCKET) return -1;
  int n = std::min(TCustomSslWSocket::RcvdCount(), LineReadChunk);
  if (n <= 0) return -1;
  CompactLineData();
  const size_t needed = static_cast<size_t>(FLineDataCount) + static_cast<size_t>(n) + 1;
  if (FLineData.size() < needed) FLineData.resize(needed);
  // From below even while a line is pending (its reader has stalled).
  int got = NoteReceived(TCustomSslWSocket::RecvRaw(FLineData.data() + FLineDataCount, n, 0));
  if (got <= 0) return -1;
  FLineData[static_cast<size_t>(FLineDataCount + got)] = 0;
  // Echoing can find the connection gone, which drops the held data.
  const std::uint32_t generation = FLineGeneration;
  if (FLineEdit) {
    EditReceived(got);
  } else if (FLineEcho) {
    Send(FLineData.data() + FLineDataCount, got);
  }
  if (generation != FLineGeneration) return -1;
  const int from = std::max(0, FLineDataCount - static_cast<int>(FLineEnd.size()));
  FLineDataCount += got;
  return from;
}

void TCustomLineWSocket::DeliverLines(int From) {
  if (FDelivering) return;
  DeliveryScope scope(*this);
  if (FPendingLineLength > 0) {
    // A line left unfinished earlier goes first; it moves the held bytes.
    if (!DeliverPendingLine()) return;
    From = 0;
  }
  while (LineDelivery()) {
    const int at = FindLineEnd(From);
    From = 0;
    if (at < 0) {
      bool delivered = false;
      if (!DeliverOverlongLine(delivered)) return;
      if (!delivered) break;
      continue;
    }
    FPendingLineLength = at + static_cast<int>(FLineEnd.size());
    if (!DeliverPendingLine()) return;
  }
  CompactLineData();
}

bool TCustomLineWSocket::DeliverPendingLine() {
  const std::uint32_t generation = FLineGeneration;
  int stalled = 0;
  while (LineDelivery() && FPendingLineLength > 0) {
    const int before = FPendingLineLength;
    if (!TCustomSslWSocket::DoDataAvailable(0)) {
      // Nobody reads lines: this one is dropped.
      if (generation != FLineGeneration) return false;
      ConsumeHeld(std::min(FPendingLineLength, FLineDataCount));
      FPendingLineLength = 0;
      break;
    }
    if (generation != FLineGeneration) return false;
    stalled = FPendingLineLength < before ? 0 : stalled + 1;
    if (stalled >= MaxStalledLineCalls) return false;
  }
  return true;
}

bool TCustomLineWSocket::DeliverOverlongLine(bool& Delivered) {
  Delivered = false;
  if (FLineLimit <= 0 || FLineDataCount <= FLineLimit) return true;
  const std::uint32_t generation = FLineGeneration;
  DoLineTooLong();
  if (generation != FLineGeneration) return false;
  if (!LineDelivery() || FLineDataCount <= FLineLimit) return true;
  // Keep what may be the start of a LineEnd split from its rest.
  const int piece = FLineDataCount - static_cast<int>(FLineEnd.size() - 1);
  if (piece <= 0) return true;
  FPendingLineLength = piece;
  Delivered = true;
  return DeliverPendingLine();
}

void TCustomLineWSocket::OfferHeldBytes() {
  if (FDelivering) return;
  DeliveryScope scope(*this);
  const std::uint32_t generation = FLineGeneration;
  while (!LineDelivery() && FLineDataCount > 0) {
    const int before = FLineDataCount;
    if (!TCustomSslWSocket::DoDataAvailable(0)) break;
    if (generation != FLineGeneration || FLineDataCount >= before) break;
  }
}

int TCustomLineWSocket::FindLineEnd(int From) const {
  if (FLineData.empty()) return -1;
  std::string_view held(FLineData.data() + FLineStart, static_cast<size_t>(FLineDataCount));
  const size_t at = held.find(FLineEnd, static_cast<size_t>(From));
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

// ---- Closing and re-delivery ------------------------------------------------

void TCustomLineWSocket::DoSessionClosed(std::uint16_t Error) {
  DeliverAtClose();
  FreeLineData();
  TCustomSslWSocket::DoSessionClosed(Error);
}

// Complete lines first, then the unterminated rest as a last line; in plain
// mode the held bytes are offered as they are. Not from inside a handler
// that closed the connection itself: it has said it is done.
void TCustomLineWSocket::DeliverAtClose() {
  if (FDelivering || FLineDataCount <= 0) return;
  if (!LineDelivery()) {
    OfferHeldBytes();
    return;
  }
  const std::uint32_t generation = FLineGeneration;
  DeliverLines(0);
  if (generation != FLineGeneration || !LineDelivery() || FLineDataCount <= 0) return;
  DeliveryScope scope(*this);
  FPendingLineLength = FLineDataCount;
  DeliverPendingLine();
}

void TCustomLineWSocket::WndProc(TMessage& Msg) {
  if (Msg.Msg != WM_LINE_REDELIVER) {
    TCustomSslWSocket::WndProc(Msg);
    return;
  }
  try {
    HandleRedeliver();
  } catch (const std::exception& E) {
    HandleBgException(E);
  }
}

// After a mode switch (or a deferred reception) the held bytes are offered
// again under the mode now set; a pass that takes nothing ends it, the bytes
// stay held for the next reception.
void TCustomLineWSocket::HandleRedeliver() {
  FRedeliverPosted = false;
  if (FDelivering) {
    FReceptionDeferred = true;
    return;
  }
  if (!LineDelivery()) {
    OfferHeldBytes();
    return;
  }
  if (Negotiating()) return;
  ReceiveIntoLineData();  // what a deferred reception left below
  DeliverLines(0);
}

void TCustomLineWSocket::PostRedeliver() {
  if (FRedeliverPosted) return;
  FRedeliverPosted = PostMessage(Handle(), WM_LINE_REDELIVER, 0, 0);
}

// ---- Held bytes ----------------------------------------------------------------

void TCustomLineWSocket::ConsumeHeld(int Count) {
  FLineStart += Count;
  FLineDataCount -= Count;
  if (FLineDataCount == 0) FLineStart = 0;
}

void TCustomLineWSocket::CompactLineData() {
  if (FLineStart > 0) {
    std::memmove(FLineData.data(), FLineData.data() + FLineStart,
                 static_cast<size_t>(FLineDataCount));
    FLineStart = 0;
  }
  if (!FLineData.empty()) FLineData[static_cast<size_t>(FLineDataCount)] = 0;
}

void TCustomLineWSocket::FreeLineData() {
  std::vector<char>().swap(FLineData);
  FLineStart = 0;
  FLineDataCount = 0;
  FPendingLineLength = 0;
  ++FLineGeneration;
}

// ---- Editing ---------------------------------------------------------------------

// Edits the Count bytes received behind the held ones: backspace removes the
// last kept byte (held ones too), tab fills with spaces to the next multiple
// of 8. With LineEcho the peer sees the edited input. If anything was edited,
// LineDataCount becomes the first changed position and Count the bytes from
// there, so the search for LineEnd starts just before them.
void TCustomLineWSocket::EditReceived(int& Count) {
  const int held = FLineDataCount;
  std::string text(FLineData.data(), static_cast<size_t>(held));
  std::string echo;
  int low = held;
  bool edited = false;
  for (int i = 0; i < Count; ++i) {
    const char c = FLineData[static_cast<size_t>(held + i)];
    if (c == 8) {
      if (!text.empty()) {
        echo += "\b \b";
        text.pop_back();
      }
      low = std::min(low, static_cast<int>(text.size()));
      edited = true;
    } else if (c == 9) {
      do {
        text += ' ';
        echo += ' ';
      } while (text.size() % 8 != 0);
      edited = true;
    } else {
      text += c;
      echo += c;
    }
  }
  if (FLineEcho && !echo.empty()) SendStr(echo);
  if (!edited) return;
  if (FLineData.size() < text.size() + 1) FLineData.resize(text.size() + 1);
  std::memcpy(FLineData.data(), text.data(), text.size());
  FLineData[text.size()] = 0;
  FLineDataCount = low;
  Count = static_cast<int>(text.size()) - low;
}

void TCustomLineWSocket::DoLineTooLong() {
  if (OnLineTooLong) OnLineTooLong(this);
}
