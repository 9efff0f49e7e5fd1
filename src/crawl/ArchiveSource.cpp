#include "ArchiveSource.h"

#include "AsciiCase.h"
#include "HttpErrors.h"
#include "HttpMessage.h"
#include "HttpProt.h"
#include "RequestTarget.h"
#include "UrlFragment.h"
#include "UrlOrigin.h"
#include "UrlParts.h"
#include "UrlResolve.h"
#include "WarcError.h"
#include "WarcWriter.h"
#include "WinSockErrors.h"

namespace {

// The reason of a failure the client finds before it connects.
constexpr const char* kUnresolvableText = "can't resolve hostname to IP address";

std::optional<std::uint16_t> ErrorField(const TWarcFields& fields) {
  for (const auto& [name, value] : fields) {
    if (name == kWarcErrorField) {
      std::optional<std::uint16_t> code = PortNumber(value);  // a number from 1 to 65535
      if (code) return code;
    }
  }
  return std::nullopt;
}

std::string ReasonField(const TWarcFields& fields) {
  for (const auto& [name, value] : fields) {
    if (name == kWarcReasonField) return value;
  }
  return {};
}

}  // namespace

std::string DamageLine(const std::string& file, std::uint64_t offset, const std::string& problem) {
  return "WARC: " + file + ": damaged record at offset " + std::to_string(offset) +
         " skipped: " + problem;
}

// ---------------------------------------------------------------------------
// The index

TArchiveIndex::TArchiveIndex(const std::vector<std::string>& files, std::int64_t maxAnswerBytes,
                             const TArchiveProblem& onProblem) {
  for (const std::string& file : files) {
    auto report = [onProblem, file](std::uint64_t offset, const std::string& problem) {
      if (onProblem) onProblem(DamageLine(file, offset, problem));
    };
    try {
      readers_.push_back(std::make_unique<TWarcReader>(file, maxAnswerBytes, report));
      IndexFile(static_cast<std::uint32_t>(readers_.size() - 1));
    } catch (const EWarcError& failure) {
      if (onProblem) onProblem(std::string("WARC: ") + failure.what());
    }
  }
}

TArchiveIndex::~TArchiveIndex() = default;

// Responses, and the failures Tirasel notes in metadata records, by target
// address; a later record of an address replaces an earlier one. A record's
// place is its gzip member and how far into the member it begins (several
// records share a member only in a file that is one gzip stream).
void TArchiveIndex::IndexFile(std::uint32_t file) {
  TWarcReader& reader = *readers_[file];
  TWarcRecord record;
  std::uint64_t member = UINT64_MAX, memberStart = 0;
  while (reader.Next(record)) {
    if (record.Offset != member) {
      member = record.Offset;
      memberStart = record.DecodedOffset;
    }
    const bool failure = record.Type == "metadata" && ErrorField(ParseWarcFields(record.Block));
    if (record.Type != "response" && !failure) continue;
    if (record.TargetUri.empty()) continue;
    latest_[record.TargetUri] = TPlace{file, member, record.DecodedOffset - memberStart};
  }
}

std::optional<TArchivedOutcome> TArchiveIndex::Find(const std::string& uri) {
  auto found = latest_.find(uri);
  if (found == latest_.end()) return std::nullopt;
  const TPlace& place = found->second;
  TWarcRecord record;
  if (!readers_[place.file]->ReadAt(place.offset, place.skip, record)) return std::nullopt;
  TArchivedOutcome outcome;
  if (record.Type == "metadata") {
    const TWarcFields fields = ParseWarcFields(record.Block);
    outcome.Failed = true;
    outcome.Error = ErrorField(fields).value_or(kHttpErrorNotArchived);
    outcome.Reason = ReasonField(fields);
    return outcome;
  }
  outcome.Answer = std::move(record.Block);
  return outcome;
}

// ---------------------------------------------------------------------------
// The source

TArchiveSource::TArchiveSource(TArchiveIndex& index, const TCrawlLists& lists,
                               std::int64_t maxDocSize)
    : index_(index), lists_(lists), maxDocSize_(maxDocSize) {}

