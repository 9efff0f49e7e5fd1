// Additions to the crawl run for unattended use (the command line): limits,
// a filter on queued addresses and observers of the
// pages' nodes. Every default keeps the run exactly as the window runs it:
// a run whose TCrawlOptions are left alone fetches, queues, logs and
// harvests the same as one without them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HTMLPars.h"
#include "WordHarvest.h"

// What a front end may watch and filter during a run. Every call comes from
// inside TCrawlRun::Run, on the run's thread.
class TCrawlObserver {
 public:
  virtual ~TCrawlObserver() = default;
  // Asked once per distinct address before it would first enter the page
  // queue (the start address excepted); false keeps it out of the queue.
  virtual bool AcceptAddress(std::string_view /*address*/) { return true; }
  // Every tag node of a fetched page, in node order, before link following
  // sees it.
  virtual void TagSeen(const THTMLTag& /*tag*/) {}
  // Every text a page hands to the word harvest, in node order (after
  // SkipCode has left out what it leaves out), and each line of a document.
  virtual void TextSeen(std::string_view /*text*/) {}
  // A person a document's metadata names (its author), with the document's
  // address.
  virtual void PersonNamed(std::string_view /*person*/, std::string_view /*address*/) {}
};

// Where links are followed without a question, besides the start
// directory and the directories the user accepted: nowhere more (Dir, the
// window's rule), every directory of the start address's host (Host), or
// also every host of its registrable domain (Domain: "docs.example.org"
// from "www.example.org", by the public suffix list).
enum class TLinkScope { Dir, Host, Domain };

// Documents (PDF, Office Open XML, OpenDocument): their links are followed
// and their text harvested, read in the worker program.
struct TDocumentOptions {
  bool Read = false;
  std::string WorkerProgram;
};

struct TCrawlOptions {
  // Pause before every request but the first, still processing events.
  // With Parallel above 1: the least time between two request starts.
  int DelayMs = 0;
  // Requests in flight at once: the page the run handles and, fetched ahead
  // of it, the next distinct queue entries (TRequestPool). The run still
  // handles the entries in order, with the same results. 1: one at a time.
  size_t Parallel = 1;
  // The run ends like "Abbrechen" once this many pages are fetched. 0: no limit.
  size_t MaxPages = 0;
  // Links are queued at most this many steps from the start page (which is
  // step 0). An entry's step is that of the page that first queued it plus one.
  std::optional<size_t> MaxDepth;
  // Text from a "SCRIPT" or "STYLE" tag node to its end tag, and comments,
  // are not harvested.
  bool SkipCode = false;
  TLinkScope Scope = TLinkScope::Dir;
  // Addresses the robots.txt of their host disallows stay out of the queue
  // (the start address excepted), each logged once.
  bool Robots = false;
  // The addresses of the start host's sitemaps follow the start address in
  // the queue, through the same link rules as a page's links.
  bool Sitemap = false;
  // Not owned; must outlive the run. Also filters the queue (AcceptAddress).
  TCrawlObserver* Observer = nullptr;
  // Not owned. When set, every harvested word adds 1 at the index of the list
  // entry equal to it (the one FindWord names), the vector growing with the list.
  std::vector<std::uint32_t>* Occurrences = nullptr;
  // Not owned. When set, every harvested word (and word group) is counted
  // there with its page and context.
  TVocabulary* Vocabulary = nullptr;
  // How text nodes are cut into words.
  TWordSplit Split = TWordSplit::Spaces;
  TDocumentOptions Documents;
};
