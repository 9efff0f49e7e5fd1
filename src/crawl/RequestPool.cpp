#include "RequestPool.h"

#include <algorithm>

#include "HttpDefaults.h"
#include "Messages.h"
#include "UrlFragment.h"
#include "UrlParts.h"

namespace {

// How long one wait for messages lasts at most, as in Get.
constexpr int kWaitSliceMs = 100;

// A document fetched with settings the run no longer has is fetched anew;
// the proxy field may change again while that happens, so only so often.
constexpr int kMaxFetchesOfAnEntry = 3;

std::string WithoutFragment(const std::string& address) {
  return address.substr(0, FragmentStart(address));
}

}  // namespace

TRequestPool::TRequestPool(const TCrawlLists& lists, const THttpSettings& settings,
                           const TPoolLimits& limits, std::function<std::string()> proxy,
                           std::function<bool()> stopped, THttpRecorder* recorder)
    : queue_(lists.PageQueue),
      fetched_(lists.FetchedPages),
      failed_(lists.FailedPages),
      settings_(settings),
      parallel_(std::max<size_t>(limits.Parallel, 1)),
      delayMs_(std::max(limits.DelayMs, 0)),
      maxPages_(limits.MaxPages),
      proxy_(std::move(proxy)),
      stopped_(std::move(stopped)),
      recorder_(recorder) {}

TRequestPool::~TRequestPool() {
  // Aborting posts each client's request-done message; destroying the
  // clients drops those messages with their windows.
  StopAll();
  idle_.clear();
  clients_.clear();
  slots_.clear();
  retired_.clear();
}

size_t TRequestPool::InFlight() const {
  auto running = [](const auto& slot) { return slot->state == TSlotState::Running; };
  return static_cast<size_t>(std::count_if(slots_.begin(), slots_.end(), running)) +
         retired_.size();
}

TRequestPool::TSlot* TRequestPool::SlotAt(size_t position) {
  for (auto& slot : slots_) {
    if (slot->position == position) return slot.get();
  }
  return nullptr;
}

TRequestPool::TSlot* TRequestPool::SlotFor(std::string_view address) {
  for (auto& slot : slots_) {
    if (slot->address == address) return slot.get();
  }
  return nullptr;
}

TRequestPool::TSlot* TRequestPool::SlotOf(const THttpCli* client) {
  for (auto& slot : slots_) {
    if (slot->client == client && slot->state == TSlotState::Running) return slot.get();
  }
  return nullptr;
}

// A request of the pool went there through a relocation: the run counts the
// address as fetched once it takes that request's document.
bool TRequestPool::IsRelocationTarget(std::string_view address) const {
  for (const auto& slot : slots_) {
    if (std::find(slot->hops.begin(), slot->hops.end(), address) != slot->hops.end()) return true;
  }
  return false;
}

// Pages the run may still take before it ends.
size_t TRequestPool::PagesLeft() const {
  if (maxPages_ == 0) return SIZE_MAX;
  return maxPages_ > fetched_.Count() ? maxPages_ - fetched_.Count() : 0;
}

// Requests started for entries the run has yet to take.
size_t TRequestPool::Unfinished() const {
  return static_cast<size_t>(std::count_if(slots_.begin(), slots_.end(), [](const auto& slot) {
    return slot->state == TSlotState::Running || slot->state == TSlotState::Done;
  }));
}

// Entries the run has passed: it found them fetched meanwhile (a relocation
// ended there, or an earlier entry of the same address), or fetched them
// itself.
void TRequestPool::DropSlotsBefore(size_t position) {
  std::vector<std::unique_ptr<TSlot>> kept;
  for (std::unique_ptr<TSlot>& slot : slots_) {
    if (slot->position >= position) {
      kept.push_back(std::move(slot));
    } else if (slot->state == TSlotState::Running) {
      retired_.push_back(std::move(slot));
    }
  }
  slots_ = std::move(kept);
}

TRequestPool::TSlot& TRequestPool::EnsureSlot(size_t position) {
  scanned_ = std::max(scanned_, position + 1);
  if (TSlot* slot = SlotAt(position)) return *slot;
  const std::string_view address = queue_.At(position);
  if (TSlot* ahead = SlotFor(address)) {
    // The same address stands further on too (the run had passed it here
    // while the earlier fetch of it was still under way, and that fetch
    // failed): its request serves the run here.
    ahead->position = position;
  } else {
    auto slot = std::make_unique<TSlot>();
    slot->position = position;
    slot->address = address;
    slots_.push_back(std::move(slot));
  }
  std::sort(slots_.begin(), slots_.end(),
            [](const auto& a, const auto& b) { return a->position < b->position; });
  return *SlotAt(position);
}

