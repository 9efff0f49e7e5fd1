// Web archives as the run's page source: each address is answered by the
// last response or failure the archives hold for it, so a run replayed from
// the archive of an earlier run (TWarcRecorder) gives that run's log and
// words without asking the site again. The HTTP client's rules are followed
// as it follows them: relocations through the archive (never onto a page
// fetched already, at most HttpMaxRelocations), addresses it cannot send
// failing as it fails them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "CrawlLists.h"
#include "PageSource.h"
#include "WarcReader.h"

// Called with a log line for each archive that cannot be read and each
// damaged record (its offset, and what is wrong).
using TArchiveProblem = std::function<void(const std::string& line)>;

// The log line of a damaged record.
std::string DamageLine(const std::string& file, std::uint64_t offset, const std::string& problem);

// What an archive holds for one address: an answer (its bytes as the server
// sent them), or the failure the client met.
struct TArchivedOutcome {
  bool Failed = false;
  std::uint16_t Error = 0;  // a failure's code
  std::string Reason;       // a failure's text
  std::string Answer;       // an answer's bytes, status line to body
};

// Where the last response or failure for each target address lies in a set
// of archive files, read once; each record is read again when asked for.
class TArchiveIndex {
 public:
  // Reads every record of the files; a file that cannot be read is left
  // out after its line.
  TArchiveIndex(const std::vector<std::string>& files, std::int64_t maxAnswerBytes,
                const TArchiveProblem& onProblem);
  ~TArchiveIndex();

  // nullopt when the archives hold nothing for the address
  // (RequestUriOf's form).
  std::optional<TArchivedOutcome> Find(const std::string& uri);

 private:
  struct TPlace {
    std::uint32_t file;
    std::uint64_t offset, skip;
  };

  void IndexFile(std::uint32_t file);

  std::vector<std::unique_ptr<TWarcReader>> readers_;
  std::unordered_map<std::string, TPlace> latest_;
};

class TArchiveSource : public TPageSource {
 public:
  // `index` and `fetched` must outlive the source; `maxDocSize` bounds a
  // document as the client's MaxDocSize does (0: no limit).
  TArchiveSource(TArchiveIndex& index, const TCrawlLists& lists, std::int64_t maxDocSize);

  bool Reach(size_t position) override;
  std::unique_ptr<TFetchedPage> Take(size_t position, const std::string& proxy) override;
  void StopAll() override { stopped_ = true; }
  void SkipAwaited() override {}
  void AbortStalled() override {}

 private:
  void Fail(TFetchedPage& page, std::uint16_t error, const std::string& reason) const;
  bool TakeAnswer(TFetchedPage& page, const std::string& answer, std::string& relocation) const;

  TArchiveIndex& index_;
  const TCrawlLists& lists_;
  std::int64_t maxDocSize_;
  bool stopped_ = false;
};
