// tirasel-cli: the crawl run without a window, for scripts and machines
// without a display. Log lines go to standard error as they come; the word
// list goes to a file or standard output at the end. Both speak UTF-8 by
// default, one word per line ended by LF, each "&#N;" of a caption written
// as its character; with the Windows-1252 encoding the list is written
// exactly as the window's save command writes it (CR LF, Windows-1252).
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "CliOptions.h"
#include "CrawlRun.h"

// The crawl run's window on a terminal.
class TCliWindow : public TCrawlEvents {
 public:
  TCliWindow(const TCliOptions& options, std::FILE* log, std::FILE* answers, bool showProgress);

  // The progress line is shown while the run is busy and removed after it.
  void Busy(bool busy) override;
  void Log(const std::string& line) override;
  // The progress line's count of words follows every word.
  void WordAdded(size_t count) override;
  // Takes the run's latest state; the progress line (when shown) is redrawn
  // at most every kProgressIntervalMs, the rest waits for RefreshProgress.
  void Progress(const TCrawlProgress& progress) override;
  std::string Proxy() override { return options_.Proxy; }
  bool AutomaticMode() override { return !options_.Ask; }
  bool AskYesNo(const std::string& caption, const std::string& text) override;
  void ProcessPendingEvents() override;

  // From here on, each Ctrl+C reported as a byte on `interruptFd` (readable,
  // non-blocking) reaches `onInterrupt` with the number of Ctrl+C so far:
  // through TakeInterrupts, and also while a question waits for its answer.
  void WatchInterrupts(int interruptFd, std::function<void(int count)> onInterrupt);
  // Reads the reported Ctrl+C and hands each to the handler, which may end
  // the program.
  void TakeInterrupts();

  // Draws a state that Progress held back, once the interval has passed.
  void RefreshProgress();
  // Removes the progress display before the program ends.
  void EndProgress();

  static constexpr int kProgressIntervalMs = 100;

  const TCrawlProgress& LastProgress() const { return last_; }
  size_t FailedPages() const { return failed_; }
  double SecondsSinceStart() const;

 private:
  using TClock = std::chrono::steady_clock;

  void ClearProgressLine();
  void DrawProgress();
  // Writes a text of the program (Windows-1252) in the chosen encoding.
  void WriteText(const std::string& text);
  // Waits until an answer can be read, handling Ctrl+C meanwhile; false when
  // there is nobody to answer.
  bool WaitForAnswer();

  TCliOptions options_;
  std::FILE* log_;
  std::FILE* answers_;
  bool showProgress_;
  std::string progressLine_;
  TCrawlProgress last_;  // Current points into current_
  std::string current_;
  bool progressPending_ = false;
  TClock::time_point started_ = TClock::now();
  TClock::time_point drawn_{};
  size_t failed_ = 0;
  int interruptFd_ = -1;
  int interrupts_ = 0;
  std::function<void(int count)> onInterrupt_;
};

// The whole program: returns the exit status (0 after a run that fetched a
// page, 3 after one that fetched none, 1 when an output cannot be written
// at the end, 2 for a usage error, an output that cannot be written at the
// start included).
int RunCli(int argc, char** argv);
