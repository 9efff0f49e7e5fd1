#include "ThreadQueue.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform_detail {

namespace {

// An exception that escaped a window procedure while the Qt event loop
// dispatched: there is no caller to hand it to, so it goes to standard error.
void ReportUnhandled(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    std::fprintf(stderr, "Unhandled exception in message dispatch: %s\n", ex.what());
  } catch (...) {
    std::fprintf(stderr, "Unhandled exception in message dispatch\n");
  }
}

}  // namespace

ThreadQueue::ThreadQueue() : owner_(std::this_thread::get_id()) {
  epfd_ = epoll_create1(EPOLL_CLOEXEC);
  evfd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = evfd_;
  epoll_ctl(epfd_, EPOLL_CTL_ADD, evfd_, &ev);
}

ThreadQueue::~ThreadQueue() {
  if (notifier_) delete notifier_.data();
  if (evfd_ >= 0) close(evfd_);
  if (epfd_ >= 0) close(epfd_);
}

void ThreadQueue::Post(const TMessage& msg) {
  // Posts of the owning thread need no wake-up call: its pumps look at the
  // queue before they wait, and its Qt loop does so before it blocks.
  const bool own = OnOwnerThread();
  if (own) EnsureNotifier();
  bool wake = false;
  {
    std::lock_guard lock(mu_);
    queue_.push_back(msg);
    if (!wakePending_ && !own) wakePending_ = wake = true;
  }
  if (wake) {
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = write(evfd_, &one, sizeof one);
  }
}

void ThreadQueue::ResetWake() {
  std::lock_guard lock(mu_);
  wakePending_ = false;
  std::uint64_t value;
  [[maybe_unused]] auto n = read(evfd_, &value, sizeof value);
  // Messages still queued keep the wake-up alive for the event loop.
  if (!queue_.empty()) {
    wakePending_ = true;
    std::uint64_t one = 1;
    [[maybe_unused]] auto m = write(evfd_, &one, sizeof one);
  }
}

bool ThreadQueue::Take(TMessage& msg) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    {
      std::lock_guard lock(mu_);
      if (!queue_.empty()) {
        msg = queue_.front();
        queue_.pop_front();
        return true;
      }
    }
    if (attempt == 0) PollSockets(0);
  }
  return false;
}

void ThreadQueue::PollSockets(int timeoutMs) {
  epoll_event events[64];
  int n = epoll_wait(epfd_, events, 64, timeoutMs);
  for (int i = 0; i < n; ++i) {
    if (events[i].data.fd == evfd_) {
      ResetWake();
    } else {
      OnSocketReady(events[i].data.fd, events[i].events);
    }
  }
}

void ThreadQueue::WaitReady(int timeoutMs) {
  if (HasMessages()) return;
  epoll_event ev;
  epoll_wait(epfd_, &ev, 1, timeoutMs);
}

bool ThreadQueue::HasMessages() {
  std::lock_guard lock(mu_);
  return !queue_.empty();
}

void ThreadQueue::PurgeIf(const std::function<bool(const TMessage&)>& pred) {
  std::lock_guard lock(mu_);
  std::erase_if(queue_, pred);
}

bool ThreadQueue::Contains(const std::function<bool(const TMessage&)>& pred) {
  std::lock_guard lock(mu_);
  return std::any_of(queue_.begin(), queue_.end(), pred);
}

bool ThreadQueue::RemoveFirst(const std::function<bool(const TMessage&)>& pred) {
  std::lock_guard lock(mu_);
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    if (pred(*it)) {
      queue_.erase(it);
      return true;
    }
  }
  return false;
}

void ThreadQueue::EnsureNotifier() {
  if (notifier_ || !OnOwnerThread() || !QCoreApplication::instance()) return;
  if (!QAbstractEventDispatcher::instance(QThread::currentThread())) return;
  QObject* parent = QThread::currentThread() == QCoreApplication::instance()->thread()
                        ? QCoreApplication::instance()
                        : nullptr;
  notifier_ = new QSocketNotifier(epfd_, QSocketNotifier::Read, parent);
  QObject::connect(notifier_.data(), &QSocketNotifier::activated, notifier_.data(),
                   [this] { DrainFromEventLoop(); });
  QObject::connect(QAbstractEventDispatcher::instance(QThread::currentThread()),
                   &QAbstractEventDispatcher::aboutToBlock, notifier_.data(),
                   [this] { WakeIfPending(); });
}

void ThreadQueue::WakeIfPending() {
  std::lock_guard lock(mu_);
  if (queue_.empty() || wakePending_) return;
  wakePending_ = true;
  std::uint64_t one = 1;
  [[maybe_unused]] auto n = write(evfd_, &one, sizeof one);
}

bool ThreadQueue::TakeQueued(TMessage& msg) {
  std::lock_guard lock(mu_);
  if (queue_.empty()) return false;
  msg = queue_.front();
  queue_.pop_front();
  return true;
}

void ThreadQueue::DispatchQueued(const std::function<void(TMessage&)>& handle) {
  PollSockets(0);
  size_t count;
  {
    std::lock_guard lock(mu_);
    count = queue_.size();
  }
  TMessage msg;
  for (; count > 0 && TakeQueued(msg); --count) handle(msg);
}

// Called by the Qt event loop when the epoll set is ready.
void ThreadQueue::DrainFromEventLoop() {
  DispatchQueued([](TMessage& msg) {
    if (msg.Msg == WM_QUIT && msg.Window == 0) {
      SetApplicationTerminated(true);
      QCoreApplication::exit(static_cast<int>(msg.WParam));
      return;
    }
    try {
      DispatchMessage(msg);
    } catch (...) {
      // The Qt event loop has no caller to hand the exception to: it is
      // reported, and the loop goes on with the next message.
      ReportUnhandled(std::current_exception());
    }
  });
}

std::shared_ptr<ThreadQueue> CurrentQueue() {
  thread_local std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>();
  return queue;
}

}  // namespace platform_detail
