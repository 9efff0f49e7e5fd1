// TCustomLineWSocket, the line layer of the socket components (WSocket.h):
// plain delivery while LineMode is off.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CustomSslWSocket.h"

// Default bound of a line held without its LineEnd (see LineLimit).
constexpr std::int32_t DefaultLineLimit = 1024 * 1024;

// With LineMode on, collects received bytes and fires OnDataAvailable once
// per complete line (LineEnd included); the handler reads the line with
// Receive or ReceiveStr, which never hand out more than that line. With
// LineMode off everything passes through.
class TCustomLineWSocket : public TCustomSslWSocket {
 public:
  explicit TCustomLineWSocket(TComponent* AOwner = nullptr);

  std::int32_t RcvdCount() override;

  bool LineMode() const { return FLineMode; }
  virtual void SetLineMode(bool Value);
  // An empty LineEnd delivers as LineMode off does, up to the close.
  const std::string& LineEnd() const { return FLineEnd; }
  void SetLineEnd(const std::string& Value);
  bool LineEcho() const { return FLineEcho; }
  void SetLineEcho(bool Value) { FLineEcho = Value; }
  bool LineEdit() const { return FLineEdit; }
  void SetLineEdit(bool Value) { FLineEdit = Value; }
  // Most bytes held for a line whose LineEnd has not come; beyond it
  // OnLineTooLong fires and, unless the handler closes the connection, the
  // held bytes are delivered as a piece of the line. 0: no limit.
  std::int32_t LineLimit() const { return FLineLimit; }
  void SetLineLimit(std::int32_t Value) { FLineLimit = Value; }

  // Bytes held for the reader (diagnostics and tests).
  std::int32_t LineDataCount() const { return FLineDataCount; }
  std::int32_t LineDataSize() const { return static_cast<std::int32_t>(FLineData.size()); }

  // Inside the delivery, when the bytes held without LineEnd pass
  // LineLimit; the handler may close the connection.
  TNotifyEvent OnLineTooLong;

 protected:
  void WndProc(TMessage& Msg) override;
  void ResetToDefaults() override;
  bool DoDataAvailable(std::uint16_t Error) override;
  void DoSessionClosed(std::uint16_t Error) override;
  int RecvRaw(void* Buffer, int Size, int Flags) override;
  // Applies backspace and tab editing to the Count newest received bytes.
  virtual void EditReceived(int& Count);
  virtual void DoLineTooLong();

 private:
  class DeliveryScope;

  bool LineDelivery() const { return FLineMode && !FLineEnd.empty(); }
  // After LineMode or LineEnd changed: held bytes are offered again when the
  // delivery switched between lines and plain.
  void DeliveryChanged(bool WasLineDelivery);
  // Reads what waits below into LineData, edited and echoed; the offset from
  // which a LineEnd may newly be found, or -1 when nothing came.
  int ReceiveIntoLineData();
  // Hands out every complete line held (a line left unfinished first),
  // searching for LineEnd from offset From of the held bytes.
  void DeliverLines(int From);
  // Offers the pending line to the handler until it has been read; false when
  // the delivery has to stop (the held data went away, or the handler keeps
  // leaving the line unread).
  bool DeliverPendingLine();
  // A line without LineEnd beyond LineLimit: OnLineTooLong, then the held
  // bytes as a piece of the line; false when the delivery has to stop.
  bool DeliverOverlongLine(bool& Delivered);
  // Offers held bytes in plain mode until a pass takes none.
  void OfferHeldBytes();
  void DeliverAtClose();
  void HandleRedeliver();
  void PostRedeliver();
  int FindLineEnd(int From) const;
  void ConsumeHeld(int Count);
  void CompactLineData();
  void FreeLineData();

  bool FLineMode = false;
  std::string FLineEnd = "\r\n";
  bool FLineEcho = false;
  bool FLineEdit = false;
  std::int32_t FLineLimit = DefaultLineLimit;

  // Held bytes: FLineData[FLineStart, FLineStart + FLineDataCount), then a 0
  // byte. Read bytes leave at the front; a delivered line's unread rest is
  // always the first FPendingLineLength held bytes.
  std::vector<char> FLineData;
  std::int32_t FLineStart = 0;
  std::int32_t FLineDataCount = 0;
  std::int32_t FPendingLineLength = 0;
  bool FDelivering = false;
  bool FReceptionDeferred = false;
  bool FRedeliverPosted = false;
  // Grows whenever the held data is dropped, so that a delivery loop sees it.
  std::uint32_t FLineGeneration = 0;
};
