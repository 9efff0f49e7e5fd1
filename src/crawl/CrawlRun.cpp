#include "CrawlRun.h"

#include <algorithm>
#include <optional>

#include "ArchiveFeed.h"
#include "ArchiveSource.h"
#include "AsciiCase.h"
#include "HtmlPageHandler.h"
#include "QueueFilter.h"
#include "RequestPool.h"
#include "SiteFiles.h"
#include "UrlDomain.h"
#include "UrlFragment.h"
#include "DocumentPageHandler.h"
#include "UrlParts.h"
#include "WordHarvest.h"

struct TCrawlRun::TRunState {
  TRunState(const TCrawlStart& start, TCrawlEvents& events, WordList& words)
      : events(events),
        settings(start.Http),
        options(start.Options),
        follower(lists, events),
        harvest(words,
                [&events, &words](const std::string&) { events.WordAdded(words.WordCount()); }),
        html(follower, harvest, options),
        documents(follower, harvest, options, events) {}

  TCrawlEvents& events;
  THttpSettings settings;  // the credentials change as pages with user information are taken
  TCrawlOptions options;
  TCrawlLists lists;
  TLinkFollower follower;
  TWordHarvest harvest;
  THtmlPageHandler html;
  TDocumentPageHandler documents;
  // By type: the first that reads a document harvests it.
  std::vector<TPageHandler*> handlers{&documents, &html};

  TPageHandler& HandlerFor(std::string_view contentType, std::string_view address) {
    for (TPageHandler* handler : handlers) {
      if (handler->Reads(contentType, address)) return *handler;
    }
    return html;
  }

  // What the options ask of the word harvest.
  void FeedHarvest() {
    harvest.CountOccurrencesInto(options.Occurrences);
    harvest.FeedVocabulary(options.Vocabulary);
    harvest.Split = options.Split;
    if (options.Documents.Read) {
      follower.AlsoFollows = [](std::string_view value) {
        return DocumentKindOf({}, value).has_value();
      };
    }
  }
  // The words harvested next are the page's at this address.
  void StartPage(std::string_view address) {
    if (options.Vocabulary) options.Vocabulary->StartPage(address);
  }

  // Only what TCrawlOptions asks for.
  std::unique_ptr<TSiteFiles> siteFiles;
  std::optional<TQueueFilter> filter;
  std::uint64_t bytesReceived = 0;
  size_t position = 0;          // of the entry in work
  std::uint16_t doneError = 0;  // the request-done code of the entry's fetch

  // Last: they refer to the lists and settings and go before them.
  std::unique_ptr<TArchiveIndex> archives;
  std::unique_ptr<TPageSource> source;
};

namespace {

// How long the harvest of archives waits for the next page before it
// processes events again.
constexpr int kFeedWaitMs = 50;

}  // namespace

TCrawlRun::TCrawlRun(WordList& words) : words_(words) {}

TCrawlRun::~TCrawlRun() = default;

void TCrawlRun::Run(const TCrawlStart& start, TCrawlEvents& events) {
  if (running_ || (start.Address.empty() && start.Archives.empty())) return;
  running_ = true;
  stopRequested_ = false;
  if (start.Address.empty()) {
    HarvestArchives(start, events);
    return;
  }
  StartRun(start, events);

  TCrawlLists& lists = run_->lists;
  size_t position = 0;
  // The queue grows while the run works; both tests are made anew each time.
  while (position < lists.PageQueue.Count() && !stopRequested_) {
    std::string entry(lists.PageQueue.At(position));
    if (!lists.FetchedPages.Contains(entry) && !lists.FailedPages.GivenUp(entry)) {
      if (!run_->source->Reach(position)) break;
      events.Log(entry);
      BeginEntry(position);
      ReportProgress(position, entry);
      try {
        ProcessPage(entry);
      } catch (const EHttpException& failure) {
        NoteFailure(entry, failure.ErrorCode);
        events.Log("Error...");
      } catch (...) {
        NoteFailure(entry, 0);
        events.Log("Error...");
      }
      EndEntry();
    }
    ++position;
    ReportProgress(position, entry);
  }
  FinishRun();
}

