// Internal to TDocumentWorker: one running worker process and its pipes, used
// from the client's helper thread only. Exchange blocks in poll, on the
// pipes and on a stop descriptor that another thread makes readable to end
// the wait. Every process started is ended and reaped by Kill, Stop or
// End (the destructor kills one still running).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "DocumentFraming.h"

struct TDocumentWorkerSettings;

enum class TExchangeEnd {
  eeAnswered,
  eeWorkerGone,   // the worker closed its pipes (died) before it had the whole document
  eeWorkerEnded,  // ... after it had the document, before its answer was whole
  eeGarbled,
  eeAnswerTooLarge,
  eeTimedOut,
  eeStopped,
};

// How a process ended, as wait4 told.
struct TWorkerEnd {
  int waitStatus = 0;
  bool killedHere = false;  // it did not end by itself within the grace
  double cpuSeconds = 0;    // over the process's whole life
};

class TWorkerProcess {
 public:
  using TDeadline = std::chrono::steady_clock::time_point;

  TWorkerProcess() = default;
  ~TWorkerProcess() { Kill(); }
  TWorkerProcess(const TWorkerProcess&) = delete;
  TWorkerProcess& operator=(const TWorkerProcess&) = delete;

  bool Running() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // False with the system's reason when the program cannot be run.
  bool Start(const TDocumentWorkerSettings& settings, std::string& error);
  // Sends the document and takes its answer. deadline: max() for none.
  TExchangeEnd Exchange(std::uint8_t kind, const std::string& bytes, TDeadline deadline, int stopFd,
                        std::uint64_t maxAnswerBytes, TDocumentAnswer& answer);
  // Closes the pipes (an idle worker sees the end of its input), waits up to
  // graceMs for the process's end, then kills it.
  TWorkerEnd End(int graceMs);
  // Kills the process at once and waits for it.
  void Kill();

 private:
  bool WaitExit(int timeoutMs, TWorkerEnd& end);
  TWorkerEnd KillAndReap();
  void ClosePipes();

  pid_t pid_ = -1;
  int pidFd_ = -1;
  int toWorker_ = -1;
  int fromWorker_ = -1;
};
