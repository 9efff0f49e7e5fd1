// The loop of a document worker process: it reads framed requests from its
// standard input and writes framed answers to its standard output (see
// DocumentFraming.h), one document at a time, until its input ends. The
// program around it brings the parse step, so the loop can be run with the
// real reading library or with a test's.
//
// Each document is read under the limits of the command line (see
// DocumentLimits.h). Set once at the start: the address space (RLIMIT_AS),
// no core files, the default action of SIGXCPU and SIGPIPE, so that a
// breach of the CPU limit or a crawl that went away ends the process, and a
// heap that keeps freed memory for the next document (up to the memory
// budget). Set
// before each document: the CPU limit's soft value, to the processor time
// used so far plus the budget (the hard value is left alone, since a
// process may never raise it again). Out of memory in the parse step
// (std::bad_alloc) and a text past the answer limit are answered "too large
// to read"; another exception is answered "the reader could not read it"
// with its message. A breach that ends the process is told apart by the
// crawl side from how the process ended.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "DocumentFraming.h"

// Reads one document: an answer of status dsRead, or FailedDocument with
// dsUnreadable or dsTooLarge and a detail. Any other status is answered
// dsUnreadable. It may throw; see above.
using TDocumentParse = std::function<TDocumentAnswer(std::uint8_t kind, const std::string& bytes)>;

// The whole life of the worker process: returns its exit status, 0 when the
// input ended between two requests, 1 when the input or output failed in the
// middle of one, 2 (with a line on standard error) on a bad command line.
int RunDocumentWorker(int argc, char** argv, const TDocumentParse& parse);
