#include "CodeSkip.h"

#include <gtest/gtest.h>

#include <string>

#include "HTMLPars.h"

namespace {

// The texts the skipper leaves of a one-line page, tokenized as a crawl
// tokenizes it (the line end becomes a space at the end of the last text).
std::string Harvested(const std::string& page) {
  THTMLParser parser;
  parser.Lines = {page};
  parser.Parse();
  TCodeSkipper skipper;
  skipper.StartPage();
  std::string out;
  for (const THTMLNode& node : parser.Nodes) {
    if (node.IsTag()) {
      skipper.SeeTag(node.Tag());
    } else {
      std::string_view text = skipper.Harvested(node.Text().Text);
      if (!text.empty()) out += "[" + std::string(text) + "]";
    }
  }
  return out;
}

TEST(CodeSkip, ScriptStyleAndCommentTextIsLeftOut) {
  EXPECT_EQ(Harvested("a<script>var x = 1;</script>b"), "[a][b ]");
  EXPECT_EQ(Harvested("a<SCRIPT type=\"x\">q</SCRIPT >b<style>p { c: d }</style>c"), "[a][b][c ]");
  // A less-than sign inside the script cuts the end tag into "B;/SCRIPT", which still ends it.
  EXPECT_EQ(Harvested("a<script>if (a<b;</script>b"), "[a][b ]");
  // A comment without a greater-than sign is one tag node; nothing to skip after it.
  EXPECT_EQ(Harvested("a<!-- x y -->b<!--z-->c<!---->d"), "[a][b][c][d ]");
  // One with a greater-than sign goes on into text up to its "--".
  EXPECT_EQ(Harvested("a<!-- p > q r -->b"), "[a][b ]");
  EXPECT_EQ(Harvested("a<!-- p > q <i> r -->b"), "[a][b ]");
  // Inside a comment a script tag opens nothing.
  EXPECT_EQ(Harvested("a<!-- > <script> -->b"), "[a][b ]");
  // An unended script hides the rest of the page.
  EXPECT_EQ(Harvested("a<script>x y"), "[a]");
  EXPECT_EQ(Harvested("<p>Kein Code</p>"), "[Kein Code]");
}

TEST(CodeSkip, EachPageStartsOutsideCode) {
  TCodeSkipper skipper;
  THTMLTag script;
  script.Name = "SCRIPT";
  skipper.SeeTag(script);
  EXPECT_EQ(skipper.Harvested("x"), "");
  skipper.StartPage();
  EXPECT_EQ(skipper.Harvested("x"), "x");
}

}  // namespace
