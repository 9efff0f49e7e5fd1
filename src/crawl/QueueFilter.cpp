#include "QueueFilter.h"

TQueueFilter::TQueueFilter(const TPageQueue& queue, std::optional<size_t> maxDepth,
                           TCrawlObserver* observer, std::function<bool(std::string_view)> allowed)
    : queue_(queue),
      maxDepth_(maxDepth),
      observer_(observer),
      allowed_(std::move(allowed)),
      depths_(queue.Pool().Count(), 0) {}

void TQueueFilter::EnterEntry(size_t position) {
  nextDepth_ = depths_.at(queue_.IdAt(position)) + 1;
}

bool TQueueFilter::Accept(std::string_view address) {
  if (queue_.Pool().Find(address)) return true;
  if (skipped_.Find(address)) return false;
  bool tooDeep = maxDepth_ && nextDepth_ > *maxDepth_;
  if (tooDeep || (observer_ && !observer_->AcceptAddress(address)) ||
      (allowed_ && !allowed_(address))) {
    skipped_.Intern(address);
    return false;
  }
  // The queue interns the address next, under the id that follows the last.
  depths_.push_back(static_cast<std::uint32_t>(nextDepth_));
  return true;
}
