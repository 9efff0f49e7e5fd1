#include "Messages.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <shared_mutex>
#include <chrono>
#include <cstdio>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <unordered_map>

#include "ThreadQueue.h"

namespace platform_detail {

namespace {

struct WindowRec {
  std::shared_ptr<ThreadQueue> queue;
  TWndMethod proc;
};

std::shared_mutex g_windowsMu;  // read-mostly: every post and dispatch looks up
// Never destroyed: windows may be released during program exit.
std::unordered_map<HWND, std::shared_ptr<WindowRec>>& g_windows =
    *new std::unordered_map<HWND, std::shared_ptr<WindowRec>>;
HWND g_nextWindow = 1;

std::atomic<bool> g_terminated{false};

std::mutex g_handlerMu;
std::function<void(std::exception_ptr)> g_unhandled;

void ReportUnhandled(std::exception_ptr e) {
  std::function<void(std::exception_ptr)> handler;
  {
    std::lock_guard lock(g_handlerMu);
    handler = g_unhandled;
  }
  if (handler) {
    handler(e);
    return;
  }
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    std::fprintf(stderr, "Unhandled exception in message dispatch: %s\n", ex.what());
  } catch (...) {
    std::fprintf(stderr, "Unhandled exception in message dispatch\n");
  }
}

std::shared_ptr<WindowRec> FindWindow(HWND wnd) {
  std::shared_lock lock(g_windowsMu);
  auto it = g_windows.find(wnd);
  return it == g_windows.end() ? nullptr : it->second;
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
      g_terminated = true;
      QCoreApplication::exit(static_cast<int>(msg.WParam));
      return;
    }
    try {
      DispatchMessage(msg);
    } catch (...) {
      ReportUnhandled(std::current_exception());
    }
  });
}

std::shared_ptr<ThreadQueue> CurrentQueue() {
  thread_local std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>();
  return queue;
}

std::shared_ptr<ThreadQueue> QueueOfWindow(HWND wnd) {
  auto rec = FindWindow(wnd);
  return rec ? rec->queue : nullptr;
}

}  // namespace platform_detail

using namespace platform_detail;

HWND AllocateHWnd(TWndMethod proc) {
  auto rec = std::make_shared<WindowRec>();
  rec->queue = CurrentQueue();
  rec->proc = std::move(proc);
  rec->queue->EnsureNotifier();
  std::lock_guard lock(g_windowsMu);
  HWND wnd = g_nextWindow++;
  g_windows.emplace(wnd, std::move(rec));
  return wnd;
}

void DeallocateHWnd(HWND wnd) {
  std::shared_ptr<WindowRec> rec;
  {
    std::lock_guard lock(g_windowsMu);
    auto it = g_windows.find(wnd);
    if (it == g_windows.end()) return;
    rec = it->second;
    g_windows.erase(it);
  }
  rec->queue->PurgeIf([wnd](const TMessage& m) { return m.Window == wnd; });
}

bool IsWindow(HWND wnd) { return FindWindow(wnd) != nullptr; }

void DefWindowProc(TMessage& msg) { msg.Result = 0; }

bool PostMessage(HWND wnd, unsigned msg, WPARAM wParam, LPARAM lParam) {
  auto rec = FindWindow(wnd);
  if (!rec) return false;
  rec->queue->Post(TMessage{wnd, msg, wParam, lParam, 0});
  return true;
}

void PostQuitMessage(int exitCode) {
  CurrentQueue()->Post(TMessage{0, WM_QUIT, static_cast<WPARAM>(exitCode), 0, 0});
}

bool PeekMessage(TMessage& msg) { return CurrentQueue()->Take(msg); }

void DispatchMessage(TMessage& msg) {
  if (msg.Window == 0) return;
  auto rec = FindWindow(msg.Window);
  if (!rec || !rec->proc) return;
  rec->proc(msg);  // rec keeps the procedure alive even if the window goes
}

bool PumpOneMessage(bool& quitReceived) {
  TMessage msg;
  if (!PeekMessage(msg)) return false;
  if (msg.Msg == WM_QUIT) {
    quitReceived = true;
  } else {
    DispatchMessage(msg);
  }
  return true;
}

void PumpPendingMessages(bool& quitReceived) {
  CurrentQueue()->DispatchQueued([&quitReceived](TMessage& msg) {
    if (msg.Msg == WM_QUIT) {
      quitReceived = true;
    } else {
      DispatchMessage(msg);
    }
  });
}

namespace {

bool QtLoopOnThisThread() {
  return QCoreApplication::instance() &&
         QAbstractEventDispatcher::instance(QThread::currentThread()) != nullptr;
}

bool OnApplicationThread() {
  return QCoreApplication::instance() &&
         QThread::currentThread() == QCoreApplication::instance()->thread();
}

}  // namespace

void ProcessMessages() {
  auto queue = CurrentQueue();
  if (QtLoopOnThisThread()) {
    queue->EnsureNotifier();
    QCoreApplication::processEvents();
  }
  bool quit = false;
  PumpPendingMessages(quit);
  if (quit) g_terminated = true;
}

void ProcessMessagesAtMostEvery(int intervalMs) {
  thread_local std::uint32_t last = 0;
  thread_local bool ran = false;
  std::uint32_t now = GetTickCount();
  if (ran && now - last < static_cast<std::uint32_t>(intervalMs)) return;
  ran = true;
  last = now;
  ProcessMessages();
}

void WaitForMessages(int timeoutMs, bool appWide) {
  auto queue = CurrentQueue();
  if (queue->HasMessages()) return;
  if (timeoutMs < 0) timeoutMs = 0;
  if (appWide && QtLoopOnThisThread() && OnApplicationThread()) {
    queue->EnsureNotifier();
    thread_local QTimer* timer = nullptr;
    if (!timer) {
      timer = new QTimer(QCoreApplication::instance());
      timer->setSingleShot(true);
      QObject::connect(timer, &QObject::destroyed, [] { timer = nullptr; });
    }
    timer->start(timeoutMs);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (timer) timer->stop();
    return;
  }
  queue->WaitReady(timeoutMs);
}

bool ApplicationTerminated() { return g_terminated; }
void SetApplicationTerminated(bool terminated) { g_terminated = terminated; }

void SetUnhandledExceptionHandler(std::function<void(std::exception_ptr)> handler) {
  std::lock_guard lock(g_handlerMu);
  g_unhandled = std::move(handler);
}

std::uint32_t GetTickCount() {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<std::uint32_t>(ms);
}

void Sleep(unsigned ms) {
  if (ms == 0) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}
