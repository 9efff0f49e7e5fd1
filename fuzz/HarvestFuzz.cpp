// Arbitrary bytes as a downloaded page: split into lines, tokenize, harvest
// every text node into a word list, and check what must always hold.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "HTMLPars.h"
#include "WordHarvest.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  THTMLParser parser;
  SplitLines(reinterpret_cast<const char*>(data), size, parser.Lines);
  for (std::string_view line : parser.Lines) {
    Check(line.find('\r') == std::string_view::npos && line.find('\n') == std::string_view::npos);
    Check(line.find('\0') == std::string_view::npos);
  }
  parser.Parse();

  WordList words;
  size_t labels = 0;
  TWordHarvest harvest(words, [&](const std::string&) { ++labels; });
  for (const THTMLNode& node : parser.Nodes) {
    if (node.IsTag()) {
      const THTMLTag& tag = node.Tag();
      Check(tag.Raw.find('<') == std::string::npos && tag.Raw.find('>') == std::string::npos);
      continue;
    }
    const THTMLText& text = node.Text();
    Check(!text.Raw.empty());
    Check(text.Text.size() <= text.Raw.size());
    harvest.HarvestText(text.Text);
  }
  Check(labels == words.WordCount());
  // Every harvested word is found at its own place: no two are equal.
  for (size_t i = 0; i < words.WordCount(); ++i) {
    Check(words.FindWord(words.WordAt(i)) == i);
    Check(!words.WordAt(i).empty() && words.WordAt(i).find(' ') == std::string::npos);
  }
  return 0;
}
