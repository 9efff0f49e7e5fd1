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

#include "CrawlOptions.h"
#include "HttpProt.h"
#include "LinkFollow.h"
#include "WordList.h"

// The controls whose state the run changes.
enum class TCrawlControl {
  GoBtn,
  BreakBtn,
  LocalBreak2Btn,
  EndeBtn,
  AboutBtn,
  DelBtn,
  SaveBtn,
  OpenBtn,
  NewBtn,
  SortBtn
};

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
  size_t Fetched = 0;               // pages fetched
  size_t QueueLeft = 0;             // queue entries after the one in work
  size_t Words = 0;                 // entries in the word list
  size_t Skipped = 0;               // distinct addresses the options kept out of the queue
  std::uint64_t BytesReceived = 0;  // header and body bytes of every request so far
  std::string_view Current;         // the entry in work (or last handled); valid during the call
};

// The run's work on one fetched page: tokenizes the parser's Lines and hands
// each node, in document order, to link following (tags) or the word harvest
// (texts). Link following may process pending events and ask questions.
class TWordHarvest;
void HarvestPageLines(THTMLParser& parser, TLinkFollower& follower, TWordHarvest& harvest);

// Sets the HTTP client up as the crawl needs it (agent, accept, proxy port,
// no cache, synchronous pumping) and routes its request-done and relocation
// events to `run`.
class TCrawlRun;
struct TPrefetchedPage;
void ConfigureHttpCli1(THttpCli& http, TCrawlRun& run);

class TCrawlRun {
 public:
  TCrawlRun(TCrawlWindow& window, WordList& words, THttpCli& http);
  ~TCrawlRun();

  // The start button: the whole run; returns when it has ended.
  void GoBtnClick();
  // "Abbrechen": aborts the requests in progress (all of them, with
  // Options.Parallel above 1) and ends the run.
  void BreakBtnClick();
  // "Aktuelle Datei abbrechen": aborts the request of the page the run
  // waits for, only.
  void BreakLocalBtnClick();
  // The HTTP client's request-done event: logs failures.
  void HttpCli1RequestDone(TObject* Sender, THttpRequest RqType, std::uint16_t Error);
  // The HTTP client's relocation event: a relocation onto a page fetched
  // already in this run is not followed.
  void HttpCli1Relocate(TObject* Sender, bool& Follow);

  bool Running() const { return running_; }
  bool StopRequested = false;

  // Called when a page is about to be fetched and after each queue entry
  // has been handled.
  std::function<void(const TCrawlProgress&)> OnProgress;

  // Read when a run starts; the defaults keep the run as the window runs it.
  TCrawlOptions Options;
  // Called now and then (every 100 ms or so) by a front end that wants
  // Options.TimeoutMs enforced, from its event handling while a page is
  // downloaded: aborts a download that has shown no progress for that long,
  // as BreakLocalBtnClick does (the HTTP client's events run inside); each
  // request fetched ahead of the run is watched the same way.
  void WatchDownload();

 private:
  struct TRunState;

  void StartRun(const std::string& address);
  void NoteFailure(const std::string& entry, int status);
  void FinishRun();
  void FetchPage(const std::string& address);
  void TakePrefetched(const TPrefetchedPage& page);
  void CutPage(const std::string& address, const std::string& location,
               const std::string& contentType, std::string_view document);
  bool UsesPrefetch() const;
  void TakeFinalAddress(const std::string& location);
  void ProcessPage(const std::string& address);
  void ApplyOptions();
  bool PauseBeforeRequest(size_t position);
  void BeginEntry(size_t position, const std::string& address);
  void EndEntry();
  void SeeTag(const THTMLTag& tag);
  void HarvestObserved(std::string_view text);
  void SetControls(std::initializer_list<TCrawlControl> controls, bool enabled);
  void ReportProgress(size_t position, std::string_view current = {});

  TCrawlWindow& window_;
  WordList& words_;
  THttpCli& http_;
  std::unique_ptr<TRunState> run_;  // the lists, tokenizer and link follower of the run in progress
  bool running_ = false;

  // The download watch: what the client showed at the last change, and when.
  struct TDownloadMark {
    size_t request = 0;
    THttpState state = hsIdle;
    std::int64_t received = 0;
    bool operator==(const TDownloadMark&) const = default;
  };
  size_t requests_ = 0;  // fetches started in this run
  TDownloadMark watchMark_;
  std::uint32_t watchSince_ = 0;
};
