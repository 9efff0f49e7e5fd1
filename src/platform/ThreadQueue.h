// Internal to the platform library: the message queue of one thread, which is
// also that thread's socket reactor (an epoll set holding the sockets whose
// notifications go to the thread's windows, plus a wake-up eventfd). The Qt
// event loop of the thread watches the epoll descriptor through one socket
// notifier, so queued messages and socket events are dispatched from it too.
#pragma once

#include <QPointer>
#include <QSocketNotifier>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "Messages.h"

namespace platform_detail {

class ThreadQueue {
 public:
  ThreadQueue();
  ~ThreadQueue();
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  void Post(const TMessage& msg);
  // Next message without waiting; when the queue is empty the sockets are
  // polled first.
  bool Take(TMessage& msg);
  // Turns ready sockets into messages once, then hands each message queued
  // at that point to `handle`, in order. Messages posted meanwhile (also by
  // the handlers, and data that keeps arriving) wait for the next call, so
  // a fast sender cannot keep the caller here.
  void DispatchQueued(const std::function<void(TMessage&)>& handle);
  // Turns ready sockets into messages (waits up to timeoutMs for readiness).
  void PollSockets(int timeoutMs);
  // Blocks until the epoll set is ready or the time is up; handles nothing.
  void WaitReady(int timeoutMs);
  bool HasMessages();
  void PurgeIf(const std::function<bool(const TMessage&)>& pred);
  bool Contains(const std::function<bool(const TMessage&)>& pred);
  // Removes the first queued message matching pred; true when one was found.
  bool RemoveFirst(const std::function<bool(const TMessage&)>& pred);

  int EpollFd() const { return epfd_; }
  bool OnOwnerThread() const { return owner_ == std::this_thread::get_id(); }
  // Creates the Qt socket notifier once a Qt event loop exists on the thread.
  void EnsureNotifier();

 private:
  void ResetWake();
  // Makes the epoll descriptor readable while messages wait.
  void WakeIfPending();
  void DrainFromEventLoop();
  bool TakeQueued(TMessage& msg);

  std::mutex mu_;
  std::deque<TMessage> queue_;
  bool wakePending_ = false;
  int epfd_ = -1;
  int evfd_ = -1;
  std::thread::id owner_;
  QPointer<QSocketNotifier> notifier_;
};

std::shared_ptr<ThreadQueue> CurrentQueue();
std::shared_ptr<ThreadQueue> QueueOfWindow(HWND wnd);

// Implemented by the socket layer: a watched socket is ready.
void OnSocketReady(int fd, std::uint32_t epollEvents);

}  // namespace platform_detail
