// HTMLPars: turns the lines of one page into a flat sequence of tag and text
// nodes, handed to a visitor as they come or kept in a list.
//
// No tree, no knowledge of element names: a less-than sign opens a tag, a
// greater-than sign closes one, everything else is text. Text nodes are
// normalised (line feeds to spaces, runs of spaces collapsed) and their
// character references decoded. All strings are Windows-1252 bytes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <memory>
#include <iterator>
#include <new>
#include <memory_resource>
#include <string>
#include <string_view>
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

// An ordered list of byte strings, all kept in one buffer: adding a line
// costs no allocation of its own.
class TStringList {
 public:
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::string_view;

    const_iterator(const TStringList* list, size_t index) : list_(list), index_(index) {}
    std::string_view operator*() const { return (*list_)[index_]; }
    const_iterator& operator++() {
      ++index_;
      return *this;
    }
    bool operator==(const const_iterator& other) const { return index_ == other.index_; }

   private:
    const TStringList* list_;
    size_t index_;
  };

  TStringList() = default;
  TStringList(std::initializer_list<std::string_view> items) { *this = items; }
  TStringList& operator=(std::initializer_list<std::string_view> items);

  // Makes room for about this many bytes of entries.
  void Reserve(size_t bytes) { text_.reserve(bytes); }
  // Makes room for this many entries.
  void ReserveEntries(size_t count) { ends_.reserve(count); }
  // Throws std::length_error past 4 GiB of text.
  void Add(std::string_view text) {
    if (text.size() > kMaxBytes - text_.size()) throw std::length_error("TStringList holds at most 4 GiB");
    text_.append(text);
    ends_.push_back(static_cast<uint32_t>(text_.size()));
  }
  size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  std::string_view operator[](size_t index) const {
    size_t start = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(text_).substr(start, ends_[index] - start);
  }
  std::string_view at(size_t index) const { return index < size() ? (*this)[index] : throw std::out_of_range("TStringList index"); }
  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, size()); }
  void clear() {
    text_.clear();
    ends_.clear();
  }

 private:
  // Four bytes per entry: a document of empty lines costs four times its size.
  static constexpr size_t kMaxBytes = UINT32_MAX;
  std::string text_;
  std::vector<uint32_t> ends_;  // end offset of each entry in text_
};

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
    const_iterator(std::string_view raw, std::string_view upper, size_t at) : raw_(raw), upper_(upper), at_(at) {
      Advance();
    }
    void Advance();

    std::string_view raw_;
    std::string_view upper_;
    size_t at_ = std::string_view::npos;  // the end of the current parameter; npos past the last one
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
  explicit THTMLTag(TResource* resource = std::pmr::get_default_resource()) : Raw(resource), upper_(resource) {}
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
  explicit THTMLText(TResource* resource = std::pmr::get_default_resource()) : Text(resource), Raw(resource) {}

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
  const THTMLText& Text() const { return text_ ? *text_ : throw std::logic_error("not a text node"); }

 private:
  const THTMLTag* tag_ = nullptr;
  const THTMLText* text_ = nullptr;
};

// A bump allocator that keeps its chunks when it is rewound, so parsing page
// after page reuses the same memory instead of mapping it afresh each time.
class TNodeArena : public std::pmr::memory_resource {
 public:
  TNodeArena() = default;
  TNodeArena(const TNodeArena&) = delete;
  TNodeArena& operator=(const TNodeArena&) = delete;

  // Forgets every allocation; keeps chunks up to a modest total for reuse.
  void Rewind();

 private:
  void* do_allocate(size_t bytes, size_t alignment) override;
  void do_deallocate(void*, size_t, size_t) override {}
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

  struct Chunk {
    std::unique_ptr<char[]> data;
    size_t size;
  };
  std::vector<Chunk> chunks_;
  size_t current_ = 0;  // chunk being filled
  size_t used_ = 0;     // bytes used in it
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

// Receives each node as soon as it is complete; the node and its strings are
// valid only during the call.
using THTMLVisitor = std::function<void(const THTMLNode&)>;

class THTMLParser {
 public:
  std::string PendingText;  // text outside tags, not yet emitted
  std::string PendingTag;   // text after '<', not yet emitted
  bool InTag = false;
  THTMLNodeList Nodes;            // the output of Parse(), in document order
  TStringList Lines;              // the input; filled and cleared by the caller

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

// The text node's normalisation steps, exposed for tests and benchmarks.
std::string CollapseSpaces(std::string_view text);      // LF to space, runs of spaces to one
std::string DecodeReferences(std::string_view text);    // one left-to-right reference scan
