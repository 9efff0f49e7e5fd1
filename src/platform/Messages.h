// Hidden message windows and per-thread message queues.
//
// A window is a handle with a window procedure, created on (and owned by) the
// calling thread. Messages posted to it from any thread go to the owning
// thread's queue, in order, and are dispatched on that thread by one of the
// pumps below or by the Qt event loop of that thread (the queue wakes it).
// Socket readiness (see WinSock.h) is turned into messages on the same queue.
//
// A window procedure runs only inside DispatchMessage, the pumps below and
// the thread's Qt event loop, never inside PostMessage. Every call below that
// dispatches therefore runs other handlers inside it: socket events, finished
// lookups and, where it processes Qt events, clicks, timers and repaints.
// After such a call a caller looks again at the state it relies on. An
// exception a procedure throws leaves the pump that dispatched it; the
// messages not yet dispatched stay queued. The Qt event loop, which has no
// caller to hand it to, prints it to standard error and goes on.
#pragma once

#include <cstdint>
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
// Destroys the window; messages still queued for it are dropped. A procedure
// running at that moment (the window may destroy itself) runs to its end.
void DeallocateHWnd(HWND wnd);
bool IsWindow(HWND wnd);

// The default window procedure: the message is not handled, result 0.
void DefWindowProc(TMessage& msg);

// Queues a message for the window's thread and returns at once: the
// procedure runs later, from that thread's pumps or event loop. False when
// the window is gone. Safe from any thread.
bool PostMessage(HWND wnd, unsigned msg, WPARAM wParam, LPARAM lParam);
// Queues a quit message (18) to the calling thread's queue.
void PostQuitMessage(int exitCode);

// Takes the next message of the calling thread's queue without waiting and
// without dispatching it (checking the thread's sockets when the queue is
// empty, which only queues their notifications). Returns false when there is
// none.
bool PeekMessage(TMessage& msg);
// Runs the procedure of the message's window inside this call (a thread
// message, window 0, or a message for a destroyed window is dropped).
void DispatchMessage(TMessage& msg);

// One message: a quit message is taken and reported through quitReceived but
// not dispatched; any other is dispatched, inside this call. False when the
// queue is empty.
bool PumpOneMessage(bool& quitReceived);
// The messages queued when it starts (after ready sockets have been turned
// into messages once), each as PumpOneMessage would, inside this call.
// Messages posted meanwhile, by the handlers or by data that keeps arriving,
// wait for the next call: callers loop, and between passes other events get
// their turn. Qt events are not processed.
void PumpPendingMessages(bool& quitReceived);

// The application-wide processing of pending messages: the thread's Qt events
// (when a Qt event loop exists on it: clicks, timers, repaints and the
// queue's messages through the event loop), then PumpPendingMessages; every
// handler runs inside this call. Bounded like it, so a window repaints and
// its buttons act between two calls whatever the incoming data rate. A quit
// message taken here sets the terminating flag.
void ProcessMessages();
// ProcessMessages, unless this thread did so through here less than
// intervalMs ago: for callers that offer to process events far more often
// than anybody can act (once per link of a page), where each pass costs
// system calls and the window's layout.
void ProcessMessagesAtMostEvery(int intervalMs);
// Waits until a message or a socket event is there for the calling thread, or
// the time is up (milliseconds, at least 0); costs no CPU while it waits.
// Returns at once when a message is already queued. With appWide, on the
// thread of the Qt application, it waits inside the Qt event loop: what
// arrives meanwhile (Qt events, queued messages, socket events) is processed
// inside this call, and any Qt event ends the wait. Otherwise it only waits
// and dispatches nothing.
void WaitForMessages(int timeoutMs, bool appWide = true);

// The application is terminating: a quit message was taken by
// ProcessMessages or by the Qt event loop, or SetApplicationTerminated was
// called.
bool ApplicationTerminated();
void SetApplicationTerminated(bool terminated);

// Milliseconds since an arbitrary start, wrapping in 32 bits.
std::uint32_t GetTickCount();
