// Hidden message windows and per-thread message queues.
//
// A window is a handle with a window procedure, created on (and owned by) the
// calling thread. Messages posted to it from any thread go to the owning
// thread's queue, in order, and are dispatched on that thread by one of the
// pumps below or by the Qt event loop of that thread (the queue wakes it).
// Socket readiness (see WinSock.h) is turned into messages on the same queue.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>

using HWND = std::uintptr_t;  // 0: no window
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr unsigned WM_QUIT = 18;
constexpr unsigned WM_USER = 1024;

struct TMessage {
  HWND Window = 0;
  unsigned Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

using TWndMethod = std::function<void(TMessage&)>;

// Creates a hidden window on the calling thread; its procedure receives every
// message dispatched to it. Never returns 0.
HWND AllocateHWnd(TWndMethod proc);
// Destroys the window; messages still queued for it are dropped.
void DeallocateHWnd(HWND wnd);
bool IsWindow(HWND wnd);

// The default window procedure: the message is not handled, result 0.
void DefWindowProc(TMessage& msg);

// Queues a message for the window's thread; false when the window is gone.
// Safe from any thread.
bool PostMessage(HWND wnd, unsigned msg, WPARAM wParam, LPARAM lParam);
// Queues a quit message (18) to the calling thread's queue.
void PostQuitMessage(int exitCode);

// Takes the next message of the calling thread's queue without waiting
// (checking the thread's sockets when the queue is empty). Returns false when
// there is none.
bool PeekMessage(TMessage& msg);
// Hands a message to its window's procedure (a thread message, window 0, or a
// message for a destroyed window is dropped).
void DispatchMessage(TMessage& msg);

// One message: a quit message is taken and reported through quitReceived but
// not dispatched; any other is dispatched. False when the queue is empty.
bool PumpOneMessage(bool& quitReceived);
// The messages queued when it starts (after ready sockets have been turned
// into messages once), each as PumpOneMessage would. Messages posted
// meanwhile, by the handlers or by data that keeps arriving, wait for the
// next call: callers loop, and between passes other events get their turn.
void PumpPendingMessages(bool& quitReceived);

// The application-wide processing of pending messages: the thread's Qt events
// (when a Qt event loop exists on it), then PumpPendingMessages. Bounded
// like it, so a window repaints and its buttons act between two calls
// whatever the incoming data rate. A quit message taken here sets the
// terminating flag.
void ProcessMessages();
// ProcessMessages, unless this thread did so through here less than
// intervalMs ago: for callers that offer to process events far more often
// than anybody can act (once per link of a page), where each pass costs
// system calls and the window's layout.
void ProcessMessagesAtMostEvery(int intervalMs);
// Waits until a message or a socket event is there for the calling thread, or
// the time is up (milliseconds, at least 0); costs no CPU while it waits. With
// appWide, other Qt events of the thread also end the wait and are processed.
void WaitForMessages(int timeoutMs, bool appWide = true);

// The application is terminating: a quit message was taken by
// ProcessMessages, or SetApplicationTerminated was called.
bool ApplicationTerminated();
void SetApplicationTerminated(bool terminated);

// What happens to an exception that escapes a window procedure while the Qt
// event loop dispatches (there is no caller to propagate it to). The default
// prints it to standard error and the loop goes on.
void SetUnhandledExceptionHandler(std::function<void(std::exception_ptr)> handler);

// Milliseconds since an arbitrary start, wrapping in 32 bits.
std::uint32_t GetTickCount();
// Gives up the rest of the time slice (0) or sleeps.
void Sleep(unsigned ms);
