// Several requests of a crawl run at once, while the run still handles its
// queue strictly in order. When the run reaches the queue entry at position
// p, the pool fetches that entry and, ahead of the run, the next distinct
// queue entries that are neither fetched nor in work, up to `parallel`
// requests in all (so at most `parallel - 1` ahead of p). The run then
// takes the finished document, or waits for it, instead of fetching.
//
// Each request is its own THttpCli, set up like the run's client (agent,
// authorization, TLS, size limit...), on the run's thread: their events
// arrive wherever the thread processes messages. A request's outcome is only
// recorded in its slot: nothing is logged, and nothing of the run's lists
// changes, until the run takes the document, so what the run does with it
// is what it would do with a document it had just fetched itself. Documents
// the run never takes (it skipped the entry, or ended) are dropped.
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
#include <string>
#include <vector>

#include "CrawlLists.h"
#include "HttpProt.h"
#include "Streams.h"

// The outcome of one request as Get leaves it in the client.
struct TPrefetchedPage {
  int StatusCode = 0;
  std::string ReasonPhrase;
  std::uint16_t Error = 0;  // OnRequestDone's code: 0, a socket code, or kHttpErrorAborted
  std::string Location;     // the final address after relocations
  std::string ContentType;
  std::int64_t ReceivedBytes = 0;
  TMemoryStream Body;
};

class TPrefetchPool {
 public:
  // `lists` are the run's; `model` is the run's client, whose settings every
  // request copies when it starts; `proxy` reads the proxy field (anew for
  // every request); `stopped` tells that the run was told to stop. Starts of
  // requests are at least `delayMs` apart; the run ends after `maxPages`
  // fetched pages (0: no limit). All must outlive the pool.
  TPrefetchPool(const TCrawlLists& lists, const THttpCli& model, size_t parallel, int delayMs,
                size_t maxPages, std::function<std::string()> proxy, std::function<bool()> stopped);
  // Aborts what is in flight; the outcomes are dropped.
  ~TPrefetchPool();

  // The run has reached the unfetched entry at `position`: drops what was
  // fetched for entries before it, starts the entry's request unless it is
  // under way, and fills the requests ahead. Waits for the delay before the
  // entry's request, processing messages; false when the run was stopped
  // meanwhile (nothing of the entry has been started then).
  bool Reach(size_t position);
  // The document of the entry at `position`, waiting for its request to end
  // (processing messages, as Get does, and starting requests ahead as the
  // delay allows); once it has ended, messages are processed once more, as
  // Get does. nullptr when the pool has no request for the entry, or could
  // not start it, or started it through another proxy than `proxy` or with
  // other credentials than the run's client now holds, or when its request
  // stopped at a relocation onto a page that neither the pool nor the run
  // has: the run then fetches the entry itself.
  std::unique_ptr<TPrefetchedPage> Take(size_t position, const std::string& proxy);

  // Before the run fetches an entry with its own client: waits, processing
  // messages, until fewer than `parallel` requests are under way.
  void WaitForRoom();

  // "Abbrechen": every request in flight ends as aborted; none starts after.
  void AbortAll();
  // "Aktuelle Datei abbrechen": the request Take waits for, if any.
  void AbortAwaited();
  // Aborts each request that has shown no progress (no state change, no
  // byte received) for `timeoutMs`. The one the run waits for (counted from
  // when it began to wait) fails as a timeout of the run's own download
  // would. One ahead of the run may only be queued behind the others at a
  // server that serves a connection at a time: it is fetched anew once the
  // run reaches it, so that it fails only if it stalls then too.
  void AbortStalled(int timeoutMs);

  // Requests under way now.
  size_t InFlight() const;

 private:
  enum class TSlotState { Waiting, Running, Done, Unstartable };
  struct TSlot {
    size_t position = 0;
    std::string address;
    // What the request was started with, and whether the client changed
    // its credentials on the way (a relocation to an address with user
    // information): the run's own client would then hold other ones.
    std::string proxy, username, password, authOrigin;
    bool credentialsChanged = false;
    // The addresses the request relocated to, in order (without fragment).
    std::vector<std::string> hops;
    // The request stopped at a relocation onto this address, which another
    // slot fetches: that slot's document is this entry's.
    std::string borrow;
    // Not started before the run reaches the entry (see AbortStalled).
    bool held = false;
    TSlotState state = TSlotState::Waiting;
    THttpCli* client = nullptr;  // while Running
    std::unique_ptr<TPrefetchedPage> page = std::make_unique<TPrefetchedPage>();
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
  void Relocating(THttpCli* client, bool& follow);
  void AwaitSlot(TSlot& slot);
  std::unique_ptr<TPrefetchedPage> TakeSlot(TSlot& slot, const std::string& proxy, int depth);
  std::unique_ptr<TPrefetchedPage> TakeBorrowed(std::unique_ptr<TPrefetchedPage> own,
                                                const std::string& target, const std::string& proxy,
                                                int depth);
  bool EndAtFetchedHop(TPrefetchedPage& page, const std::vector<std::string>& hops) const;
  void Erase(TSlot* slot);
  void DropSlotsBefore(size_t position);
  void EnsureSlot(size_t position);
  void FillAhead(size_t position);
  void StartDue();
  void Start(TSlot& slot);
  bool StartAllowedNow() const;
  int MsUntilStartAllowed() const;
  void WaitBriefly(int maxMs);
  void HoldForRetry(TSlot& slot);
  bool IsStalled(TSlot& slot, int timeoutMs, std::uint32_t now);
  void RequestDone(THttpCli* client, std::uint16_t error);
  THttpCli* IdleClient();
  void DiscardClient(THttpCli* client);
  void CopySettings(THttpCli& client) const;

  const TPageQueue& queue_;
  const TFetchedPages& fetched_;
  const TFailedPages& failed_;
  const THttpCli& model_;
  const size_t parallel_;
  const int delayMs_;
  const size_t maxPages_;
  std::function<std::string()> proxy_;
  std::function<bool()> stopped_;

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
