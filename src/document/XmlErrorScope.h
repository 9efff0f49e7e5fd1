// While it lives, libxml2's thread-wide error handlers (the ones that report
// what no parser context reports, such as a failed character set
// conversion) hand their messages to `sink` instead of writing them to
// stderr; afterwards the handlers are what they were before. A program
// that includes it links libxml2.
#pragma once

#include <libxml/xmlerror.h>

class TXmlErrorScope {
 public:
  // nullptr handler: the messages go nowhere.
  explicit TXmlErrorScope(void* sink = nullptr, xmlStructuredErrorFunc handler = nullptr)
      : structured_(xmlStructuredError),
        structuredContext_(xmlStructuredErrorContext),
        generic_(xmlGenericError),
        genericContext_(xmlGenericErrorContext) {
    xmlSetStructuredErrorFunc(sink, handler ? handler : IgnoreStructuredError);
    xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
  }
  ~TXmlErrorScope() {
    xmlSetStructuredErrorFunc(structuredContext_, structured_);
    xmlSetGenericErrorFunc(genericContext_, generic_);
  }
  TXmlErrorScope(const TXmlErrorScope&) = delete;
  TXmlErrorScope& operator=(const TXmlErrorScope&) = delete;

 private:
  static void IgnoreStructuredError(void*, xmlErrorPtr) {}
  // Unformatted debugging output of libxml2; a structured error carries
  // everything a reader needs.
  static void IgnoreGenericError(void*, const char*, ...) {}

  xmlStructuredErrorFunc structured_;
  void* structuredContext_;
  xmlGenericErrorFunc generic_;
  void* genericContext_;
};
