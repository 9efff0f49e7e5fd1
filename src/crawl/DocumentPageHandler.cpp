#include "DocumentPageHandler.h"

#include "Messages.h"
#include "Utf8Text.h"

namespace {

// How long one wait for the worker's answer lasts before events are
// processed again.
constexpr int kWaitSliceMs = 50;

}  // namespace

TDocumentPageHandler::TDocumentPageHandler(TLinkFollower& follower, TWordHarvest& harvest,
                                           const TCrawlOptions& options, TCrawlEvents& events)
    : follower_(follower), harvest_(harvest), options_(options), events_(events) {}

TDocumentPageHandler::~TDocumentPageHandler() = default;

bool TDocumentPageHandler::Reads(std::string_view contentType, std::string_view address) const {
  return options_.Documents.Read && DocumentKindOf(contentType, address).has_value();
}

void TDocumentPageHandler::Harvest(std::string_view contentType, std::string_view address,
                                   std::string_view document) {
  const std::optional<TDocumentKind> kind = DocumentKindOf(contentType, address);
  if (!kind) return;
  if (!worker_) {
    TDocumentWorkerSettings settings;
    settings.program = options_.Documents.WorkerProgram;
    worker_ = std::make_unique<TDocumentWorker>(std::move(settings));
  }
  std::optional<TDocumentAnswer> answer;
  worker_->Read(static_cast<std::uint8_t>(*kind), std::string(document),
                [&answer](TDocumentAnswer done) { answer = std::move(done); });
  // The worker's own limits end every document; its answer comes through
  // the message loop like a page's.
  while (!answer) {
    WaitForMessages(kWaitSliceMs);
    ProcessMessages();
    events_.ProcessPendingEvents();
  }
  TakeAnswer(*answer, address);
}

void TDocumentPageHandler::TakeAnswer(const TDocumentAnswer& answer, std::string_view address) {
  if (!answer.Read()) {
    events_.Log("Dokument nicht lesbar: " + Utf8ToCp1252(answer.reason));
    events_.Log("Error...");
    return;
  }
  std::string_view text = answer.text;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string line = Utf8ToCp1252(text.substr(0, end));
    if (!line.empty()) {
      if (options_.Observer) options_.Observer->TextSeen(line);
      harvest_.HarvestText(line);
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  if (options_.Observer) {
    for (const std::string& person : answer.people) {
      options_.Observer->PersonNamed(Utf8ToCp1252(person), address);
    }
  }
  for (const std::string& link : answer.links) {
    events_.ProcessPendingEvents();
    follower_.FollowLink(Utf8ToCp1252(link));
  }
}
