// The four lists of a crawl run. They keep the order and answers of plain
// string lists, but the membership tests go through hash indexes and each
// distinct address is stored once, so huge sites stay fast and small.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "IndexTable.h"

// Distinct strings, each stored once in an arena, numbered in order of arrival.
class TStringPool {
 public:
  uint32_t Intern(std::string_view text);
  std::optional<uint32_t> Find(std::string_view text) const;
  std::string_view At(uint32_t id) const { return views_.at(id); }
  size_t Count() const { return views_.size(); }

 private:
  std::string_view Store(std::string_view text);

  std::vector<std::unique_ptr<char[]>> chunks_;
  char* current_ = nullptr;  // the chunk that short texts are packed into
  size_t chunkUsed_ = 0;
  std::vector<std::string_view> views_;
  TIndexTable index_;
};

// Full addresses of pages to fetch, in the order found, duplicates kept.
class TPageQueue {
 public:
  void Append(std::string_view address) { entries_.push_back(pool_.Intern(address)); }
  size_t Count() const { return entries_.size(); }
  std::string_view At(size_t position) const { return pool_.At(entries_.at(position)); }
  uint32_t IdAt(size_t position) const { return entries_.at(position); }
  const TStringPool& Pool() const { return pool_; }

 private:
  TStringPool pool_;
  std::vector<uint32_t> entries_;
};

// Addresses whose fetch completed, in order; tested by exact comparison.
class TFetchedPages {
 public:
  void Add(std::string_view address);
  // Another address of a page already added (where a relocation ended): it
  // is not fetched again, and not counted again.
  void AddAlias(std::string_view address) { pool_.Intern(address); }
  bool Contains(std::string_view address) const { return pool_.Find(address).has_value(); }
  size_t Count() const { return count_; }

 private:
  TStringPool pool_;
  size_t count_ = 0;
};

// Directory parts whose links are not followed; tested by exact comparison.
class TDeclinedSites {
 public:
  void Add(std::string_view dir) {
    pool_.Intern(dir);
    ++count_;
  }
  bool Contains(std::string_view dir) const { return pool_.Find(dir).has_value(); }
  size_t Count() const { return count_; }

 private:
  TStringPool pool_;
  size_t count_ = 0;
};

// Addresses whose fetch failed in this run, and whether they are tried
// again: after a final failure (the server's own error status, an answer
// that cannot be used) never; after a failure of the connection at most
// kMaxTries times in all. A site that links one missing page from every
// page must not be asked for it on every page.
class TFailedPages {
 public:
  static constexpr std::uint8_t kMaxTries = 3;

  void Add(std::string_view address, bool final);
  // No further request for the address in this run.
  bool GivenUp(std::string_view address) const;

 private:
  TStringPool pool_;
  std::vector<std::uint8_t> tries_;  // by id; kMaxTries once final
};

struct TCrawlLists {
  TPageQueue PageQueue;
  TFetchedPages FetchedPages;
  TFailedPages FailedPages;
  // Entry 0: the base (directory of the page in work); entries 1 and later:
  // the site directories whose links are followed.
  std::vector<std::string> SiteBases;
  TDeclinedSites DeclinedSites;
};
