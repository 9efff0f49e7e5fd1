#include "CrawlRun.h"

#include <algorithm>
#include <optional>

#include "CodeSkip.h"
#include "HTMLPars.h"
#include "HttpDefaults.h"
#include "Messages.h"
#include "PageCharset.h"
#include "PrefetchPool.h"
#include "QueueFilter.h"
#include "Streams.h"
#include "UrlFragment.h"
#include "WordHarvest.h"

struct TCrawlRun::TRunState {
  TRunState(TCrawlWindow& window, WordList& words)
      : follower(lists, window),
        harvest(words, [&window](const std::string& text) { window.SetCountLabel(text); }) {}

  TCrawlLists lists;
  THTMLParser parser;
  TMemoryStream page;  // each page's document; emptied, not freed, between pages
  TLinkFollower follower;
  TWordHarvest harvest;

  // Only what TCrawlOptions asks for.
  std::optional<TQueueFilter> filter;
  TCodeSkipper codeSkip;
  std::uint64_t bytesReceived = 0;
  size_t position = 0;                          // of the entry in work
  std::uint16_t doneError = 0;                  // the request-done code of the entry's fetch
  std::optional<std::int64_t> prefetchedBytes;  // what the entry's prefetched request received

  // Last: it refers to the lists and goes before them.
  std::unique_ptr<TPrefetchPool> prefetch;
};

void ConfigureHttpCli1(THttpCli& http, TCrawlRun& run) {
  http.ProxyPort = kDefaultProxyPort;
  http.Agent = kDefaultUserAgent;
  http.Accept = kDefaultAccept;
  http.NoCache = false;
  http.ContentTypePost = "application/x-www-form-urlencoded";
  http.SetMultiThreaded(false);
  http.OnRequestDone = [&run](TObject* sender, THttpRequest type, std::uint16_t error) {
    run.HttpCli1RequestDone(sender, type, error);
  };
  http.OnRelocate = [&run](TObject* sender, bool& follow) { run.HttpCli1Relocate(sender, follow); };
}

TCrawlRun::TCrawlRun(TCrawlWindow& window, WordList& words, THttpCli& http)
    : window_(window), words_(words), http_(http) {}

TCrawlRun::~TCrawlRun() = default;

void TCrawlRun::SetControls(std::initializer_list<TCrawlControl> controls, bool enabled) {
  for (TCrawlControl control : controls) window_.SetControlEnabled(control, enabled);
}

void TCrawlRun::GoBtnClick() {
  std::string address = window_.Address();
  if (address.empty() || running_) return;
  running_ = true;
  StartRun(address);

  TCrawlLists& lists = run_->lists;
  size_t position = 0;
  StopRequested = false;
  // The queue grows while the run works; both tests are made anew each time.
  while (position < lists.PageQueue.Count() && !StopRequested) {
    std::string entry(lists.PageQueue.At(position));
    if (!lists.FetchedPages.Contains(entry) && !lists.FailedPages.GivenUp(entry)) {
      if (!PauseBeforeRequest(position)) break;
      window_.AppendLog(entry);
      BeginEntry(position, entry);
      try {
        ProcessPage(entry);
      } catch (const EHttpException& failure) {
        NoteFailure(entry, failure.ErrorCode);
        window_.AppendLog("Error...");
      } catch (...) {
        NoteFailure(entry, 0);
        window_.AppendLog("Error...");
      }
      EndEntry();
    }
    ++position;
    ReportProgress(position, entry);
  }
  FinishRun();
}

// A page that failed before it was fetched is tried again only where that
// may help (TFailedPages); one that failed while it was harvested is done.
void TCrawlRun::NoteFailure(const std::string& entry, int status) {
  TCrawlLists& lists = run_->lists;
  if (lists.FetchedPages.Contains(entry)) return;
  lists.FailedPages.Add(entry, HttpFailureIsFinal(run_->doneError, status));
}

void TCrawlRun::StartRun(const std::string& address) {
  using enum TCrawlControl;
  SetControls({EndeBtn, AboutBtn, DelBtn, SaveBtn, OpenBtn, NewBtn, SortBtn}, false);
  run_ = std::make_unique<TRunState>(window_, words_);
  TCrawlLists& lists = run_->lists;
  lists.SiteBases = {""};
  SetControls({GoBtn}, false);
  SetControls({BreakBtn, LocalBreak2Btn}, true);
  window_.ClearLog();

  TLinkFollower& follower = run_->follower;
  follower.Link = ResolveLink(address, lists.SiteBases[0]);
  lists.SiteBases[0] = follower.Link.LinkDir;
  lists.SiteBases.push_back(follower.Link.LinkDir);
  follower.Enqueue();
  ApplyOptions();
}

