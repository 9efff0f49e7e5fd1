// Tells, node by node, which text of a page is script, style sheet or
// comment, so that a harvest can leave it out. It goes by the node sequence
// alone, as the tokenizer cut it:
//
//   - from a "SCRIPT" (or "STYLE") tag node to the next tag node whose name
//     ends with "/SCRIPT" ("/STYLE"): a less-than sign inside a script cuts
//     a tag such as "B;/SCRIPT" out of "a<b;</script>", which still ends it;
//   - a tag node whose name begins with "!--" opens a comment. The tokenizer
//     ends the tag at the first greater-than sign, so a comment that holds
//     one goes on past the tag: up to a tag whose raw text ends with "--",
//     or up to the first "--" in a text node (what follows it is harvested).
#pragma once

#include <string_view>

#include "HTMLPars.h"

class TCodeSkipper {
 public:
  // Forgets an unfinished script or comment: each page starts outside code.
  void StartPage() { state_ = kOutside; }
  // Every tag node of the page, in node order.
  void SeeTag(const THTMLTag& tag);
  // The part of a text node (in node order) that is harvested: all of it
  // outside code, none of it inside, the rest after "--" where a comment ends.
  std::string_view Harvested(std::string_view text);

 private:
  enum TState { kOutside, kScript, kStyle, kComment };
  TState state_ = kOutside;
};
