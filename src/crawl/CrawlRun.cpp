#include "CrawlRun.h"

#include "HTMLPars.h"
#include "Streams.h"
#include "WordHarvest.h"

struct TCrawlRun::TRunState {
  TRunState(TCrawlWindow& window, WordList& words)
      : follower(lists, window), harvest(words, [&window](const std::string& text) { window.SetCountLabel(text); }) {}

  TCrawlLists lists;
  THTMLParser parser;
  TMemoryStream page;  // each page's document; emptied, not freed, between pages
  TLinkFollower follower;
  TWordHarvest harvest;
};

void ConfigureHttpCli1(THttpCli& http, TCrawlRun& run) {
  http.ProxyPort = "80";
  http.Agent = "Mozilla/3.0 (compatible)";
  http.Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
  http.NoCache = false;
  http.ContentTypePost = "application/x-www-form-urlencoded";
  http.SetMultiThreaded(false);
  http.OnRequestDone = [&run](TObject* sender, THttpRequest type, std::uint16_t error) {
    run.HttpCli1RequestDone(sender, type, error);
  };
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
    if (!lists.FetchedPages.Contains(entry)) {
      window_.AppendLog(entry);
      try {
        ProcessPage(entry);
      } catch (...) {
        window_.AppendLog("Error...");
      }
    }
    ++position;
    ReportProgress(position);
  }
  FinishRun();
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
}

void TCrawlRun::FinishRun() {
  using enum TCrawlControl;
  StopRequested = false;
  window_.AppendLog("Done! (" + std::to_string(run_->lists.FetchedPages.Count()) + " html files found...)...");
  run_.reset();
  SetControls({BreakBtn, LocalBreak2Btn}, false);
  SetControls({EndeBtn, AboutBtn, DelBtn, SaveBtn, OpenBtn, NewBtn, SortBtn}, true);
  running_ = false;
}

// Fetches one page into the page buffer and cuts it into lines. The buffer
// is emptied for each page but keeps its memory, so a run does not map fresh
// memory for every document.
void TCrawlRun::FetchPage(const std::string& address) {
  THTMLParser& parser = run_->parser;
  parser.Lines.clear();
  parser.Nodes.clear();
  TMemoryStream& buffer = run_->page;
  buffer.Clear();

  TLinkFollower& follower = run_->follower;
  follower.Link = ResolveLink(address, run_->lists.SiteBases.at(0));
  run_->lists.SiteBases[0] = follower.Link.LinkDir;

  http_.URL = address;
  http_.Proxy = window_.Proxy();
  http_.ProxyPort = "80";
  http_.ReceiveStream = &buffer;
  try {
    http_.Get();
  } catch (...) {
    http_.ReceiveStream = nullptr;
    throw;
  }
  http_.ReceiveStream = nullptr;
  run_->lists.FetchedPages.Add(address);
  SplitLines(buffer.Data().data(), buffer.Data().size(), parser.Lines);
  buffer.Clear();
}

void TCrawlRun::ProcessPage(const std::string& address) {
  FetchPage(address);
  THTMLParser& parser = run_->parser;
  parser.Parse();
  const size_t count = parser.Nodes.size();
  for (size_t i = 0; i < count; ++i) {
    const THTMLNode& node = parser.Nodes[i];
    if (node.IsTag()) {
      run_->follower.HandleTag(node.Tag());
    } else {
      run_->harvest.HarvestText(node.Text().Text);
    }
  }
}

void TCrawlRun::ReportProgress(size_t position) {
  if (!OnProgress) return;
  TCrawlProgress progress;
  progress.Fetched = run_->lists.FetchedPages.Count();
  progress.QueueLeft = run_->lists.PageQueue.Count() - position;
  progress.Words = words_.WordCount();
  OnProgress(progress);
}

void TCrawlRun::BreakBtnClick() {
  http_.Abort();
  StopRequested = true;
}

void TCrawlRun::BreakLocalBtnClick() { http_.Abort(); }

void TCrawlRun::HttpCli1RequestDone(TObject*, THttpRequest, std::uint16_t Error) {
  if (Error != 0) window_.AppendLog("HTTP Fehler: " + std::to_string(Error));
}
