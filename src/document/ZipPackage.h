// A zip container held in memory (the package of an Office Open XML or
// OpenDocument file), read through libzip within a document's limits: at
// most MaxEntries entries, and at most MaxUnpacked bytes inflated from all
// entries together. An entry is inflated in pieces of kZipPiece bytes and
// counted as it inflates, so that an entry lying about its size stops at
// the limit too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "DocumentReader.h"

struct zip;

constexpr std::size_t kZipPiece = 64 * 1024;

// Takes the next inflated piece of an entry; false stops the reading (the
// sink has then said why in the reader's error).
using TZipSink = std::function<bool(std::string_view piece)>;

class TZipPackage {
 public:
  explicit TZipPackage(const TDocumentLimits& limits) : limits_(limits) {}
  ~TZipPackage();
  TZipPackage(const TZipPackage&) = delete;
  TZipPackage& operator=(const TZipPackage&) = delete;

  // False with `error` when the bytes are no zip file or hold more entries
  // than allowed. The bytes must outlive the package.
  bool Open(std::string_view bytes, std::string& error);

  // The names of all entries, in the container's order.
  std::vector<std::string> EntryNames() const;
  bool Has(const std::string& name) const;

  // The entry's bytes, piece by piece, to `sink`. False with `error` when
  // the entry is missing, damaged or encrypted, when the inflated bytes of
  // the package pass MaxUnpacked, or when the sink stops.
  bool Read(const std::string& name, const TZipSink& sink, std::string& error);

 private:
  bool CountUnpacked(std::uint64_t bytes, std::string& error);

  zip* zip_ = nullptr;
  TDocumentLimits limits_;
  std::uint64_t unpacked_ = 0;  // inflated from all entries so far
};