// After the start address is queued: the options never keep it out.
void TCrawlRun::ApplyOptions() {
  requests_ = 0;
  watchMark_ = {};
  if (Options.MaxDepth || Options.Observer) {
    TQueueFilter& filter =
        run_->filter.emplace(run_->lists.PageQueue, Options.MaxDepth, Options.Observer);
    run_->follower.QueueFilter = [&filter](std::string_view address) {
      return filter.Accept(address);
    };
  }
  run_->harvest.CountOccurrencesInto(Options.Occurrences);
  if (Options.Parallel > 1) {
    run_->prefetch = std::make_unique<TPrefetchPool>(
        run_->lists, http_, Options.Parallel, Options.DelayMs, Options.MaxPages,
        [this] { return window_.Proxy(); }, [this] { return StopRequested; });
  }
}

// The prefetching leaves the run's own client alone while an earlier
// failure keeps it busy: every fetch then fails as busy, as it would
// without prefetching.
bool TCrawlRun::UsesPrefetch() const { return run_->prefetch && http_.State() == hsIdle; }

// The pause between requests; false when the run was stopped meanwhile.
// With prefetching, the entry's request starts here (after the delay since
// the last start), and those ahead of it as far as they may.
bool TCrawlRun::PauseBeforeRequest(size_t position) {
  if (UsesPrefetch()) return run_->prefetch->Reach(position);
  if (Options.DelayMs <= 0 || requests_ == 0) return true;
  const std::uint32_t start = GetTickCount();
  for (std::uint32_t waited = 0;
       waited < static_cast<std::uint32_t>(Options.DelayMs) && !StopRequested;
       waited = GetTickCount() - start) {
    ProcessMessages();
    WaitForMessages(static_cast<int>(static_cast<std::uint32_t>(Options.DelayMs) - waited));
  }
  return !StopRequested;
}

void TCrawlRun::BeginEntry(size_t position, const std::string& address) {
  ++requests_;
  run_->position = position;
  run_->doneError = 0;
  run_->prefetchedBytes.reset();
  if (run_->filter) run_->filter->EnterEntry(position);
  ReportProgress(position, address);
}

void TCrawlRun::EndEntry() {
  // A client left busy by an earlier failure made no request this time.
  if (run_->prefetchedBytes) {
    run_->bytesReceived += static_cast<std::uint64_t>(*run_->prefetchedBytes);
  } else if (http_.State() == hsIdle) {
    run_->bytesReceived += static_cast<std::uint64_t>(http_.ReceivedBytes());
  }
  if (Options.MaxPages > 0 && run_->lists.FetchedPages.Count() >= Options.MaxPages)
    StopRequested = true;
}

void TCrawlRun::FinishRun() {
  using enum TCrawlControl;
  StopRequested = false;
  window_.AppendLog("Done! (" + std::to_string(run_->lists.FetchedPages.Count()) +
                    " html files found...)...");
  run_.reset();
  SetControls({BreakBtn, LocalBreak2Btn}, false);
  SetControls({EndeBtn, AboutBtn, DelBtn, SaveBtn, OpenBtn, NewBtn, SortBtn}, true);
  running_ = false;
}

// Fetches one page and cuts it into lines: the document a request ahead
// of the run fetched, or else through the run's own client into the page
// buffer. The buffer is emptied for each page but keeps its memory, so a run
// does not map fresh memory for every document.
void TCrawlRun::FetchPage(const std::string& address) {
  THTMLParser& parser = run_->parser;
  parser.Lines.clear();
  TLinkFollower& follower = run_->follower;
  follower.Link = ResolveLink(address, run_->lists.SiteBases.at(0));
  follower.PageOffSite = false;
  run_->lists.SiteBases[0] = follower.Link.LinkDir;

  const std::string proxy = window_.Proxy();
  std::unique_ptr<TPrefetchedPage> prefetched;
  if (UsesPrefetch()) prefetched = run_->prefetch->Take(run_->position, proxy);
  if (prefetched) {
    TakePrefetched(*prefetched);
    CutPage(address, prefetched->Location, prefetched->ContentType, prefetched->Body.Data());
    return;
  }
  if (UsesPrefetch()) run_->prefetch->WaitForRoom();
  TMemoryStream& buffer = run_->page;
  buffer.Clear();
  http_.URL = address;
  http_.Proxy = proxy;
  http_.ProxyPort = kDefaultProxyPort;
  http_.ReceiveStream = &buffer;
  try {
    http_.Get();
  } catch (...) {
    http_.ReceiveStream = nullptr;
    throw;
  }
  http_.ReceiveStream = nullptr;
  CutPage(address, http_.Location(), http_.ContentType(), buffer.Data());
  buffer.Clear();
}

// What the run's own Get would have done with the same outcome: the
// request-done event's line, then the failure of a status of 400 or more.
void TCrawlRun::TakePrefetched(const TPrefetchedPage& page) {
  run_->prefetchedBytes = page.ReceivedBytes;
  run_->doneError = page.Error;
  if (page.Error != 0) HttpCli1RequestDone(&http_, rqGet, page.Error);
  if (page.StatusCode >= 400) {
    throw EHttpException(page.ReasonPhrase, static_cast<std::uint16_t>(page.StatusCode));
  }
}

