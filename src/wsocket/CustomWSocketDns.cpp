// Asynchronous name lookups of TCustomWSocket: the request runs on the
// platform's worker thread and completes as a message to the hidden window.
#include "CustomWSocket.h"

#include <cstring>

using namespace winsock;

void TCustomWSocket::StartAsyncLookup(const std::string& Text, bool Reverse) {
  if (Text.empty()) {
    ReportError("DNS lookup: invalid host name.");
    DoDnsLookupDone(WSAEINVAL);
    return;
  }
  LoadSocketLibrary();
  if (FLookupHandle != 0) {
    WSACancelAsyncRequest(FLookupHandle);
    // The withdrawn request is forgotten at once, so that a later
    // CancelDnsLookup does not try to cancel it a second time and fail.
    FLookupHandle = 0;
  }
  FDnsResult.clear();
  FDnsResultList.clear();
  std::uint32_t addr = winsock::inet_addr(Text.c_str());
  if (!Reverse && addr != INADDR_NONE) {
    FDnsResult = winsock::inet_ntoa(addr);
    DoDnsLookupDone(0);
    return;
  }
  if (Reverse) {
    FLookupHandle = WSAAsyncGetHostByAddr(FWindowHandle, WM_ADDR_LOOKUP_DONE,
                                          reinterpret_cast<const char*>(&addr), 4, AF_INET_W,
                                          FLookupBuffer, DnsLookupBufferSize);
  } else {
    FLookupHandle = WSAAsyncGetHostByName(FWindowHandle, WM_HOST_LOOKUP_DONE, Text.c_str(),
                                          FLookupBuffer, DnsLookupBufferSize);
  }
  if (FLookupHandle == 0)
    ReportErrorFmt("%s: can't start DNS lookup, error #%d", Text, WSAGetLastError());
}

void TCustomWSocket::DnsLookup(const std::string& HostName) { StartAsyncLookup(HostName, false); }

void TCustomWSocket::ReverseDnsLookup(const std::string& HostAddr) {
  StartAsyncLookup(HostAddr, true);
}

void TCustomWSocket::CancelDnsLookup() {
  if (FLookupHandle == 0) return;
  LoadSocketLibrary();
  int rc = WSACancelAsyncRequest(FLookupHandle);
  FLookupHandle = 0;
  if (rc == SOCKET_ERROR) {
    RaiseSocketError("WSACancelAsyncRequest");
    return;
  }
  if (!Destroying()) DoDnsLookupDone(WSAEINTR);
}

void TCustomWSocket::HandleHostLookupDone(TMessage& Msg) {
  if (static_cast<winsock::HANDLE>(Msg.WParam) != FLookupHandle) return;
  FLookupHandle = 0;
  auto error = static_cast<std::uint16_t>((Msg.LParam >> 16) & 0xffff);
  if (error == 0) {
    const auto* he = reinterpret_cast<const hostent_w*>(FLookupBuffer);
    for (char** p = he->h_addr_list; p && *p; ++p) {
      std::uint32_t addr;
      std::memcpy(&addr, *p, 4);
      FDnsResultList.push_back(winsock::inet_ntoa(addr));
    }
    if (!FDnsResultList.empty()) FDnsResult = FDnsResultList.front();
  }
  DoDnsLookupDone(error);
}

void TCustomWSocket::HandleAddrLookupDone(TMessage& Msg) {
  if (static_cast<winsock::HANDLE>(Msg.WParam) != FLookupHandle) return;
  FLookupHandle = 0;
  auto error = static_cast<std::uint16_t>((Msg.LParam >> 16) & 0xffff);
  if (error == 0) {
    const auto* he = reinterpret_cast<const hostent_w*>(FLookupBuffer);
    FDnsResult = he->h_name ? he->h_name : "";
    FDnsResultList.push_back(FDnsResult);
  }
  DoDnsLookupDone(error);
}
