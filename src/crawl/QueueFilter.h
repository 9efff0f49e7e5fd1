// Which addresses may enter a run's page queue when the run has a depth
// limit or an observer that filters addresses, and how many steps from the
// start page each queued address lies.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "CrawlLists.h"
#include "CrawlOptions.h"

class TQueueFilter {
 public:
  // The queue holds the start address already: it is step 0 and passes.
  // `allowed`, when set, is asked last, once per address (robots.txt).
  TQueueFilter(const TPageQueue& queue, std::optional<size_t> maxDepth, TCrawlObserver* observer,
               std::function<bool(std::string_view)> allowed = nullptr);

  // The queue entry whose page is processed next: what it queues lies one
  // step further than the entry does.
  void EnterEntry(size_t position);
  // Before an address is appended to the queue. An address queued before
  // passes again (it keeps its first step); one kept out before stays out
  // without asking the observer again.
  bool Accept(std::string_view address);
  // Distinct addresses kept out so far.
  size_t Skipped() const { return skipped_.Count(); }

 private:
  const TPageQueue& queue_;
  std::optional<size_t> maxDepth_;
  TCrawlObserver* observer_;
  std::function<bool(std::string_view)> allowed_;
  std::vector<std::uint32_t> depths_;  // by the id of the address in the queue's pool
  size_t nextDepth_ = 1;               // the step of what the page in work queues
  TStringPool skipped_;
};
