// What a crawl run reports to whoever started it (the window, the command
// line), and the little it asks of them. Every call comes from inside
// TCrawlRun::Run, on the run's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "LinkFollow.h"

// Where a run stands, for progress displays.
struct TCrawlProgress {
  size_t Fetched = 0;               // pages fetched
  size_t QueueLeft = 0;             // queue entries after the one in work
  size_t Words = 0;                 // entries in the word list
  size_t Skipped = 0;               // distinct addresses the options kept out of the queue
  std::uint64_t BytesReceived = 0;  // header and body bytes of every request so far
  std::string_view Current;         // the entry in work (or last handled); valid during the call
};

// Questions (TLinkFollowHost: AskYesNo, read anew at every question:
// AutomaticMode) and event passes (ProcessPendingEvents) come through the
// link follower's host interface.
class TCrawlEvents : public TLinkFollowHost {
 public:
  // The run begins (true, before its first log line) and ends (false, after
  // its last). Between the two a second run cannot begin.
  virtual void Busy(bool busy) = 0;
  // One line of the status log, in order.
  virtual void Log(const std::string& line) = 0;
  // A word was added to the word list, which now holds `count` words.
  virtual void WordAdded(size_t count) = 0;
  // Before an entry is fetched and after each queue entry has been handled.
  virtual void Progress(const TCrawlProgress& progress) = 0;
  // The proxy field ("host" or "host:port", empty: none), read anew for
  // every page, so that a proxy typed during a run reaches the pages after.
  virtual std::string Proxy() = 0;
};