// The next distinct entries after `position` that are neither fetched, given
// up nor on their way, each looked at once, until `parallel_ - 1` wait ahead
// of the run, and never more than the run may still take.
void TRequestPool::FillAhead(size_t position) {
  size_t ahead = static_cast<size_t>(std::count_if(
      slots_.begin(), slots_.end(), [&](const auto& slot) { return slot->position > position; }));
  scanned_ = std::max(scanned_, position + 1);
  const size_t room = std::min(parallel_, PagesLeft());
  for (; ahead + 1 < room && scanned_ < queue_.Count(); ++scanned_) {
    const std::string_view address = queue_.At(scanned_);
    if (fetched_.Contains(address) || failed_.GivenUp(address) || SlotFor(address) ||
        IsRelocationTarget(address)) {
      continue;
    }
    auto slot = std::make_unique<TSlot>();
    slot->position = scanned_;
    slot->address = address;
    slots_.push_back(std::move(slot));
    ++ahead;
  }
}

bool TRequestPool::StartAllowedNow() const { return MsUntilStartAllowed() == 0; }

int TRequestPool::MsUntilStartAllowed() const {
  if (delayMs_ == 0 || !anyStarted_) return 0;
  const std::uint32_t waited = GetTickCount() - lastStart_;
  return waited >= static_cast<std::uint32_t>(delayMs_) ? 0 : static_cast<int>(delayMs_ - waited);
}

// Starts waiting requests in queue order, as far as the number in flight
// and the delay allow.
void TRequestPool::StartDue() {
  for (auto& slot : slots_) {
    if (aborted_ || InFlight() >= parallel_ || !StartAllowedNow()) return;
    if (Unfinished() >= PagesLeft()) return;
    if (slot->state == TSlotState::Waiting && !slot->held) Start(*slot);
  }
}

void TRequestPool::Start(TSlot& slot) {
  const std::string proxy = proxy_();
  THttpCli* client = IdleClient(slot.address, proxy);
  ApplyTo(settings_, *client);
  client->URL = slot.address;
  client->Proxy = proxy;
  client->ReceiveStream = &slot.page->Body;
  slot.proxy = client->Proxy;
  slot.username = client->Username;
  slot.password = client->Password;
  slot.authOrigin = client->AuthOrigin;
  slot.hops.clear();
  slot.borrow.clear();
  slot.page->Body.Clear();
  try {
    client->StartRequest(rqGet);
  } catch (const EHttpException& failure) {
    // An idle client refuses nothing a GET needs; should it, the entry
    // fails as the client says.
    DiscardClient(client);
    TFetchedPage& page = *slot.page;
    page.StatusCode = kHttpFailureStatus;
    page.ReasonPhrase = failure.what();
    page.Error = failure.ErrorCode;
    slot.state = TSlotState::Done;
    return;
  }
  slot.client = client;
  slot.state = TSlotState::Running;
  slot.watchedBytes = -1;
  anyStarted_ = true;
  lastStart_ = GetTickCount();
}

bool TRequestPool::Reach(size_t position) {
  DropSlotsBefore(position);
  TSlot& slot = EnsureSlot(position);
  slot.held = false;
  // The entry's own request comes before those ahead of it.
  while (slot.state == TSlotState::Waiting && !aborted_) {
    if (StartAllowedNow()) {
      Start(slot);
      break;
    }
    WaitBriefly(MsUntilStartAllowed());
    if (stopped_()) return false;
  }
  FillAhead(position);
  StartDue();
  return true;
}

std::unique_ptr<TFetchedPage> TRequestPool::Take(size_t position, const std::string& proxy) {
  std::unique_ptr<TFetchedPage> page;
  for (int fetch = 1; !page; ++fetch) {
    // The last fetch, or one after "Abbrechen", is taken as it came.
    const bool last = fetch == kMaxFetchesOfAnEntry || aborted_;
    page = TakeSlot(EnsureSlot(position), last ? std::optional<std::string>() : proxy, 0);
  }
  awaited_ = nullptr;
  // As one request at a time: the pause counts from the end of the last.
  if (parallel_ == 1) lastStart_ = GetTickCount();
  ProcessMessages();  // as Get ends: events that came with the request's end are handled first
  return page;
}

