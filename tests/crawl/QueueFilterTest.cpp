#include "QueueFilter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Refuses what contains "no", and records what it was asked.
class TRecordingObserver : public TCrawlObserver {
 public:
  bool AcceptAddress(std::string_view address) override {
    asked.emplace_back(address);
    return address.find("no") == std::string_view::npos;
  }
  std::vector<std::string> asked;
};

// Offers the address as a link of the page at `position`, appending it when it passes.
bool Offer(TQueueFilter& filter, TPageQueue& queue, size_t position, std::string_view address) {
  filter.EnterEntry(position);
  if (!filter.Accept(address)) return false;
  queue.Append(address);
  return true;
}

TEST(QueueFilter, DepthIsThatOfThePageThatFirstQueuedPlusOne) {
  TPageQueue queue;
  queue.Append("s");
  TQueueFilter filter(queue, 2, nullptr);
  EXPECT_TRUE(Offer(filter, queue, 0, "a"));   // step 1
  EXPECT_TRUE(Offer(filter, queue, 1, "b"));   // step 2
  EXPECT_FALSE(Offer(filter, queue, 2, "c"));  // step 3
  // "a" queued again from the step-2 page keeps its step 1, so its links still pass.
  EXPECT_TRUE(Offer(filter, queue, 2, "a"));
  EXPECT_TRUE(Offer(filter, queue, 3, "d"));
  EXPECT_FALSE(Offer(filter, queue, 0, "c"));  // kept out once, kept out for good
  EXPECT_EQ(filter.Skipped(), 1u);

  TPageQueue single;
  single.Append("s");
  TQueueFilter startOnly(single, 0, nullptr);
  EXPECT_FALSE(Offer(startOnly, single, 0, "s2"));
  EXPECT_TRUE(Offer(startOnly, single, 0, "s"));  // the start page itself is queued already
}

TEST(QueueFilter, ObserverIsAskedOncePerDistinctAddress) {
  TPageQueue queue;
  queue.Append("start-no");
  TRecordingObserver observer;
  TQueueFilter filter(queue, std::nullopt, &observer);
  EXPECT_TRUE(Offer(filter, queue, 0, "yes"));
  EXPECT_FALSE(Offer(filter, queue, 0, "no"));
  EXPECT_TRUE(Offer(filter, queue, 1, "yes"));
  EXPECT_FALSE(Offer(filter, queue, 1, "no"));
  EXPECT_TRUE(Offer(filter, queue, 0, "start-no"));
  EXPECT_EQ(observer.asked, (std::vector<std::string>{"yes", "no"}));
  EXPECT_EQ(filter.Skipped(), 1u);
}

}  // namespace