// The start address is queued before the options apply: they never keep it
// out.
void TCrawlRun::StartRun(const TCrawlStart& start, TCrawlEvents& events) {
  events.Busy(true);
  run_ = std::make_unique<TRunState>(start, events, words_);
  TCrawlLists& lists = run_->lists;
  lists.SiteBases = {""};
  TLinkFollower& follower = run_->follower;
  follower.Link = ResolveLink(start.Address, lists.SiteBases[0]);
  lists.SiteBases[0] = follower.Link.LinkDir;
  lists.SiteBases.push_back(follower.Link.LinkDir);
  follower.Enqueue();

  const TCrawlOptions& options = run_->options;
  if (options.Robots || options.Sitemap) {
    run_->siteFiles =
        std::make_unique<TSiteFiles>(run_->settings, [this] { return run_->events.Proxy(); });
  }
  if (options.MaxDepth || options.Observer || options.Robots) {
    TQueueFilter& filter = run_->filter.emplace(lists.PageQueue, options.MaxDepth,
                                                options.Observer, RobotsRule(options.Robots));
    follower.QueueFilter = [&filter](std::string_view address) { return filter.Accept(address); };
  }
  run_->FeedHarvest();
  FollowWithinScope(start.Address, options.Scope);
  if (options.Sitemap) {
    for (const std::string& address : run_->siteFiles->SitemapAddresses(start.Address)) {
      if (stopRequested_) break;
      follower.FollowLink(address);
    }
  }
  MakeSource(start);
}

// Asked once per address before it enters the queue: one its robots.txt
// disallows is logged and stays out.
std::function<bool(std::string_view)> TCrawlRun::RobotsRule(bool robots) {
  if (!robots) return nullptr;
  return [this](std::string_view address) {
    const std::string text(address);
    if (run_->siteFiles->RobotsAllow(text)) return true;
    run_->events.Log("robots.txt forbids " + text);
    return false;
  };
}

// Links to the start's host (or its registrable domain) need no question.
void TCrawlRun::FollowWithinScope(const std::string& address, TLinkScope scope) {
  if (scope == TLinkScope::Dir) return;
  const std::string host = LowerAscii(SplitUrl(address).Host);
  const std::string domain = scope == TLinkScope::Domain ? RegistrableDomain(host) : "";
  run_->follower.InScope = [host, domain](std::string_view linkDir) {
    const std::string linkHost = LowerAscii(SplitUrl(std::string(linkDir)).Host);
    if (linkHost.empty()) return false;
    return linkHost == host || (!domain.empty() && RegistrableDomain(linkHost) == domain);
  };
}

void TCrawlRun::MakeSource(const TCrawlStart& start) {
  TSourceContext context{run_->lists, run_->settings, run_->options,
                         [this] { return run_->events.Proxy(); },
                         [this] { return stopRequested_; }};
  if (!start.Archives.empty()) {
    TCrawlEvents& events = run_->events;
    const std::int64_t limit = run_->settings.MaxDocSize;
    run_->archives = std::make_unique<TArchiveIndex>(
        start.Archives, limit > 0 ? limit + (std::int64_t{1} << 20) : INT64_MAX / 2,
        [&events](const std::string& line) { events.Log(line); });
    run_->source = std::make_unique<TArchiveSource>(*run_->archives, run_->lists, limit);
    return;
  }
  if (start.Source) {
    run_->source = start.Source(context);
    return;
  }
  const TPoolLimits limits{context.Options.Parallel, context.Options.DelayMs,
                           context.Options.MaxPages};
  run_->source = std::make_unique<TRequestPool>(context.Lists, context.Settings, limits,
                                                context.Proxy, context.Stopped, start.Recorder);
}

// Every HTML answer of the archives, in their order: each logged by its
// address and harvested, no link followed. The archives are read beside the
// harvest (TArchiveFeed); events are processed while the next page is on
// its way.
void TCrawlRun::HarvestArchives(const TCrawlStart& start, TCrawlEvents& events) {
  events.Busy(true);
  run_ = std::make_unique<TRunState>(start, events, words_);
  run_->html.FollowLinks = false;
  run_->FeedHarvest();
  TArchiveFeed feed(start.Archives, run_->settings.MaxDocSize);
  size_t pages = 0;
  while (!stopRequested_) {
    std::optional<TArchiveFeed::TItem> item = feed.Next(kFeedWaitMs);
    events.ProcessPendingEvents();
    if (!item) continue;
    if (item->Kind == TArchiveFeed::TItem::TKind::End) break;
    if (item->Kind == TArchiveFeed::TItem::TKind::Problem) {
      events.Log(item->Line);
      continue;
    }
    events.Log(item->Uri);
    run_->StartPage(item->Uri);
    run_->HandlerFor(item->ContentType, item->Uri).Harvest(item->ContentType, item->Uri, item->Body);
    ++pages;
    run_->bytesReceived += item->Body.size();
    TCrawlProgress progress;
    progress.Fetched = pages;
    progress.Words = words_.WordCount();
    progress.BytesReceived = run_->bytesReceived;
    progress.Current = item->Uri;
    events.Progress(progress);
  }
  stopRequested_ = false;
  events.Log("Done! (" + std::to_string(pages) + " html files found...)...");
  run_.reset();
  running_ = false;
  events.Busy(false);
}