// Waits for the slot's request to end, processing messages; a slot not yet
// started is started as the delay allows.
void TRequestPool::AwaitSlot(TSlot& slot) {
  awaited_ = &slot;
  slot.held = false;
  slot.watchedBytes = -1;  // the timeout counts from here
  for (;;) {
    StartDue();
    if (slot.state == TSlotState::Waiting && !aborted_ && StartAllowedNow() &&
        InFlight() < parallel_) {
      Start(slot);
    }
    if (slot.state == TSlotState::Waiting && aborted_) {
      TFetchedPage& page = *slot.page;
      page.StatusCode = kHttpFailureStatus;
      page.ReasonPhrase = HttpErrorText(kHttpErrorAborted);
      page.Error = kHttpErrorAborted;
      slot.state = TSlotState::Done;
    }
    if (slot.state == TSlotState::Done) break;
    ProcessMessages();
    if (slot.state == TSlotState::Done) break;
    WaitBriefly(slot.state == TSlotState::Waiting ? MsUntilStartAllowed() : kWaitSliceMs);
  }
}

// The request was made as the run would make it now: through the proxy the
// run reads for the entry, with the credentials the run holds.
bool TRequestPool::Usable(const TSlot& slot, const std::string& proxy) const {
  return slot.state == TSlotState::Done && slot.proxy == proxy &&
         slot.username == settings_.Username && slot.password == settings_.Password &&
         slot.authOrigin == settings_.AuthOrigin;
}

// The slot's document, once its request has ended, and the slot gone; a
// document it borrows comes from the slot that holds it. nullptr when the
// entry must be fetched anew.
std::unique_ptr<TFetchedPage> TRequestPool::TakeSlot(TSlot& slot,
                                                     const std::optional<std::string>& proxy,
                                                     int depth) {
  AwaitSlot(slot);
  std::unique_ptr<TFetchedPage> page;
  std::string borrow;
  if (!proxy || Usable(slot, *proxy)) {
    page = std::move(slot.page);
    if (!EndAtFetchedHop(*page, slot.hops)) borrow = slot.borrow;
  }
  Erase(&slot);
  if (borrow.empty()) return page;
  return TakeBorrowed(std::move(page), borrow, proxy, depth);
}

// The request of an entry stopped at a relocation onto `target`, which
// another slot fetches. While that slot is there, its document is the
// entry's; once the run has taken it, the page is fetched and the entry ends
// at the relocation (`own`). Otherwise (that fetch failed and was passed)
// the entry is fetched anew, following the relocation as one request would.
std::unique_ptr<TFetchedPage> TRequestPool::TakeBorrowed(std::unique_ptr<TFetchedPage> own,
                                                         const std::string& target,
                                                         const std::optional<std::string>& proxy,
                                                         int depth) {
  if (fetched_.Contains(target)) return own;
  TSlot* holder = SlotFor(target);
  // Requests that relocate onto each other would chain without end.
  if (!holder || depth >= static_cast<int>(parallel_)) return proxy ? nullptr : std::move(own);
  std::unique_ptr<TFetchedPage> page = TakeSlot(*holder, proxy, depth + 1);
  if (page) page->ReceivedBytes += own->ReceivedBytes;
  return page;
}

// Where the request followed a relocation onto a page the run has fetched
// meanwhile, one request of the run would have stopped there: the document
// is that relocation's, without a body. False when no such page was passed.
bool TRequestPool::EndAtFetchedHop(TFetchedPage& page, const std::vector<std::string>& hops) const {
  for (const std::string& hop : hops) {
    if (!fetched_.Contains(hop)) continue;
    page.StatusCode = 302;
    page.ReasonPhrase.clear();
    page.Error = 0;
    page.Location = hop;
    page.ContentType.clear();
    page.Body.Clear();
    return true;
  }
  return false;
}

void TRequestPool::Erase(TSlot* slot) {
  if (awaited_ == slot) awaited_ = nullptr;
  std::erase_if(slots_, [&](const std::unique_ptr<TSlot>& s) { return s.get() == slot; });
}

// A request ahead of the run relocates (see the header). A request the run
// has passed stops at once: its document is dropped anyway.
void TRequestPool::Relocating(THttpCli* client, bool& follow) {
  TSlot* slot = SlotOf(client);
  const std::string target = WithoutFragment(client->Location());
  if (!slot || fetched_.Contains(target)) {
    follow = false;
    return;
  }
  if (TSlot* holder = SlotFor(target); holder && holder != slot) {
    follow = false;
    slot->borrow = target;
    return;
  }
  slot->hops.push_back(target);
}

void TRequestPool::WaitBriefly(int maxMs) {
  WaitForMessages(std::clamp(maxMs, 1, kWaitSliceMs));
  ProcessMessages();
}

