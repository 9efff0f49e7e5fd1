#include "HtmlPageHandler.h"

#include <optional>
#include <string>

#include "PageCharset.h"

// Each node is handled as soon as it is tokenized and then forgotten: a page
// of one-byte tags would need a hundred times its size if all its nodes were
// kept until the end of the page.
void HarvestPageLines(THTMLParser& parser, TLinkFollower& follower, TWordHarvest& harvest) {
  parser.Parse([&](const THTMLNode& node) {
    if (node.IsTag()) {
      follower.HandleTag(node.Tag());
    } else {
      harvest.HarvestText(node.Text().Text);
    }
  });
}

void THtmlPageHandler::Harvest(std::string_view contentType, std::string_view,
                               std::string_view document) {
  parser_.Lines.clear();
  {
    std::optional<std::string> decoded = DecodePage(contentType, document);
    std::string_view text = decoded ? std::string_view(*decoded) : document;
    SplitLines(text.data(), text.size(), parser_.Lines);
  }
  if (!options_.SkipCode && !options_.Observer && FollowLinks) {
    HarvestPageLines(parser_, follower_, harvest_);
    return;
  }
  codeSkip_.StartPage();
  parser_.Parse([&](const THTMLNode& node) {
    if (node.IsTag()) {
      SeeTag(node.Tag());
      if (FollowLinks) follower_.HandleTag(node.Tag());
    } else {
      HarvestObserved(node.Text().Text);
    }
  });
}

void THtmlPageHandler::SeeTag(const THTMLTag& tag) {
  if (options_.SkipCode) codeSkip_.SeeTag(tag);
  if (options_.Observer) options_.Observer->TagSeen(tag);
}

void THtmlPageHandler::HarvestObserved(std::string_view text) {
  if (options_.SkipCode) text = codeSkip_.Harvested(text);
  if (text.empty()) return;
  if (options_.Observer) options_.Observer->TextSeen(text);
  harvest_.HarvestText(text);
}
