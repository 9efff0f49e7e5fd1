// A document worker process as the crawl thread sees it: documents (PDF,
// Office, OpenDocument) are read in a separate process under limits on
// memory, processor time and answer size (see DocumentLimits.h), so that a
// hostile document costs one failed page, never the crawl.
//
// Read returns at once. The documents go to the worker one at a time, in the
// order given; each answer is delivered by calling `done` on the thread that
// made the client, from its message loop, in the same order. The exchange
// with the process runs on one helper thread of the client, which blocks in
// poll on the pipes: a 20 MB document is a long write and read that must not
// hold up the crawl, and a thread also waits for the process's end. The
// crawl's event loop has no place for pipe descriptors, so watching the pipes
// there would mean a second reactor beside it.
//
// How a document ends (TDocumentAnswer.status):
//   dsRead, dsUnreadable   the worker's answer;
//   dsTooLarge             the worker ran out of memory (std::bad_alloc, or
//                          killed with SIGKILL by someone else than this
//                          client, having used less than the CPU budget in
//                          all), its text passed the answer limit, its answer
//                          did, or the document is larger than the memory
//                          limit (then it is not sent);
//   dsTooLong              the worker ended on SIGXCPU (or on SIGKILL having
//                          used the CPU budget), or no answer came within the
//                          wall-clock bound;
//   dsCrashed              the worker ended another way (a signal, an exit)
//                          or answered garbage: twice, on two processes,
//                          since its death may have had an earlier cause;
//   dsNoWorker             the program could not be started.
// After any failure but dsUnreadable the worker process is replaced, started
// afresh for the next document.
//
// The worker starts with the first document (argv: the program and the
// limits' options); its standard error goes to stderrPath or nowhere. The
// destructor stops it: an idle worker gets the end of its input and
// stopGraceMs to exit, one with a document in flight is killed at once;
// either way the destructor returns after the process has ended. Documents
// not answered by then get no answer. A `done` may destroy the client.
// Writing to a worker that died raises no SIGPIPE in the crawl.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "DocumentFraming.h"
#include "DocumentLimits.h"

struct TDocumentWorkerSettings {
  std::string program;  // path of the worker program
  TWorkerLimits limits;
  // The last resort for a worker that neither answers nor breaks a limit
  // (asleep, or blocking SIGXCPU), per document from its sending; 0: none.
  int wallSeconds = 300;
  std::string stderrPath;  // appended to; empty: discarded
  int stopGraceMs = 2000;
};

using TDocumentDone = std::function<void(TDocumentAnswer)>;

class TDocumentWorker {
 public:
  // Throws std::system_error when the system has no descriptor left for it.
  explicit TDocumentWorker(TDocumentWorkerSettings settings);
  ~TDocumentWorker();
  TDocumentWorker(const TDocumentWorker&) = delete;
  TDocumentWorker& operator=(const TDocumentWorker&) = delete;

  // Queues the document; `done` is called later, never inside this call.
  // Throws std::system_error when the helper thread cannot be started.
  void Read(std::uint8_t kind, std::string bytes, TDocumentDone done);
  // Worker processes started so far.
  int WorkersStarted() const;

 private:
  class TImpl;
  std::unique_ptr<TImpl> impl_;
};