// A fetched document: recorded, its final address taken, its text cut into
// the parser's lines.
void TCrawlRun::CutPage(const std::string& address, const std::string& location,
                        const std::string& contentType, std::string_view document) {
  run_->lists.FetchedPages.Add(address);
  if (location != address) TakeFinalAddress(location);
  std::optional<std::string> decoded = DecodePage(contentType, document);
  std::string_view text = decoded ? std::string_view(*decoded) : document;
  SplitLines(text.data(), text.size(), run_->parser.Lines);
}

// A relocated page is the page at its final address: its links resolve
// against that directory. A relocated start page makes its final directory
// a site directory too, so a site that moved to another scheme or host name
// is still harvested whole without questions. Any other page that moved off
// the site extends nothing: only its links into the site are followed
// without asking (TLinkFollower::PageOffSite). The final address counts as
// fetched, so that links to it do not fetch the same page again.
void TCrawlRun::TakeFinalAddress(const std::string& location) {
  std::vector<std::string>& bases = run_->lists.SiteBases;
  std::string address = location.substr(0, FragmentStart(location));
  run_->lists.FetchedPages.AddAlias(address);
  std::string finalDir = ResolveLink(address, bases.at(0)).LinkDir;
  bases[0] = finalDir;
  if (run_->lists.FetchedPages.Count() == 1) {
    if (std::find(bases.begin() + 1, bases.end(), finalDir) == bases.end()) {
      bases.push_back(finalDir);
    }
    return;
  }
  run_->follower.PageOffSite = std::none_of(bases.begin() + 1, bases.end(), [&](const auto& site) {
    return IsUnderBase(finalDir, site);
  });
}

void TCrawlRun::ProcessPage(const std::string& address) {
  FetchPage(address);
  if (!Options.SkipCode && !Options.Observer) {
    HarvestPageLines(run_->parser, run_->follower, run_->harvest);
    return;
  }
  run_->codeSkip.StartPage();
  run_->parser.Parse([&](const THTMLNode& node) {
    if (node.IsTag()) {
      SeeTag(node.Tag());
      run_->follower.HandleTag(node.Tag());
    } else {
      HarvestObserved(node.Text().Text);
    }
  });
}

// Each node is handled as soon as it is tokenized and then forgotten: a page
// of one-byte tags would need a hundred times its size if all its nodes were
// kept until the end of the page.
void HarvestPageLines(THTMLParser& parser, TLinkFollower& follower, TWordHarvest& harvest) {
  parser.Parse([&](const THTMLNode& node) {
    if (node.IsTag()) {
      follower.HandleTag(node.Tag());
    } else {
      harvest.HarvestText(node.Text().Text);
    }
  });
}

void TCrawlRun::SeeTag(const THTMLTag& tag) {
  if (Options.SkipCode) run_->codeSkip.SeeTag(tag);
  if (Options.Observer) Options.Observer->TagSeen(tag);
}

void TCrawlRun::HarvestObserved(std::string_view text) {
  if (Options.SkipCode) text = run_->codeSkip.Harvested(text);
  if (text.empty()) return;
  if (Options.Observer) Options.Observer->TextSeen(text);
  run_->harvest.HarvestText(text);
}

void TCrawlRun::ReportProgress(size_t position, std::string_view current) {
  if (!OnProgress) return;
  TCrawlProgress progress;
  progress.Fetched = run_->lists.FetchedPages.Count();
  progress.QueueLeft = run_->lists.PageQueue.Count() - position;
  progress.Words = words_.WordCount();
  progress.Skipped = run_->filter ? run_->filter->Skipped() : 0;
  progress.BytesReceived = run_->bytesReceived;
  progress.Current = current;
  OnProgress(progress);
}

void TCrawlRun::WatchDownload() {
  if (Options.TimeoutMs <= 0 || !running_) return;
  if (run_->prefetch) run_->prefetch->AbortStalled(Options.TimeoutMs);
  const TDownloadMark mark{requests_, http_.State(), http_.ReceivedBytes()};
  const std::uint32_t now = GetTickCount();
  if (mark.state == hsIdle || mark != watchMark_) {
    watchMark_ = mark;
    watchSince_ = now;
    return;
  }
  if (now - watchSince_ < static_cast<std::uint32_t>(Options.TimeoutMs)) return;
  watchSince_ = now;
  BreakLocalBtnClick();
}

void TCrawlRun::BreakBtnClick() {
  http_.Abort();
  if (run_ && run_->prefetch) run_->prefetch->AbortAll();
  StopRequested = true;
}

void TCrawlRun::BreakLocalBtnClick() {
  http_.Abort();
  if (run_ && run_->prefetch) run_->prefetch->AbortAwaited();
}

void TCrawlRun::HttpCli1RequestDone(TObject*, THttpRequest, std::uint16_t Error) {
  if (run_) run_->doneError = Error;
  if (Error != 0) window_.AppendLog("HTTP Fehler: " + std::to_string(Error));
}

// A page fetched already is not fetched again through a relocation onto it:
// the page in work ends at the relocation, as the page at that address.
void TCrawlRun::HttpCli1Relocate(TObject*, bool& Follow) {
  if (!run_) return;
  const std::string& location = http_.Location();
  Follow = !run_->lists.FetchedPages.Contains(
      std::string_view(location).substr(0, FragmentStart(location)));
}
