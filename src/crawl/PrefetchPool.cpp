#include "PrefetchPool.h"

#include <algorithm>

#include "HttpUtils.h"
#include "Messages.h"

namespace {

// How long one wait for messages lasts at most, as in Get.
constexpr int kWaitSliceMs = 100;

// The client keeps user information of an address as its Username and
// Password for every later request. Such an address is left to the run's
// own client, so that the credentials reach the requests that follow it in
// the run's order, and only those.
bool CarriesCredentials(const std::string& address) {
  TUrlParts parts = SplitUrl(address);
  return !parts.User.empty() || !parts.Pass.empty();
}

}  // namespace

TPrefetchPool::TPrefetchPool(const TPageQueue& queue, const TFetchedPages& fetched,
                             const THttpCli& model, size_t parallel, int delayMs,
                             std::function<std::string()> proxy, std::function<bool()> stopped)
    : queue_(queue),
      fetched_(fetched),
      model_(model),
      parallel_(std::max<size_t>(parallel, 1)),
      delayMs_(std::max(delayMs, 0)),
      proxy_(std::move(proxy)),
      stopped_(std::move(stopped)) {}

TPrefetchPool::~TPrefetchPool() {
  // Aborting posts each client's request-done message; destroying the
  // clients drops those messages with their windows.
  AbortAll();
  idle_.clear();
  clients_.clear();
  slots_.clear();
  retired_.clear();
}

size_t TPrefetchPool::InFlight() const {
  auto running = [](const auto& slot) { return slot->state == TSlotState::Running; };
  return static_cast<size_t>(std::count_if(slots_.begin(), slots_.end(), running)) +
         retired_.size();
}

TPrefetchPool::TSlot* TPrefetchPool::SlotAt(size_t position) {
  for (auto& slot : slots_) {
    if (slot->position == position) return slot.get();
  }
  return nullptr;
}

TPrefetchPool::TSlot* TPrefetchPool::SlotFor(std::string_view address) {
  for (auto& slot : slots_) {
    if (slot->address == address) return slot.get();
  }
  return nullptr;
}