void TCrawlRun::FinishRun() {
  stopRequested_ = false;
  TCrawlEvents& events = run_->events;
  events.Log("Done! (" + std::to_string(run_->lists.FetchedPages.Count()) +
             " html files found...)...");
  run_.reset();
  running_ = false;
  events.Busy(false);
}

void TCrawlRun::BeginEntry(size_t position) {
  run_->position = position;
  run_->doneError = 0;
  if (run_->filter) run_->filter->EnterEntry(position);
}

void TCrawlRun::EndEntry() {
  const size_t maxPages = run_->options.MaxPages;
  if (maxPages > 0 && run_->lists.FetchedPages.Count() >= maxPages) stopRequested_ = true;
}

// A page that failed before it was fetched is tried again only where that
// may help (TFailedPages); one that failed while it was harvested is done.
void TCrawlRun::NoteFailure(const std::string& entry, int status) {
  TCrawlLists& lists = run_->lists;
  if (lists.FetchedPages.Contains(entry)) return;
  lists.FailedPages.Add(entry, HttpFailureIsFinal(run_->doneError, status));
}

// The page's document from the source, recorded as fetched with its final
// address taken, then harvested by the handler of its type.
void TCrawlRun::ProcessPage(const std::string& address) {
  std::unique_ptr<TFetchedPage> page = FetchPage(address);
  TCrawlLists& lists = run_->lists;
  lists.FetchedPages.Add(address);
  if (page->Location != address) TakeFinalAddress(page->Location);
  const std::string_view document = page->Body.Data();
  run_->StartPage(page->Location);
  run_->HandlerFor(page->ContentType, address).Harvest(page->ContentType, address, document);
}

// The links of the page resolve against its directory; the source gives
// its document, waiting for it.
std::unique_ptr<TFetchedPage> TCrawlRun::FetchPage(const std::string& address) {
  TLinkFollower& follower = run_->follower;
  follower.Link = ResolveLink(address, run_->lists.SiteBases.at(0));
  follower.PageOffSite = false;
  run_->lists.SiteBases[0] = follower.Link.LinkDir;
  std::unique_ptr<TFetchedPage> page = run_->source->Take(run_->position, run_->events.Proxy());
  TakeOutcome(*page);
  return page;
}

// What the client's request-done event and Get do with the outcome: the
// failure's line in the log, then the failure of a status of 400 or more.
// The credentials a page with user information left are the next pages'.
void TCrawlRun::TakeOutcome(const TFetchedPage& page) {
  run_->bytesReceived += static_cast<std::uint64_t>(page.ReceivedBytes);
  run_->doneError = page.Error;
  if (page.Credentials) {
    THttpSettings& settings = run_->settings;
    settings.Username = page.Credentials->Username;
    settings.Password = page.Credentials->Password;
    settings.AuthOrigin = page.Credentials->AuthOrigin;
  }
  if (page.Error != 0) run_->events.Log("HTTP Fehler: " + std::to_string(page.Error));
  if (page.StatusCode >= 400) {
    throw EHttpException(page.ReasonPhrase, static_cast<std::uint16_t>(page.StatusCode));
  }
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

void TCrawlRun::ReportProgress(size_t position, std::string_view current) {
  TCrawlProgress progress;
  progress.Fetched = run_->lists.FetchedPages.Count();
  progress.QueueLeft = run_->lists.PageQueue.Count() - position;
  progress.Words = words_.WordCount();
  progress.Skipped = run_->filter ? run_->filter->Skipped() : 0;
  progress.BytesReceived = run_->bytesReceived;
  progress.Current = current;
  run_->events.Progress(progress);
}

void TCrawlRun::WatchDownload() {
  if (running_ && run_ && run_->siteFiles) run_->siteFiles->AbortStalled(run_->settings.TimeoutMs);
  if (running_ && run_ && run_->source) run_->source->AbortStalled();
}

void TCrawlRun::Stop() {
  if (run_ && run_->siteFiles) run_->siteFiles->Stop();
  if (run_ && run_->source) run_->source->StopAll();
  if (running_) stopRequested_ = true;
}

void TCrawlRun::SkipPage() {
  if (run_ && run_->source) run_->source->SkipAwaited();
}
