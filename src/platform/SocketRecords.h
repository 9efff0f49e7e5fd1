// Internal to the platform library: the record of every socket opened
// through WinSock.h, shared by the files of the socket calls (WinSock.cpp),
// of readiness watching (WinSockWatch.cpp) and of lookups
// (WinSockLookups.cpp), with the failure helpers of those calls.
//
// A record says what a socket may report next (the armed flags) and whose
// epoll set watches it. Each record has its own lock: a Locked holds it, so
// sockets served by different threads never wait for each other.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <sys/socket.h>

#include "ThreadQueue.h"
#include "WinSock.h"

namespace winsock::records {

// Sets the calling thread's error code; returns SOCKET_ERROR.
int Fail(int code);
// Fail with the code of the current errno.
int FailErrno();
// True once WSAStartup has been called (and not undone); otherwise sets
// WSANOTINITIALISED.
bool CheckStarted();

struct SockRec {
  std::mutex mu;  // guards the fields below
  int type = SOCK_STREAM;
  HWND wnd = 0;
  unsigned msg = 0;
  long mask = 0;
  std::shared_ptr<platform_detail::ThreadQueue> queue;  // whose epoll set watches the socket
  bool registered = false;
  std::uint32_t regEvents = 0;
  bool listening = false;
  bool connecting = false;
  bool connected = false;
  bool readArmed = true;
  bool writeArmed = false;
  bool acceptArmed = true;
  bool oobArmed = true;
  bool closePosted = false;
  bool parked = false;  // hung up with nothing to report: unwatched until re-armed
  bool shutWr = false;
};

// A socket record held under its lock.
class Locked {
 public:
  Locked() = default;
  explicit Locked(std::shared_ptr<SockRec> rec) : rec_(std::move(rec)), lock_(rec_->mu) {}
  explicit operator bool() const { return rec_ != nullptr; }
  SockRec* operator->() const { return rec_.get(); }
  SockRec& operator*() const { return *rec_; }

 private:
  std::shared_ptr<SockRec> rec_;
  std::unique_lock<std::mutex> lock_;
};

// The record of a socket, locked; empty when the handle is unknown.
Locked FindQuiet(int fd);
// Looks the socket up and locks it; sets WSANOTINITIALISED or WSAENOTSOCK
// when it fails.
Locked Find(SOCKET s);
void InsertSocket(int fd, int type, bool connected);
// Takes the record out of the table (unlocked); nullptr when unknown.
std::shared_ptr<SockRec> RemoveSocket(int fd);
int SocketCount();

// Brings the epoll registration in line with what the socket may report.
// With lazy, read interest that is no longer wanted stays registered: the
// usual next step is a receive that re-arms it, which then costs no call.
// Should the socket turn readable before that, the event finds nothing to
// report and the strict update that follows removes the interest.
void UpdateWatch(int fd, SockRec& r, bool lazy = false);
// Removes the socket from the epoll set watching it.
void StopWatching(int fd, SockRec& r);
// Posts the event to the socket's window when the socket's mask selects it.
void Notify(int fd, const SockRec& r, long event, int error);
// Arms the notification behind flag again (and wakes a parked socket).
void Rearm(SOCKET s, SockRec& r, bool& flag);

// Withdraws every lookup still running or whose completion is still queued
// (the library is being cleaned up).
void WithdrawAllLookups();

}  // namespace winsock::records
