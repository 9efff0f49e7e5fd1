#include "Messages.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <shared_mutex>
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

std::shared_ptr<WindowRec> FindWindow(HWND wnd) {
  std::shared_lock lock(g_windowsMu);
  auto it = g_windows.find(wnd);
  return it == g_windows.end() ? nullptr : it->second;
}

}  // namespace

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

std::uint32_t GetTickCount() {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<std::uint32_t>(ms);
}
