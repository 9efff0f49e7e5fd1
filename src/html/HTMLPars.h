// HTMLPars: turns the lines of one page into a flat list of tag and text nodes.
//
// No tree, no knowledge of element names: a less-than sign opens a tag, a
// greater-than sign closes one, everything else is text. Text nodes are
// normalised (line feeds to spaces, runs of spaces collapsed) and their
// character references decoded. All strings are Windows-1252 bytes.
#pragma once

#include <array>
#include <initializer_list>
#include <stdexcept>
#include <memory>
#include <iterator>
#include <new>
#include <memory_resource>
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
  void Add(std::string_view text) {
    text_.append(text);
    ends_.push_back(text_.size());
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
  std::string text_;
  std::vector<size_t> ends_;  // end offset of each entry in text_
};

// Node strings and lists live in the node list's arena, so tokenizing a page
// costs a few large allocations instead of several small ones per node.
using THTMLString = std::pmr::string;
using TResource = std::pmr::memory_resource;

class THTMLParam {
 public:
  explicit THTMLParam(TResource* resource = std::pmr::get_default_resource())
      : Raw(resource), Key(resource), Value(resource) {}

  THTMLString Raw;    // the parameter text as split from the tag
  THTMLString Key;    // before the first '=', upper-cased
  THTMLString Value;  // after the first '=', one pair of enclosing double quotes removed

  void Parse(std::string_view text);
};

class THTMLTag {
 public:
  explicit THTMLTag(TResource* resource = std::pmr::get_default_resource())
      : Name(resource), Raw(resource), Params(resource) {}

  THTMLString Name;  // the text before the first space, upper-cased
  THTMLString Raw;   // everything between '<' and '>'
  std::pmr::vector<THTMLParam> Params;

  void Parse(std::string_view text);
};

class THTMLText {
 public:
  explicit THTMLText(TResource* resource = std::pmr::get_default_resource()) : Text(resource), Raw(resource) {}

  THTMLString Text;  // normalised and decoded
  THTMLString Raw;   // as gathered, line feeds included

  void Parse(std::string_view text);
};

// One entry of the node list: either a tag or a text.
class THTMLNode {
 public:
  explicit THTMLNode(THTMLTag tag) : isTag_(true), node_(std::move(tag)) {}
  explicit THTMLNode(THTMLText text) : isTag_(false), node_(std::move(text)) {}

  bool IsTag() const { return isTag_; }
  const THTMLTag& Tag() const { return std::get<THTMLTag>(node_); }
  const THTMLText& Text() const { return std::get<THTMLText>(node_); }

 private:
  // The kind, kept in front: walking the nodes reads it together with the
  // start of the node's data instead of from the end of a large node.
  bool isTag_;
  std::variant<THTMLTag, THTMLText> node_;
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

// The tokenizer's output: nodes in document order. The nodes and their
// strings live in one arena; clearing the list drops them all at once.
class THTMLNodeList {
 public:
  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = THTMLNode;
    using difference_type = std::ptrdiff_t;
    using pointer = const THTMLNode*;
    using reference = const THTMLNode&;

    explicit const_iterator(std::vector<THTMLNode*>::const_iterator at) : at_(at) {}
    const THTMLNode& operator*() const { return **at_; }
    const THTMLNode* operator->() const { return *at_; }
    const_iterator& operator++() {
      ++at_;
      return *this;
    }
    bool operator==(const const_iterator& other) const { return at_ == other.at_; }

   private:
    std::vector<THTMLNode*>::const_iterator at_;
  };

  THTMLNodeList() = default;
  THTMLNodeList(const THTMLNodeList&) = delete;
  THTMLNodeList& operator=(const THTMLNodeList&) = delete;

  size_t size() const { return nodes_.size(); }
  bool empty() const { return nodes_.empty(); }
  const THTMLNode& operator[](size_t index) const { return *nodes_[index]; }
  const THTMLNode& at(size_t index) const { return *nodes_.at(index); }
  const_iterator begin() const { return const_iterator(nodes_.begin()); }
  const_iterator end() const { return const_iterator(nodes_.end()); }
  void clear();

  // Where new nodes keep their strings.
  TResource* Resource() { return &arena_; }
  template <class Node>
  void Append(Node&& node) {
    void* place = arena_.allocate(sizeof(THTMLNode), alignof(THTMLNode));
    nodes_.push_back(new (place) THTMLNode(std::forward<Node>(node)));
  }

 private:
  // Everything a node owns is in the arena, so the nodes are dropped with
  // it rather than destroyed one by one.
  TNodeArena arena_;
  std::vector<THTMLNode*> nodes_;
};

class THTMLParser {
 public:
  std::string PendingText;  // text outside tags, not yet emitted
  std::string PendingTag;   // text after '<', not yet emitted
  bool InTag = false;
  THTMLNodeList Nodes;            // the output, in document order
  TStringList Lines;              // the input; filled and cleared by the caller

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