bool TArchiveSource::Reach(size_t) { return !stopped_; }

void TArchiveSource::Fail(TFetchedPage& page, std::uint16_t error,
                          const std::string& reason) const {
  page.Error = error;
  page.StatusCode = kHttpFailureStatus;
  page.ReasonPhrase = reason;
  page.ContentType.clear();
  page.Body.Clear();
}

// The answer as the client takes it: a page without a header ("<HTML>"
// first), a status of 400 or more, a relocation (its Location value in
// `relocation`), or the document. False when it failed.
bool TArchiveSource::TakeAnswer(TFetchedPage& page, const std::string& answer,
                                std::string& relocation) const {
  page.ReceivedBytes += static_cast<std::int64_t>(answer.size());
  if (StartsWithIgnoringAsciiCase(answer, "<HTML>")) {
    page.ContentType = "text/html";
    page.Body.WriteBuffer(answer.data(), static_cast<std::int64_t>(answer.size()));
    return true;
  }
  std::string problem;
  const std::int64_t limit = maxDocSize_ > 0 ? maxDocSize_ : INT64_MAX;
  std::optional<THttpMessage> message = ParseHttpResponse(answer, limit, problem);
  if (!message) {
    Fail(page, kHttpErrorNoStatus, HttpErrorText(kHttpErrorNoStatus));
    return false;
  }
  page.StatusCode = message->Status;
  page.ReasonPhrase = message->Reason;
  if (message->Status >= 400) return true;
  if (!message->Location.empty()) {
    relocation = message->Location;
    return true;
  }
  if (maxDocSize_ > 0 && static_cast<std::int64_t>(message->Body.size()) > maxDocSize_) {
    Fail(page, kHttpErrorDocTooLarge, HttpErrorText(kHttpErrorDocTooLarge));
    return false;
  }
  page.ContentType = LowerAscii(message->ContentType);
  page.Body.WriteBuffer(message->Body.data(), static_cast<std::int64_t>(message->Body.size()));
  return true;
}

// Hop by hop as the client goes: the address (Location as the client shows
// it), the archive's outcome for it, then the next hop of a relocation.
std::unique_ptr<TFetchedPage> TArchiveSource::Take(size_t position, const std::string&) {
  auto page = std::make_unique<TFetchedPage>();
  const std::string address(lists_.PageQueue.At(position));
  page->Location = address;
  TUrlParts hop = SplitUrl(address);
  for (int relocations = 0;; ++relocations) {
    const bool tls = EqualIgnoringAsciiCase(hop.Proto, "https");
    std::optional<TArchivedOutcome> outcome =
        index_.Find(RequestUri(tls, hop.Host, hop.Port, hop.Path));
    if (!outcome && !IsSendableHost(hop.Host)) {
      Fail(*page, winsock::WSAHOST_NOT_FOUND, kUnresolvableText);
    } else if (!outcome && !hop.Port.empty() && !PortNumber(hop.Port)) {
      Fail(*page, kHttpErrorBadPort, HttpErrorText(kHttpErrorBadPort));
    } else if (!outcome) {
      Fail(*page, kHttpErrorNotArchived, HttpErrorText(kHttpErrorNotArchived));
    } else if (outcome->Failed) {
      Fail(*page, outcome->Error, outcome->Reason);
    }
    std::string relocation;
    if (page->Error != 0 || !TakeAnswer(*page, outcome->Answer, relocation) || relocation.empty())
      return page;
    const TUrlParts target =
        RelocationTarget(FetchedAddress(tls, hop.Host, hop.Port, hop.Path), relocation);
    page->Location = RelocatedAddress(target);
    // A page fetched already is not fetched again: the entry ends here.
    if (lists_.FetchedPages.Contains(
            std::string_view(page->Location).substr(0, FragmentStart(page->Location)))) {
      return page;
    }
    if (relocations + 1 > HttpMaxRelocations) {
      Fail(*page, kHttpErrorTooManyRelocations, HttpErrorText(kHttpErrorTooManyRelocations));
      return page;
    }
    hop = target;
  }
}
