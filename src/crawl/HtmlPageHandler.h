// Pages of HTML: decoded from their character set into Windows-1252, cut into
// lines and tokens; tag nodes go to link following, text nodes to the word
// harvest, in document order. Reads every type: whatever a link led to is
// read as a page.
#pragma once

#include "CodeSkip.h"
#include "CrawlOptions.h"
#include "HTMLPars.h"
#include "LinkFollow.h"
#include "PageHandler.h"
#include "WordHarvest.h"

// The run's work on one document already cut into the parser's Lines: each
// node is handed, in document order, to link following (tags) or the word
// harvest (texts). Link following may process pending events and ask
// questions.
void HarvestPageLines(THTMLParser& parser, TLinkFollower& follower, TWordHarvest& harvest);

class THtmlPageHandler : public TPageHandler {
 public:
  // All must outlive the handler; `options` is read for SkipCode and the
  // Observer at every page.
  THtmlPageHandler(TLinkFollower& follower, TWordHarvest& harvest, const TCrawlOptions& options)
      : follower_(follower), harvest_(harvest), options_(options) {}

  bool Reads(std::string_view, std::string_view) const override { return true; }
  void Harvest(std::string_view contentType, std::string_view address,
               std::string_view document) override;

  // Off: the words only, no link is followed (a harvest of archives).
  bool FollowLinks = true;

 private:
  void SeeTag(const THTMLTag& tag);
  void HarvestObserved(std::string_view text);

  TLinkFollower& follower_;
  TWordHarvest& harvest_;
  const TCrawlOptions& options_;
  THTMLParser parser_;
  TCodeSkipper codeSkip_;
};
