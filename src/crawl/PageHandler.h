// What a fetched document is turned into: words for the word list and links
// for the queue. The run hands each document to the first handler that
// reads its type; pages of HTML (and, as the window has always read them,
// documents of any other type) go to THtmlPageHandler.
#pragma once

#include <string_view>

class TPageHandler {
 public:
  virtual ~TPageHandler() = default;
  // Whether the handler reads a document of this content type (lower case,
  // parameters included; empty when the server named none) at this address.
  virtual bool Reads(std::string_view contentType, std::string_view address) const = 0;
  // Harvests the document's words and follows its links; link following may
  // process pending events and ask questions. `address` is the one Reads
  // was asked about.
  virtual void Harvest(std::string_view contentType, std::string_view address,
                       std::string_view document) = 0;
};
