// HTMLPars: turns the lines of one page into a flat list of tag and text nodes.
//
// No tree, no knowledge of element names: a less-than sign opens a tag, a
// greater-than sign closes one, everything else is text. Text nodes are
// normalised (line feeds to spaces, runs of spaces collapsed) and their
// character references decoded. All strings are Windows-1252 bytes.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// One named character reference and its decimal numeric form, both written
// as they stand in a document ("&auml;" / "&#228;").
struct TNamedEntity {
  std::string_view Name;
  std::string_view Numeric;
};

// The HTML 4 Latin-1 references: quot, amp, lt, gt, then nbsp (160) to yuml (255).
extern const std::array<TNamedEntity, 100> NamedEntities;

// Byte for each character code: 0-31 and 160 become a space, all others themselves.
extern const std::array<unsigned char, 256> CodeToChar;

// Upper-cases the ASCII letters a-z only; every other byte stays as it is.
std::string UpperAscii(std::string_view text);

class THTMLParam {
 public:
  std::string Raw;    // the parameter text as split from the tag
  std::string Key;    // before the first '=', upper-cased
  std::string Value;  // after the first '=', one pair of enclosing double quotes removed

  void Parse(std::string_view text);
};

class THTMLTag {
 public:
  std::string Name;  // the text before the first space, upper-cased
  std::string Raw;   // everything between '<' and '>'
  std::vector<THTMLParam> Params;

  void Parse(std::string_view text);
};

class THTMLText {
 public:
  std::string Text;  // normalised and decoded
  std::string Raw;   // as gathered, line feeds included

  void Parse(std::string_view text);
};

// One entry of the node list: either a tag or a text.
class THTMLNode {
 public:
  explicit THTMLNode(THTMLTag tag) : node_(std::move(tag)) {}
  explicit THTMLNode(THTMLText text) : node_(std::move(text)) {}

  bool IsTag() const { return std::holds_alternative<THTMLTag>(node_); }
  const THTMLTag& Tag() const { return std::get<THTMLTag>(node_); }
  const THTMLText& Text() const { return std::get<THTMLText>(node_); }

 private:
  std::variant<THTMLTag, THTMLText> node_;
};

class THTMLParser {
 public:
  std::string PendingText;  // text outside tags, not yet emitted
  std::string PendingTag;   // text after '<', not yet emitted
  bool InTag = false;
  std::vector<THTMLNode> Nodes;   // the output, in document order
  std::vector<std::string> Lines; // the input; filled and cleared by the caller

  // Tokenizes Lines and appends to Nodes (which it does not clear).
  void Parse();

 private:
  void ParseLine(std::string_view line);
  void EmitText();
  void EmitTag();
};

// The text node's normalisation steps, exposed for tests and benchmarks.
std::string CollapseSpaces(std::string_view text);      // LF to space, runs of spaces to one
std::string DecodeReferences(std::string_view text);    // one left-to-right reference scan
