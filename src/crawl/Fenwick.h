// TFenwick: counts over positions 0..n-1 (a binary indexed tree): add to a
// position, count before a position and find the k-th unit, each in
// O(log n); positions can be appended and the last one dropped.
#pragma once

#include <bit>
#include <cstddef>
#include <vector>

class TFenwick {
 public:
  // `size` positions, each holding `each`; linear time.
  explicit TFenwick(size_t size, long each = 0) : tree_(size + 1, each) {
    tree_[0] = 0;
    for (size_t i = 1; i < tree_.size(); ++i) {
      size_t parent = i + (i & (~i + 1));
      if (parent < tree_.size()) tree_[parent] += tree_[i];
    }
  }

  size_t Size() const { return tree_.size() - 1; }
  void Add(size_t position, long amount) {
    for (size_t i = position + 1; i < tree_.size(); i += i & (~i + 1)) tree_[i] += amount;
  }
  // A new last position holding `amount`.
  void Append(long amount) {
    size_t i = tree_.size();
    size_t low = i & (~i + 1);
    tree_.push_back(amount + static_cast<long>(CountBefore(i - 1)) -
                    static_cast<long>(CountBefore(i - low)));
  }
  // Drops the last position; no other node of the tree covers it.
  void PopBack() { tree_.pop_back(); }
  // The sum over the positions before `position`.
  size_t CountBefore(size_t position) const {
    long sum = 0;
    for (size_t i = position; i > 0; i -= i & (~i + 1)) sum += tree_[i];
    return static_cast<size_t>(sum);
  }
  // The position of the k-th (from 0) unit when every position holds 0 or 1.
  size_t FindKth(size_t k) const {
    size_t position = 0;
    long remaining = static_cast<long>(k);
    for (size_t step = std::bit_floor(tree_.size() - 1); step > 0; step >>= 1) {
      size_t next = position + step;
      if (next < tree_.size() && tree_[next] <= remaining) {
        position = next;
        remaining -= tree_[next];
      }
    }
    // `position` is the longest prefix holding at most k units; the k-th
    // unit sits right after it, at this zero-based position.
    return position;
  }

 private:
  std::vector<long> tree_;
};
