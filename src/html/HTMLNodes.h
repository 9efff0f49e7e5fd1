// The nodes the HTML tokenizer hands out: tags with their parameters, and
// texts, and the list that keeps them. A tag's name and parameter keys are
// upper-cased (ASCII letters only); a text is normalised (line feeds to
// spaces, runs of spaces collapsed) and its character references decoded
// (CharacterReferences.h). All strings are Windows-1252 bytes.
#pragma once

#include <cstddef>
#include <iterator>
#include <memory_resource>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "NodeArena.h"

// Node strings and lists live in the node list's arena, so tokenizing a page
// costs a few large allocations instead of several small ones per node.
using THTMLString = std::pmr::string;
using TResource = std::pmr::memory_resource;

// One parameter of a tag. Its three texts are views into the tag that holds
// it and change with that tag.
class THTMLParam {
 public:
  std::string_view Raw;    // the parameter text as split from the tag
  std::string_view Key;    // before the first '=', upper-cased
  std::string_view Value;  // after the first '=', one pair of enclosing double quotes removed

  // `raw` and `upper` are the same text, as written and upper-cased; both
  // must outlive the parameter.
  void Parse(std::string_view raw, std::string_view upper);
};

// The parameters of a tag, split from the tag's text while they are walked,
// so a tag costs no memory per parameter: a tag of a million parameters is
// as small as its text. A parameter runs to the next space outside double
// quotes; empty ones are skipped. size() and operator[] walk from the start.
class THTMLParams {
 public:
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = THTMLParam;
    using difference_type = std::ptrdiff_t;
    using pointer = const THTMLParam*;
    using reference = const THTMLParam&;

    const_iterator() = default;
    const THTMLParam& operator*() const { return param_; }
    const THTMLParam* operator->() const { return &param_; }
    const_iterator& operator++() {
      Advance();
      return *this;
    }
    bool operator==(const const_iterator& other) const { return at_ == other.at_; }

   private:
    friend class THTMLParams;
    const_iterator(std::string_view raw, std::string_view upper, size_t at)
        : raw_(raw), upper_(upper), at_(at) {
      Advance();
    }
    void Advance();

    std::string_view raw_;
    std::string_view upper_;
    size_t at_ =
        std::string_view::npos;  // the end of the current parameter; npos past the last one
    THTMLParam param_;
  };

  const_iterator begin() const { return const_iterator(raw_, upper_, raw_.find(' ')); }
  const_iterator end() const { return const_iterator(); }
  bool empty() const { return begin() == end(); }
  size_t size() const;
  // Throws std::out_of_range past the last parameter.
  THTMLParam operator[](size_t index) const;

 private:
  friend class THTMLTag;
  std::string_view raw_;    // the tag's text
  std::string_view upper_;  // the same, upper-cased
};

// A tag and its parameters. A copy parses its own text afresh, so the
// parameters of the copy point into the copy.
class THTMLTag {
 public:
  explicit THTMLTag(TResource* resource = std::pmr::get_default_resource())
      : Raw(resource), upper_(resource) {}
  THTMLTag(const THTMLTag& other) : THTMLTag() { Parse(other.Raw); }
  THTMLTag& operator=(const THTMLTag& other) {
    if (this != &other) Parse(std::string_view(other.Raw));
    return *this;
  }

  std::string_view Name;  // the text before the first space, upper-cased
  THTMLString Raw;        // everything between '<' and '>'
  THTMLParams Params;

  // Reuses the tag's memory: parsing tag after tag into one object
  // allocates only when a tag is larger than every one before it.
  void Parse(std::string_view text);

 private:
  THTMLString upper_;  // Raw with a-z upper-cased: the Name and the Keys point into it
};

class THTMLText {
 public:
  explicit THTMLText(TResource* resource = std::pmr::get_default_resource())
      : Text(resource), Raw(resource) {}

  THTMLString Text;  // normalised and decoded
  THTMLString Raw;   // as gathered, line feeds included

  void Parse(std::string_view text);
};

// One node as the tokenizer hands it out: a tag or a text, which the node
// refers to and does not own.
class THTMLNode {
 public:
  explicit THTMLNode(const THTMLTag& tag) : tag_(&tag) {}
  explicit THTMLNode(const THTMLText& text) : text_(&text) {}

  bool IsTag() const { return tag_ != nullptr; }
  // Throw std::logic_error when the node is of the other kind.
  const THTMLTag& Tag() const { return tag_ ? *tag_ : throw std::logic_error("not a tag node"); }
  const THTMLText& Text() const {
    return text_ ? *text_ : throw std::logic_error("not a text node");
  }

 private:
  const THTMLTag* tag_ = nullptr;
  const THTMLText* text_ = nullptr;
};

// Every node of a document, kept: about 150 bytes per node, so a document
// made of one-byte tags needs 150 times its size. For tests and small
// documents; a crawl hands each node on as it comes (THTMLParser::Parse with
// a visitor) and keeps none.
class THTMLNodeList {
 public:
  using const_iterator = std::vector<THTMLNode>::const_iterator;

  THTMLNodeList() = default;
  THTMLNodeList(const THTMLNodeList&) = delete;
  THTMLNodeList& operator=(const THTMLNodeList&) = delete;

  size_t size() const { return nodes_.size(); }
  bool empty() const { return nodes_.empty(); }
  const THTMLNode& operator[](size_t index) const { return nodes_[index]; }
  const THTMLNode& at(size_t index) const { return nodes_.at(index); }
  const_iterator begin() const { return nodes_.begin(); }
  const_iterator end() const { return nodes_.end(); }
  void clear();

  // A new empty node at the end, its strings in the list's arena.
  THTMLTag& AddTag() { return Add<THTMLTag>(); }
  THTMLText& AddText() { return Add<THTMLText>(); }

 private:
  template <class Node>
  Node& Add() {
    void* place = arena_.allocate(sizeof(Node), alignof(Node));
    Node* node = new (place) Node(&arena_);
    nodes_.emplace_back(*node);
    return *node;
  }

  // Everything a node owns is in the arena, so the nodes are dropped with
  // it rather than destroyed one by one.
  TNodeArena arena_;
  std::vector<THTMLNode> nodes_;
};

// The text node's normalisation step, exposed for tests and benchmarks: LF
// to space, runs of spaces to one.
std::string CollapseSpaces(std::string_view text);
