#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include "Messages.h"

namespace {

struct Recorder {
  std::vector<unsigned> msgs;
  std::vector<WPARAM> params;
  HWND wnd = AllocateHWnd([this](TMessage& m) {
    msgs.push_back(m.Msg);
    params.push_back(m.WParam);
    m.Result = 7;
  });
  ~Recorder() { DeallocateHWnd(wnd); }
};

void Drain() {
  bool quit = false;
  PumpPendingMessages(quit);
}

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
         (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

}  // namespace

TEST(Messages, PostedMessagesArriveInOrderAcrossWindows) {
  Drain();
  Recorder a, b;
  PostMessage(a.wnd, 1100, 1, 0);
  PostMessage(b.wnd, 1101, 2, 0);
  PostMessage(a.wnd, 1102, 3, 0);
  bool quit = false;
  ASSERT_TRUE(PumpOneMessage(quit));
  EXPECT_EQ(a.msgs, std::vector<unsigned>{1100});
  PumpPendingMessages(quit);
  EXPECT_FALSE(quit);
  EXPECT_EQ(a.msgs, (std::vector<unsigned>{1100, 1102}));
  EXPECT_EQ(b.msgs, std::vector<unsigned>{1101});
  EXPECT_FALSE(PumpOneMessage(quit));
}

// A handler that always posts anew (as data that keeps arriving does) must
// not keep a pump from returning: each pass handles what was queued when it
// began, and the rest waits for the next.
TEST(Messages, APumpHandlesOnlyTheMessagesQueuedWhenItBegins) {
  Drain();
  int handled = 0;
  HWND wnd = AllocateHWnd([&](TMessage& m) {
    if (++handled < 100000) PostMessage(m.Window, 1100, 0, 0);
  });
  PostMessage(wnd, 1100, 0, 0);
  PostMessage(wnd, 1100, 0, 0);
  bool quit = false;
  PumpPendingMessages(quit);
  EXPECT_EQ(handled, 2);
  PumpPendingMessages(quit);
  EXPECT_EQ(handled, 4);
  ProcessMessages();
  EXPECT_LT(handled, 100);
  DeallocateHWnd(wnd);
}

TEST(Messages, QuitMessageIsTakenAndReportedNotDispatched) {
  Drain();
  Recorder a;
  PostMessage(a.wnd, 1100, 0, 0);
  PostQuitMessage(3);
  PostMessage(a.wnd, 1101, 0, 0);
  bool quit = false;
  ASSERT_TRUE(PumpOneMessage(quit));
  EXPECT_FALSE(quit);
  ASSERT_TRUE(PumpOneMessage(quit));  // the quit message
  EXPECT_TRUE(quit);
  EXPECT_EQ(a.msgs.size(), 1u);
  PumpPendingMessages(quit);
  EXPECT_EQ(a.msgs.size(), 2u);
}

TEST(Messages, DestroyedWindowGetsNothingAndRefusesPosts) {
  Drain();
  int calls = 0;
  HWND wnd = AllocateHWnd([&](TMessage&) { ++calls; });
  PostMessage(wnd, 1100, 0, 0);
  DeallocateHWnd(wnd);
  EXPECT_FALSE(IsWindow(wnd));
  EXPECT_FALSE(PostMessage(wnd, 1101, 0, 0));
  Drain();
  EXPECT_EQ(calls, 0);
}

TEST(Messages, PostsFromOtherThreadsWakeTheQtLoopInOrder) {
  Drain();
  Recorder a;
  std::thread t([&] {
    for (WPARAM i = 0; i < 100; ++i) PostMessage(a.wnd, 1100, i, 0);
  });
  t.join();
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  guard.start(5000);
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (a.msgs.size() == 100) QCoreApplication::exit(0);
  });
  poll.start(1);
  EXPECT_EQ(QCoreApplication::exec(), 0);
  ASSERT_EQ(a.params.size(), 100u);
  for (WPARAM i = 0; i < 100; ++i) EXPECT_EQ(a.params[i], i);
}

TEST(Messages, ProcessMessagesTakesAQuitAsTermination) {
  Drain();
  SetApplicationTerminated(false);
  PostQuitMessage(0);
  ProcessMessages();
  EXPECT_TRUE(ApplicationTerminated());
  SetApplicationTerminated(false);
}

TEST(Messages, WaitingForMessagesCostsNoCpuAndWakesOnPost) {
  Drain();
  Recorder a;
  // Waiting with nothing to do: a few wake-ups at most, and no CPU.
  double before = CpuSeconds();
  auto start = std::chrono::steady_clock::now();
  int calls = 0;
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(600)) {
    WaitForMessages(300, calls % 2 == 1);
    ++calls;
  }
  EXPECT_LT(calls, 10);
  EXPECT_LT(CpuSeconds() - before, 0.1);

  std::thread t([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    PostMessage(a.wnd, 1100, 0, 0);
  });
  start = std::chrono::steady_clock::now();
  WaitForMessages(5000, false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  t.join();
  Drain();
  EXPECT_EQ(a.msgs.size(), 1u);
}

TEST(Messages, OwnThreadPostsFromQtHandlersAreDispatchedByTheLoop) {
  Drain();
  Recorder a;
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  guard.start(5000);
  // A plain Qt handler posts; nothing else happens until the message is seen.
  QTimer::singleShot(0, [&] { PostMessage(a.wnd, 1100, 42, 0); });
  a.msgs.clear();
  auto wndProcSeen = [&] { return a.msgs.size() == 1; };
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (wndProcSeen()) QCoreApplication::exit(0);
  });
  poll.start(200);
  EXPECT_EQ(QCoreApplication::exec(), 0);
  ASSERT_EQ(a.params.size(), 1u);
  EXPECT_EQ(a.params[0], 42u);
}
