// The crawl run: from the start address to the end of the page queue. A
// page source gives the document of each entry, in queue order (the
// network by default); the document's page handler harvests its words and
// follows its links, which extend the queue.
//
// The run knows no GUI types. It is given what it needs (TCrawlStart) and
// reports through one events interface (TCrawlEvents); whoever started it
// stops it or skips the page in work through calls on it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "CrawlEvents.h"
#include "CrawlLists.h"
#include "CrawlOptions.h"
#include "HttpSettings.h"
#include "PageSource.h"
#include "WordList.h"

// What a page source is made from: the run's lists and settings, how far it
// may go, the proxy field and the stop flag, each valid for the whole run.
struct TSourceContext {
  const TCrawlLists& Lists;
  const THttpSettings& Settings;
  const TCrawlOptions& Options;
  std::function<std::string()> Proxy;
  std::function<bool()> Stopped;
};
using TPageSourceFactory = std::function<std::unique_ptr<TPageSource>(const TSourceContext&)>;

// What a run is given.
struct TCrawlStart {
  // The start address as typed; empty: no run, or, with Archives, a harvest
  // of every HTML answer in them, in archive order, no link followed.
  std::string Address;
  THttpSettings Http;  // Http.Proxy: the proxy field as the run starts
  TCrawlOptions Options;
  // Where the pages come from: these web archive files (TArchiveSource),
  // else Source, else the network (TRequestPool), whose requests and
  // answers `Recorder` sees when set (not owned).
  std::vector<std::string> Archives;
  TPageSourceFactory Source;
  THttpRecorder* Recorder = nullptr;
};

class TCrawlRun {
 public:
  // The run adds to `words`, which must outlive it.
  explicit TCrawlRun(WordList& words);
  ~TCrawlRun();

  // The whole run; returns when it has ended. Does nothing for an empty
  // start address or while a run is in progress.
  void Run(const TCrawlStart& start, TCrawlEvents& events);
  // "Abbrechen": every request in progress ends as aborted, and the run.
  void Stop();
  // "Aktuelle Datei abbrechen": the request of the page the run waits for,
  // only.
  void SkipPage();
  // Called now and then (every 100 ms or so) by a front end that wants the
  // settings' timeout enforced: aborts each download that has shown no
  // progress for that long, the one the run waits for as SkipPage does.
  void WatchDownload();

  bool Running() const { return running_; }

 private:
  struct TRunState;

  void StartRun(const TCrawlStart& start, TCrawlEvents& events);
  void HarvestArchives(const TCrawlStart& start, TCrawlEvents& events);
  void FinishRun();
  void MakeSource(const TCrawlStart& start);
  void FollowWithinScope(const std::string& address, TLinkScope scope);
  std::function<bool(std::string_view)> RobotsRule(bool robots);
  void ProcessPage(const std::string& address);
  std::unique_ptr<TFetchedPage> FetchPage(const std::string& address);
  void TakeOutcome(const TFetchedPage& page);
  void TakeFinalAddress(const std::string& location);
  void NoteFailure(const std::string& entry, int status);
  void BeginEntry(size_t position);
  void EndEntry();
  void ReportProgress(size_t position, std::string_view current = {});

  WordList& words_;
  std::unique_ptr<TRunState> run_;  // the lists, handlers and page source of the run in progress
  bool running_ = false;
  bool stopRequested_ = false;
};
