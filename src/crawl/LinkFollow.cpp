#include "LinkFollow.h"

#include "AsciiCase.h"
#include "LinkValue.h"

const std::array<std::string_view, 13> PageExtensions = {
    ".HTM",  ".HTML",  ".CGI",  ".PL",    ".PHP",  ".PHP3", ".SHTML",
    ".SHTM", ".PHTML", ".PHTM", ".DHTML", ".DHTM", ".ASP",
};

bool PassesExtensionFilter(std::string_view value) {
  std::string extension = UpperAscii(FileExtension(value));
  if (extension.empty()) return true;
  for (std::string_view prefix : PageExtensions) {
    if (std::string_view(extension).starts_with(prefix)) return true;
  }
  return false;
}

std::string LinkQuestionText(std::string_view linkDir) {
  return "Soll der Link zu \"" + std::string(linkDir) + "\" weiterverfolgt werden?";
}

void TLinkFollower::Enqueue() {
  std::string address = Link.FullAddress();
  if (QueueFilter && !QueueFilter(address)) return;
  lists_.PageQueue.Append(address);
}

void TLinkFollower::HandleTag(const THTMLTag& tag) {
  if (tag.Name == "META") {
    HandleRefresh(tag);
  } else if (tag.Name == "FRAME") {
    host_.ProcessPendingEvents();
    for (const THTMLParam& param : tag.Params) {
      if (param.Key == "SRC" || param.Key == "DEST") FollowLink(param.Value);
    }
  } else if (tag.Name == "A" || tag.Name == "AREA" || tag.Name == "LINK") {
    host_.ProcessPendingEvents();
    for (const THTMLParam& param : tag.Params) {
      if (param.Key == "HREF" && !param.Value.empty()) FollowLink(param.Value);
    }
  }
}

// A refresh to a page in the current directory (or below) is queued; any
// other refresh is dropped without a question.
void TLinkFollower::HandleRefresh(const THTMLTag& tag) {
  bool refresh = false;
  bool found = false;
  std::string address;
  for (const THTMLParam& param : tag.Params) {
    if (param.Key == "HTTP-EQUIV") {
      refresh = EqualIgnoringAsciiCase(param.Value, "REFRESH");
    } else if (param.Key == "CONTENT") {
      size_t at = UpperAscii(param.Value).find("URL=");
      if (at != std::string::npos) {
        address = param.Value.substr(at + 4);
        found = true;
      }
    }
  }
  if (!refresh || !found) return;
  std::optional<std::string_view> target = FollowableLinkValue(address);
  if (!target) return;
  Link = ResolveAgainstBase(*target, Base());
  if (IsUnderBase(Link.LinkDir, Base()) && (!PageOffSite || IsOnKnownSite())) Enqueue();
}

// Under the base (unless the page moved off the site) or a site directory.
bool TLinkFollower::IsOnKnownSite() const {
  const std::vector<std::string>& bases = lists_.SiteBases;
  for (size_t at = PageOffSite ? 1 : 0; at < bases.size(); ++at) {
    if (IsUnderBase(Link.LinkDir, bases[at])) return true;
  }
  return false;
}

void TLinkFollower::FollowLink(std::string_view written) {
  std::optional<std::string_view> followable = FollowableLinkValue(written);
  if (!followable) return;
  std::string_view value = *followable;
  if (!PassesExtensionFilter(value) && !(AlsoFollows && AlsoFollows(value))) return;
  Link = ResolveAgainstBase(value, Base());
  if (IsOnKnownSite() || (value.starts_with("../") && !PageOffSite)) {
    Enqueue();
    return;
  }
  if (InScope && InScope(Link.LinkDir)) {
    Enqueue();
    return;
  }
  if (lists_.DeclinedSites.Contains(Link.LinkDir)) return;
  if (!host_.AutomaticMode() &&
      host_.AskYesNo(std::string(kLinkQuestionCaption), LinkQuestionText(Link.LinkDir))) {
    lists_.SiteBases.push_back(Link.LinkDir);
    Enqueue();
    return;
  }
  lists_.DeclinedSites.Add(Link.LinkDir);
}
