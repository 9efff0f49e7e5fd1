// Link following: decides, for every tag node of a fetched page, which link
// values are queued, which directories become site directories or declined
// ones, and when the user is asked.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "CrawlLists.h"
#include "HTMLPars.h"
#include "LinkResolve.h"

// Extension prefixes (upper case) that mark a link value as a page.
extern const std::array<std::string_view, 13> PageExtensions;

// True when the value's upper-cased extension is empty or begins with one of
// the PageExtensions.
bool PassesExtensionFilter(std::string_view value);

// The question asked before following a link into a foreign directory.
inline constexpr std::string_view kLinkQuestionCaption = "Frage";
std::string LinkQuestionText(std::string_view linkDir);

// What link following needs of the window, supplied by its caller.
class TLinkFollowHost {
 public:
  virtual ~TLinkFollowHost() = default;
  virtual void ProcessPendingEvents() = 0;
  // The automatic mode (never ask); read anew at every question.
  virtual bool AutomaticMode() = 0;
  // A modal Yes/No question with the question icon; true when Yes.
  virtual bool AskYesNo(const std::string& caption, const std::string& text) = 0;
};

class TLinkFollower {
 public:
  TLinkFollower(TCrawlLists& lists, TLinkFollowHost& host) : lists_(lists), host_(host) {}

  void HandleTag(const THTMLTag& tag);
  // Cuts the value's fragment and ignores other schemes (LinkValue.h)
  // before the link rules see it.
  void FollowLink(std::string_view value);
  // Appends the current link's full address to the page queue, unless
  // QueueFilter is set and refuses it.
  void Enqueue();

  TLinkParts Link;  // the link in work; every resolution overwrites it
  // Empty: every address is queued, as the run specifies.
  std::function<bool(std::string_view address)> QueueFilter;
  // Empty: the directory rules alone decide. Else links to an address it
  // accepts are followed without a question (the run's scope).
  std::function<bool(std::string_view address)> InScope;
  // Link values the extension rule would leave out that are followed all
  // the same (documents); unset: none.
  std::function<bool(std::string_view value)> AlsoFollows;
  // The page in work was relocated off the site: its final directory (the
  // base) lies under no site directory. Its links are then followed without
  // a question only where they lie under a site directory; its own
  // directory and "../" links lead onto the other site.
  bool PageOffSite = false;

 private:
  void HandleRefresh(const THTMLTag& tag);
  const std::string& Base() const { return lists_.SiteBases.at(0); }
  bool IsOnKnownSite() const;

  TCrawlLists& lists_;
  TLinkFollowHost& host_;
};