void TRequestPool::StopAll() {
  aborted_ = true;
  for (auto* list : {&slots_, &retired_}) {
    for (auto& slot : *list) {
      if (slot->state == TSlotState::Running) slot->client->Abort();
    }
  }
}

void TRequestPool::SkipAwaited() {
  if (awaited_ && awaited_->state == TSlotState::Running) awaited_->client->Abort();
}

void TRequestPool::AbortStalled() {
  const int timeoutMs = settings_.TimeoutMs;
  if (timeoutMs <= 0) return;
  const std::uint32_t now = GetTickCount();
  for (auto* list : {&slots_, &retired_}) {
    for (auto& slot : *list) {
      if (slot->state == TSlotState::Running && IsStalled(*slot, timeoutMs, now)) {
        slot->client->Abort();
        if (list == &slots_ && slot.get() != awaited_) HoldForRetry(*slot);
      }
    }
  }
}

// Also notes the client's progress.
bool TRequestPool::IsStalled(TSlot& slot, int timeoutMs, std::uint32_t now) {
  THttpCli& client = *slot.client;
  if (client.State() == hsIdle) return false;  // ended; its done message is on its way
  if (client.State() != slot.watchedState || client.ReceivedBytes() != slot.watchedBytes) {
    slot.watchedState = client.State();
    slot.watchedBytes = client.ReceivedBytes();
    slot.watchedSince = now;
    return false;
  }
  if (now - slot.watchedSince < static_cast<std::uint32_t>(timeoutMs)) return false;
  slot.watchedSince = now;
  return true;
}

// The aborted client comes back with its request-done message.
void TRequestPool::HoldForRetry(TSlot& slot) {
  slot.client->ReceiveStream = nullptr;
  slot.client = nullptr;
  slot.page = std::make_unique<TFetchedPage>();
  slot.state = TSlotState::Waiting;
  slot.held = true;
}

void TRequestPool::RequestDone(THttpCli* client, std::uint16_t error) {
  client->ReceiveStream = nullptr;
  // Connections kept open stay within the pool's bound, also while
  // requests the run has passed still end by themselves.
  if (clients_.size() > parallel_ && client->Connected()) client->Abort();
  idle_.push_back(client);
  auto byClient = [&](const std::unique_ptr<TSlot>& slot) { return slot->client == client; };
  if (std::erase_if(retired_, byClient)) return;
  for (auto& slot : slots_) {
    if (slot->client != client || slot->state != TSlotState::Running) continue;
    TFetchedPage& page = *slot->page;
    page.StatusCode = client->StatusCode();
    page.ReasonPhrase = client->ReasonPhrase();
    page.Error = error;
    page.Location = client->Location();
    page.ContentType = client->ContentType();
    page.ReceivedBytes = client->ReceivedBytes();
    if (client->Username != slot->username || client->Password != slot->password ||
        client->AuthOrigin != slot->authOrigin) {
      page.Credentials = TPageCredentials{client->Username, client->Password, client->AuthOrigin};
    }
    slot->client = nullptr;
    slot->state = TSlotState::Done;
    return;
  }
}

// An idle client whose kept connection leads where the request goes, else
// one without a connection, else any idle one (its connection closes).
THttpCli* TRequestPool::IdleClient(const std::string& address, const std::string& proxy) {
  // The most recently idle first.
  auto take = [&](auto matches) -> THttpCli* {
    auto found = std::find_if(idle_.rbegin(), idle_.rend(), matches);
    if (found == idle_.rend()) return nullptr;
    THttpCli* client = *found;
    idle_.erase(std::next(found).base());
    return client;
  };
  if (THttpCli* c = take([&](THttpCli* c) { return c->KeepsConnectionFor(address, proxy); }))
    return c;
  if (THttpCli* c = take([](THttpCli* c) { return !c->Connected(); })) return c;
  if (THttpCli* c = take([](THttpCli*) { return true; })) return c;
  auto client = std::make_unique<THttpCli>();
  THttpCli* raw = client.get();
  raw->OnRequestDone = [this, raw](TObject*, THttpRequest, std::uint16_t error) {
    RequestDone(raw, error);
  };
  raw->OnRelocate = [this, raw](TObject*, bool& follow) { Relocating(raw, follow); };
  raw->Recorder = recorder_;
  clients_.push_back(std::move(client));
  return raw;
}

void TRequestPool::DiscardClient(THttpCli* client) {
  std::erase_if(clients_, [&](const std::unique_ptr<THttpCli>& c) { return c.get() == client; });
}
