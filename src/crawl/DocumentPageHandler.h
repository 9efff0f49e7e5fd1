// Documents (PDF, Office Open XML, OpenDocument) a site links to, when the
// run is asked to read them: each is read by the document worker process
// (TDocumentWorker), its text harvested line by line like a page's text
// nodes, its links followed by the same rules as a page's, and the people
// its metadata names told to the observer. A document the worker cannot
// read, or that breaks its limits, is logged and harvests nothing; the run
// goes on.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "CrawlEvents.h"
#include "CrawlOptions.h"
#include "DocumentReader.h"
#include "DocumentWorker.h"
#include "LinkFollow.h"
#include "PageHandler.h"
#include "WordHarvest.h"

class TDocumentPageHandler : public TPageHandler {
 public:
  // All must outlive the handler; the worker starts with the first document.
  TDocumentPageHandler(TLinkFollower& follower, TWordHarvest& harvest,
                       const TCrawlOptions& options, TCrawlEvents& events);
  ~TDocumentPageHandler() override;

  bool Reads(std::string_view contentType, std::string_view address) const override;
  // Waits for the worker's answer, processing events meanwhile.
  void Harvest(std::string_view contentType, std::string_view address,
               std::string_view document) override;

 private:
  void TakeAnswer(const TDocumentAnswer& answer, std::string_view address);

  TLinkFollower& follower_;
  TWordHarvest& harvest_;
  const TCrawlOptions& options_;
  TCrawlEvents& events_;
  std::unique_ptr<TDocumentWorker> worker_;
};
