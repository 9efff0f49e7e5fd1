#include "HTMLPars.h"

#include "ByteScan.h"

void THTMLParser::Parse() { ParseLines(); }

void THTMLParser::Parse(const THTMLVisitor& visit) {
  struct TVisiting {
    THTMLParser& parser;
    ~TVisiting() { parser.visit_ = nullptr; }
  } visiting{*this};
  visit_ = &visit;
  ParseLines();
}

void THTMLParser::ParseLines() {
  PendingText.clear();
  PendingTag.clear();
  InTag = false;
  for (std::string_view line : Lines) {
    ParseLine(line);
    if (!InTag && !PendingText.empty()) PendingText.push_back('\n');
  }
  if (InTag && !PendingTag.empty()) EmitTag();
  if (!InTag && !PendingText.empty()) EmitText();
}

void THTMLParser::ParseLine(std::string_view line) {
  const char* p = line.data();
  const char* end = p + line.size();
  while (p < end) {
    // Copy the run up to the next angle bracket in one piece.
    const char* run = p;
    p = FindFirstOf<'<', '>'>(p, end);
    (InTag ? PendingTag : PendingText).append(run, p);
    if (p == end) break;
    if (*p == '<') {
      EmitText();
      InTag = true;
    } else {
      EmitTag();
    }
    ++p;
  }
}

// With a visitor, the node is parsed into the parser's own tag or text,
// whose memory serves node after node; without one, into a new node of Nodes.
void THTMLParser::EmitText() {
  if (InTag || PendingText.empty()) return;
  THTMLText& text = visit_ ? text_ : Nodes.AddText();
  text.Parse(PendingText);
  PendingText.clear();
  if (visit_) (*visit_)(THTMLNode(text));
}

void THTMLParser::EmitTag() {
  InTag = false;
  THTMLTag& tag = visit_ ? tag_ : Nodes.AddTag();
  tag.Parse(PendingTag);
  PendingTag.clear();
  if (visit_) (*visit_)(THTMLNode(tag));
}
