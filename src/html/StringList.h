// TStringList: an ordered list of byte strings, all kept in one buffer, so
// that adding a line costs no allocation of its own. The tokenizer's input
// lines are kept in one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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
  TStringList& operator=(std::initializer_list<std::string_view> items) {
    clear();
    for (std::string_view item : items) Add(item);
    return *this;
  }

  // Makes room for about this many bytes of entries.
  void Reserve(size_t bytes) { text_.reserve(bytes); }
  // Makes room for this many entries.
  void ReserveEntries(size_t count) { ends_.reserve(count); }
  // Throws std::length_error past 4 GiB of text.
  void Add(std::string_view text) {
    if (text.size() > kMaxBytes - text_.size())
      throw std::length_error("TStringList holds at most 4 GiB");
    text_.append(text);
    ends_.push_back(static_cast<uint32_t>(text_.size()));
  }
  size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  std::string_view operator[](size_t index) const {
    size_t start = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(text_).substr(start, ends_[index] - start);
  }
  std::string_view at(size_t index) const {
    return index < size() ? (*this)[index] : throw std::out_of_range("TStringList index");
  }
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