// Entries the run has passed: it found them fetched meanwhile (a relocation
// ended there, or an earlier entry of the same address), or fetched them
// itself.
void TPrefetchPool::DropSlotsBefore(size_t position) {
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

void TPrefetchPool::EnsureSlot(size_t position) {
  scanned_ = std::max(scanned_, position + 1);
  if (SlotAt(position)) return;
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
}

// The next distinct entries after `position` that are not fetched, each
// looked at once, until `parallel_ - 1` wait ahead of the run.
void TPrefetchPool::FillAhead(size_t position) {
  size_t ahead = static_cast<size_t>(std::count_if(
      slots_.begin(), slots_.end(), [&](const auto& slot) { return slot->position > position; }));
  scanned_ = std::max(scanned_, position + 1);
  for (; ahead + 1 < parallel_ && scanned_ < queue_.Count(); ++scanned_) {
    const std::string_view address = queue_.At(scanned_);
    if (fetched_.Contains(address) || SlotFor(address)) continue;
    auto slot = std::make_unique<TSlot>();
    slot->position = scanned_;
    slot->address = address;
    slots_.push_back(std::move(slot));
    ++ahead;
  }
}

bool TPrefetchPool::StartAllowedNow() const { return MsUntilStartAllowed() == 0; }

int TPrefetchPool::MsUntilStartAllowed() const {
  if (delayMs_ == 0 || !anyStarted_) return 0;
  const std::uint32_t waited = GetTickCount() - lastStart_;
  return waited >= static_cast<std::uint32_t>(delayMs_) ? 0 : static_cast<int>(delayMs_ - waited);
}

// Starts waiting requests in queue order, as far as the number in flight
// and the delay allow.
void TPrefetchPool::StartDue() {
  for (auto& slot : slots_) {
    if (aborted_ || InFlight() >= parallel_ || !StartAllowedNow()) return;
    if (slot->state == TSlotState::Waiting && !slot->held) Start(*slot);
  }
}

void TPrefetchPool::Start(TSlot& slot) {
  if (CarriesCredentials(slot.address)) {
    slot.state = TSlotState::Unstartable;
    return;
  }
  THttpCli* client = IdleClient();
  CopySettings(*client);
  client->URL = slot.address;
  client->Proxy = proxy_();
  client->ProxyPort = "80";
  client->ReceiveStream = &slot.page->Body;
  slot.proxy = client->Proxy;
  slot.username = client->Username;
  slot.password = client->Password;
  slot.page->Body.Clear();
  try {
    client->StartRequest(rqGet);
  } catch (...) {
    // A failure before the request is under way (an address without host
    // leaves the client in its lookup state): the run fetches the entry
    // itself, so that its own client shows the same failure and state.
    DiscardClient(client);
    slot.state = TSlotState::Unstartable;
    return;
  }
  slot.client = client;
  slot.state = TSlotState::Running;
  slot.watchedBytes = -1;
  anyStarted_ = true;
  lastStart_ = GetTickCount();
}

bool TPrefetchPool::Reach(size_t position) {
  DropSlotsBefore(position);
  EnsureSlot(position);
  TSlot& slot = *SlotAt(position);
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

std::unique_ptr<TPrefetchedPage> TPrefetchPool::Take(size_t position, const std::string& proxy) {
  TSlot* slot = SlotAt(position);
  if (!slot) return nullptr;
  awaited_ = slot;
  slot->watchedBytes = -1;  // the timeout counts from here
  for (;;) {
    StartDue();
    if (slot->state == TSlotState::Waiting && aborted_) {
      TPrefetchedPage& page = *slot->page;
      page.StatusCode = 404;
      page.ReasonPhrase = HttpErrorText(kHttpErrorAborted);
      page.Error = kHttpErrorAborted;
      slot->state = TSlotState::Done;
    }
    if (slot->state == TSlotState::Done || slot->state == TSlotState::Unstartable) break;
    ProcessMessages();
    if (slot->state == TSlotState::Done) break;
    WaitBriefly(slot->state == TSlotState::Waiting ? MsUntilStartAllowed() : kWaitSliceMs);
  }
  awaited_ = nullptr;
  ProcessMessages();  // as Get ends: events that came with the request's end are handled first

  std::unique_ptr<TPrefetchedPage> page;
  const bool usable = slot->state == TSlotState::Done && slot->proxy == proxy &&
                      slot->username == model_.Username && slot->password == model_.Password &&
                      !slot->credentialsChanged;
  if (usable) page = std::move(slot->page);
  std::erase_if(slots_, [&](const std::unique_ptr<TSlot>& s) { return s.get() == slot; });
  return page;
}

void TPrefetchPool::WaitForRoom() {
  while (InFlight() >= parallel_ && !aborted_) WaitBriefly(kWaitSliceMs);
}

void TPrefetchPool::WaitBriefly(int maxMs) {
  WaitForMessages(std::clamp(maxMs, 1, kWaitSliceMs));
  ProcessMessages();
}

void TPrefetchPool::AbortAll() {
  aborted_ = true;
  for (auto* list : {&slots_, &retired_}) {
    for (auto& slot : *list) {
      if (slot->state == TSlotState::Running) slot->client->Abort();
    }
  }
}

void TPrefetchPool::AbortAwaited() {
  if (awaited_ && awaited_->state == TSlotState::Running) awaited_->client->Abort();
}

void TPrefetchPool::AbortStalled(int timeoutMs) {
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
bool TPrefetchPool::IsStalled(TSlot& slot, int timeoutMs, std::uint32_t now) {
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
void TPrefetchPool::HoldForRetry(TSlot& slot) {
  slot.client->ReceiveStream = nullptr;
  slot.client = nullptr;
  slot.page = std::make_unique<TPrefetchedPage>();
  slot.state = TSlotState::Waiting;
  slot.held = true;
}

void TPrefetchPool::RequestDone(THttpCli* client, std::uint16_t error) {
  client->ReceiveStream = nullptr;
  idle_.push_back(client);
  auto byClient = [&](const std::unique_ptr<TSlot>& slot) { return slot->client == client; };
  if (std::erase_if(retired_, byClient)) return;
  for (auto& slot : slots_) {
    if (slot->client != client || slot->state != TSlotState::Running) continue;
    TPrefetchedPage& page = *slot->page;
    page.StatusCode = client->StatusCode();
    page.ReasonPhrase = client->ReasonPhrase();
    page.Error = error;
    page.Location = client->Location();
    page.ContentType = client->ContentType();
    page.ReceivedBytes = client->ReceivedBytes();
    slot->credentialsChanged =
        client->Username != slot->username || client->Password != slot->password;
    slot->client = nullptr;
    slot->state = TSlotState::Done;
    return;
  }
}

THttpCli* TPrefetchPool::IdleClient() {
  if (!idle_.empty()) {
    THttpCli* client = idle_.back();
    idle_.pop_back();
    return client;
  }
  auto client = std::make_unique<THttpCli>();
  THttpCli* raw = client.get();
  raw->OnRequestDone = [this, raw](TObject*, THttpRequest, std::uint16_t error) {
    RequestDone(raw, error);
  };
  clients_.push_back(std::move(client));
  return raw;
}

void TPrefetchPool::DiscardClient(THttpCli* client) {
  std::erase_if(clients_, [&](const std::unique_ptr<THttpCli>& c) { return c.get() == client; });
}

void TPrefetchPool::CopySettings(THttpCli& client) const {
  client.Sender = model_.Sender;
  client.Agent = model_.Agent;
  client.Accept = model_.Accept;
  client.Reference = model_.Reference;
  client.Username = model_.Username;
  client.Password = model_.Password;
  client.ProxyUsername = model_.ProxyUsername;
  client.ProxyPassword = model_.ProxyPassword;
  client.NoCache = model_.NoCache;
  client.ModifiedSince = model_.ModifiedSince;
  client.Cookie = model_.Cookie;
  client.ContentTypePost = model_.ContentTypePost;
  client.SslCAFile = model_.SslCAFile;
  client.SslVerifyPeer = model_.SslVerifyPeer;
  client.MaxDocSize = model_.MaxDocSize;
  client.SetMultiThreaded(model_.MultiThreaded());
}
