#include "CodeSkip.h"

namespace {

bool IsCommentOpening(std::string_view name) { return name.starts_with("!--"); }

// "<!---->" and "<!-- x -->" hold their whole comment: the raw text goes on
// past the opening "!--" and ends with "--".
bool IsWholeComment(std::string_view raw) { return raw.size() >= 5 && raw.ends_with("--"); }

}  // namespace

void TCodeSkipper::SeeTag(const THTMLTag& tag) {
  std::string_view name = tag.Name;
  switch (state_) {
    case kOutside:
      if (name == "SCRIPT") {
        state_ = kScript;
      } else if (name == "STYLE") {
        state_ = kStyle;
      } else if (IsCommentOpening(name) && !IsWholeComment(tag.Raw)) {
        state_ = kComment;
      }
      break;
    case kScript:
      if (name.ends_with("/SCRIPT")) state_ = kOutside;
      break;
    case kStyle:
      if (name.ends_with("/STYLE")) state_ = kOutside;
      break;
    case kComment:
      if (std::string_view(tag.Raw).ends_with("--")) state_ = kOutside;
      break;
  }
}

std::string_view TCodeSkipper::Harvested(std::string_view text) {
  if (state_ == kOutside) return text;
  if (state_ != kComment) return {};
  size_t end = text.find("--");
  if (end == std::string_view::npos) return {};
  state_ = kOutside;
  return text.substr(end + 2);
}
