// The network as the run's page source: every page of a run comes through
// this pool of HTTP clients, while the run still handles its queue strictly
// in order. When the run reaches the queue entry at position p, the pool
// fetches that entry and, ahead of the run, the next distinct queue entries
// that are neither fetched nor in work, up to `parallel` requests in all
// (so at most `parallel - 1` ahead of p). A pool of one is the run of one
// request at a time.
//
// Each request is its own THttpCli, set up from the run's THttpSettings, on
// the run's thread: their events arrive wherever the thread processes
// messages. A request's outcome is only recorded in its slot: nothing is
// logged, and nothing of the run's lists changes, until the run takes the
// document, so what the run does with it is what it would do with a
// document it had just fetched itself. A document fetched ahead with
// settings the run no longer has at its turn (another proxy, other
// credentials) is fetched again. Documents the run never takes (it skipped
// the entry, or ended) are dropped.
//
// No page is asked for twice on the run's account: addresses the run gave up
// on are not fetched ahead, no more pages are started than the run may
// still take, and a request that relocates onto a page fetched already, or
// onto a page another request of the pool fetches, ends there; the run then
// takes that other request's document for it, as one request following the
// relocation would have brought it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CrawlLists.h"
#include "HttpSettings.h"
#include "PageSource.h"

// How far the pool may go.
struct TPoolLimits {
  size_t Parallel = 1;  // requests in flight at once
  // The least time between two request starts; with one request at a time,
  // the pause between the end of one and the start of the next.
  int DelayMs = 0;
  size_t MaxPages = 0;  // the run ends after this many fetched pages; 0: no limit
};

class TRequestPool : public TPageSource {
 public:
  // `lists` and `settings` are the run's (the settings' credentials change
  // as the run takes pages); `proxy` reads the proxy field (anew for every
  // request); `stopped` tells that the run was told to stop. `recorder`, when
  // set, sees every request and answer. All must outlive the pool.
  TRequestPool(const TCrawlLists& lists, const THttpSettings& settings, const TPoolLimits& limits,
               std::function<std::string()> proxy, std::function<bool()> stopped,
               THttpRecorder* recorder = nullptr);
  // Aborts what is in flight; the outcomes are dropped.
  ~TRequestPool() override;

  // Drops what was fetched for entries before `position`, starts the
  // entry's request unless it is under way, and fills the requests ahead.
  // Waits for the delay before the entry's request; false when the run was
  // stopped meanwhile (nothing of the entry has been started then).
  bool Reach(size_t position) override;
  // Waits for the entry's request to end (processing messages, as Get does,
  // and starting requests ahead as the delay allows); once it has ended,
  // messages are processed once more, as Get does. A document fetched with
  // another proxy than `proxy` or other credentials than the run's now is
  // fetched anew first.
  std::unique_ptr<TFetchedPage> Take(size_t position, const std::string& proxy) override;

  void StopAll() override;
  void SkipAwaited() override;
  // Aborts each request that has shown no progress (no state change, no
  // byte received) for the settings' timeout. The one the run waits for
  // (counted from when it began to wait) fails as a timeout. One ahead of
  // the run may only be queued behind the others at a server that serves a
  // connection at a time: it is fetched anew once the run reaches it, so
  // that it fails only if it stalls then too.
  void AbortStalled() override;

  // Requests under way now.
  size_t InFlight() const;

 private:
  enum class TSlotState { Waiting, Running, Done };
  struct TSlot {
    size_t position = 0;
    std::string address;
    // What the request was started with.
    std::string proxy, username, password, authOrigin;
    // The addresses the request relocated to, in order (without fragment).
    std::vector<std::string> hops;
    // The request stopped at a relocation onto this address, which another
    // slot fetches: that slot's document is this entry's.
    std::string borrow;
    // Not started before the run reaches the entry (see AbortStalled).
    bool held = false;
    TSlotState state = TSlotState::Waiting;
    THttpCli* client = nullptr;  // while Running
    std::unique_ptr<TFetchedPage> page = std::make_unique<TFetchedPage>();
    // The stall watch: what the client showed at its last change, and when.
    THttpState watchedState = hsIdle;
    std::int64_t watchedBytes = -1;
    std::uint32_t watchedSince = 0;
  };

  TSlot* SlotAt(size_t position);
  TSlot* SlotFor(std::string_view address);
  TSlot* SlotOf(const THttpCli* client);
  bool IsRelocationTarget(std::string_view address) const;
  size_t PagesLeft() const;
  size_t Unfinished() const;
  void DropSlotsBefore(size_t position);
  TSlot& EnsureSlot(size_t position);
  void FillAhead(size_t position);
  void StartDue();
  void Start(TSlot& slot);
  bool StartAllowedNow() const;
  int MsUntilStartAllowed() const;
  void WaitBriefly(int maxMs);
  void HoldForRetry(TSlot& slot);
  bool IsStalled(TSlot& slot, int timeoutMs, std::uint32_t now);
  void RequestDone(THttpCli* client, std::uint16_t error);
  void Relocating(THttpCli* client, bool& follow);
  void AwaitSlot(TSlot& slot);
  bool Usable(const TSlot& slot, const std::string& proxy) const;
  // `proxy` empty: the document as it came, whatever it was fetched with.
  std::unique_ptr<TFetchedPage> TakeSlot(TSlot& slot, const std::optional<std::string>& proxy,
                                         int depth);
  std::unique_ptr<TFetchedPage> TakeBorrowed(std::unique_ptr<TFetchedPage> own,
                                             const std::string& target,
                                             const std::optional<std::string>& proxy, int depth);
  bool EndAtFetchedHop(TFetchedPage& page, const std::vector<std::string>& hops) const;
  void Erase(TSlot* slot);
  THttpCli* IdleClient(const std::string& address, const std::string& proxy);
  void DiscardClient(THttpCli* client);

  const TPageQueue& queue_;
  const TFetchedPages& fetched_;
  const TFailedPages& failed_;
  const THttpSettings& settings_;
  const size_t parallel_;
  const int delayMs_;
  const size_t maxPages_;
  std::function<std::string()> proxy_;
  std::function<bool()> stopped_;
  THttpRecorder* recorder_;

  std::vector<std::unique_ptr<TSlot>> slots_;  // by position
  // Requests of entries the run has passed, left to end by themselves: an
  // abort would close the connection before the server has answered, and
  // the server would hold it while further ones start.
  std::vector<std::unique_ptr<TSlot>> retired_;
  std::vector<std::unique_ptr<THttpCli>> clients_;
  std::vector<THttpCli*> idle_;
  size_t scanned_ = 0;  // queue positions below this were looked at for prefetching
  TSlot* awaited_ = nullptr;
  bool aborted_ = false;
  bool anyStarted_ = false;
  std::uint32_t lastStart_ = 0;
};
