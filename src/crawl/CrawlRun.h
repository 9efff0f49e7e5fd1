// The crawl run: from the start address to the end of the page queue, one
// page at a time over HTTP, each page cut into lines and tokens; tag nodes
// go to link following, text nodes to the word harvest.
//
// The run knows no GUI types. It reaches its window (the desktop window or
// the command-line front end) through TCrawlWindow, and the window reaches
// it through the three handlers of its buttons.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "HttpProt.h"
#include "LinkFollow.h"
#include "WordList.h"

// The controls whose state the run changes.
enum class TCrawlControl { GoBtn, BreakBtn, LocalBreak2Btn, EndeBtn, AboutBtn, DelBtn, SaveBtn, OpenBtn, NewBtn, SortBtn };

// What the run uses of its window, besides processing pending events,
// reading the automatic mode and asking (TLinkFollowHost).
class TCrawlWindow : public TLinkFollowHost {
 public:
  // The address and proxy fields, read anew at every call.
  virtual std::string Address() = 0;
  virtual std::string Proxy() = 0;
  virtual void ClearLog() = 0;
  virtual void AppendLog(const std::string& line) = 0;
  virtual void SetControlEnabled(TCrawlControl control, bool enabled) = 0;
  // The count label's new text, after each harvested word.
  virtual void SetCountLabel(const std::string& text) = 0;
};

// Where a run stands, for progress displays.
struct TCrawlProgress {
  size_t Fetched = 0;    // pages fetched
  size_t QueueLeft = 0;  // queue entries after the one in work
  size_t Words = 0;      // entries in the word list
};

// Sets the HTTP client up as the crawl needs it (agent, accept, proxy port,
// no cache, synchronous pumping) and routes its request-done event to `run`.
class TCrawlRun;
void ConfigureHttpCli1(THttpCli& http, TCrawlRun& run);

class TCrawlRun {
 public:
  TCrawlRun(TCrawlWindow& window, WordList& words, THttpCli& http);
  ~TCrawlRun();

  // The start button: the whole run; returns when it has ended.
  void GoBtnClick();
  // "Abbrechen": aborts the request in progress and ends the run.
  void BreakBtnClick();
  // "Aktuelle Datei abbrechen": aborts the request in progress only.
  void BreakLocalBtnClick();
  // The HTTP client's request-done event: logs failures.
  void HttpCli1RequestDone(TObject* Sender, THttpRequest RqType, std::uint16_t Error);

  bool Running() const { return running_; }
  bool StopRequested = false;

  // Called after each queue entry has been handled.
  std::function<void(const TCrawlProgress&)> OnProgress;

 private:
  struct TRunState;

  void StartRun(const std::string& address);
  void FinishRun();
  void FetchPage(const std::string& address);
  void ProcessPage(const std::string& address);
  void SetControls(std::initializer_list<TCrawlControl> controls, bool enabled);
  void ReportProgress(size_t position);

  TCrawlWindow& window_;
  WordList& words_;
  THttpCli& http_;
  std::unique_ptr<TRunState> run_;  // the lists, tokenizer and link follower of the run in progress
  bool running_ = false;
};
