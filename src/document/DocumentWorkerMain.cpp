// tirasel-document-worker: reads the documents the crawl hands it, one at a
// time, under the limits of its command line (see DocumentWorkerLoop.h).
// The kind byte of a request is a TDocumentKind.
#include "DocumentReader.h"
#include "DocumentLimits.h"
#include "DocumentWorkerLoop.h"

namespace {

TDocumentAnswer ReadOne(std::uint8_t kind, const std::string& bytes, std::uint64_t answerBytes) {
  if (kind > static_cast<std::uint8_t>(TDocumentKind::Odp)) {
    return FailedDocument(TDocumentStatus::dsUnreadable, "no document kind " + std::to_string(kind));
  }
  TDocumentLimits limits;
  limits.MaxText = static_cast<std::size_t>(answerBytes);
  std::string error;
  std::optional<TDocumentContent> content =
      ReadDocument(static_cast<TDocumentKind>(kind), bytes, limits, error);
  if (!content) return FailedDocument(TDocumentStatus::dsUnreadable, error);
  TDocumentAnswer answer;
  answer.text = std::move(content->Text);
  answer.people = std::move(content->People);
  answer.links = std::move(content->Links);
  return answer;
}

}  // namespace

int main(int argc, char** argv) {
  TWorkerLimits limits;
  if (!ParseWorkerLimits(argc, argv, limits)) return 2;
  const std::uint64_t answerBytes = limits.AnswerBytes();
  return RunDocumentWorker(argc, argv, [answerBytes](std::uint8_t kind, const std::string& bytes) {
    return ReadOne(kind, bytes, answerBytes);
  });
}
