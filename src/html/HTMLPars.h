// HTMLPars: turns the lines of one page into a flat sequence of tag and text
// nodes, handed to a visitor as they come or kept in a list.
//
// No tree, no knowledge of element names: a less-than sign opens a tag, a
// greater-than sign closes one, everything else is text. Text nodes are
// normalised (line feeds to spaces, runs of spaces collapsed) and their
// character references decoded. All strings are Windows-1252 bytes.
#pragma once

#include <functional>
#include <string>

#include "HTMLNodes.h"
#include "StringList.h"

// Receives each node as soon as it is complete; the node and its strings are
// valid only during the call.
using THTMLVisitor = std::function<void(const THTMLNode&)>;

class THTMLParser {
 public:
  std::string PendingText;  // text outside tags, not yet emitted
  std::string PendingTag;   // text after '<', not yet emitted
  bool InTag = false;
  THTMLNodeList Nodes;  // the output of Parse(), in document order
  TStringList Lines;    // the input; filled and cleared by the caller

  // Tokenizes Lines and appends to Nodes (which it does not clear).
  void Parse();
  // Tokenizes Lines and hands each node to `visit`, in the order Parse()
  // would append them, keeping none: memory stays within the size of the
  // largest node. `visit` may run other handlers but must leave Lines alone.
  // Its exceptions end the parse and leave this call.
  void Parse(const THTMLVisitor& visit);

 private:
  void ParseLines();
  void ParseLine(std::string_view line);
  void EmitText();
  void EmitTag();

  const THTMLVisitor* visit_ = nullptr;  // during Parse(visit)
  THTMLTag tag_;                         // the node handed to visit_, reused
  THTMLText text_;
};
