// Arbitrary link texts and bases through link resolution and the
// link-following rules. The input is cut at byte 0x01 into a base followed
// by tag texts; the bits of the last byte answer the questions.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "LinkFollow.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

struct FuzzHost : TLinkFollowHost {
  uint8_t bits = 0;
  int asked = 0;
  void ProcessPendingEvents() override {}
  bool AutomaticMode() override { return bits & 0x80; }
  bool AskYesNo(const std::string&, const std::string&) override {
    return (bits >> (asked++ % 7)) & 1;
  }
};

std::vector<std::string_view> Pieces(std::string_view input) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (size_t i = 0; i <= input.size(); ++i) {
    if (i == input.size() || input[i] == '\x01') {
      pieces.push_back(input.substr(start, i - start));
      start = i + 1;
    }
  }
  return pieces;
}

void CheckResolution(std::string_view link, std::string_view base) {
  TLinkParts parts = ResolveLink(link, base);
  Check(parts.LinkDir.empty() || parts.LinkDir.back() == '/');
  TLinkParts against = ResolveAgainstBase(link, base);
  Check(!parts.LinkDir.empty() || against.LinkDir == base);
  Check(against.LinkFile == parts.LinkFile);
  Check(IsUnderBase(parts.LinkDir, parts.LinkDir));
  std::string_view extension = FileExtension(link);
  Check(extension.empty() || extension.front() == '.');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> pieces = Pieces(input);
  std::string_view base = pieces[0];
  for (size_t i = 1; i < pieces.size(); ++i) CheckResolution(pieces[i], base);

  TCrawlLists lists;
  lists.SiteBases = {std::string(base), std::string(base)};
  FuzzHost host;
  host.bits = size ? data[size - 1] : 0;
  TLinkFollower follower(lists, host);
  for (size_t i = 1; i < pieces.size(); ++i) {
    THTMLTag tag;
    tag.Parse(pieces[i]);
    size_t queued = lists.PageQueue.Count();
    follower.HandleTag(tag);
    Check(lists.PageQueue.Count() >= queued);
    follower.FollowLink(pieces[i]);
  }
  Check(lists.SiteBases.size() >= 2 && lists.SiteBases[0] == base);
  return 0;
}
