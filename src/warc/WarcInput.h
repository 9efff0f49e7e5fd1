// The decompressed bytes of an archive file, for the record reader, in one
// window that grows as the reader asks: an uncompressed file as it is, or
// gzip members inflated one after another (one per record, or one for the
// whole file), told apart by the file's first two bytes.
//
// Damage to the compression (a member that fails to inflate or ends with the
// file, bytes between members that are no member) is reported here, once per
// damaged stretch, with the file offset of the member or of the stray bytes;
// reading goes on with the next gzip member found after them. The
// decompressed bytes of a damaged member stay in the window, marked as
// damaged, so that the reader can drop the records they belong to without
// reporting them again.
//
// Positions are offsets in the decompressed bytes of the whole file. Memory:
// what the caller has not consumed, plus two reads' worth (a few MiB).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "ZlibStreams.h"

// Called with the file offset where damage was found and what it is.
using TWarcDamageHandler = std::function<void(std::uint64_t offset, const std::string& problem)>;

class TWarcInput {
 public:
  // Throws EWarcError when the file cannot be opened or is no regular file
  // (a pipe or a device could block the reader for ever).
  TWarcInput(const std::string& path, TWarcDamageHandler onDamage);
  ~TWarcInput();
  TWarcInput(const TWarcInput&) = delete;
  TWarcInput& operator=(const TWarcInput&) = delete;

  // The bytes not consumed yet; they start at Position(). A view is valid
  // until the next call that reads.
  std::string_view Window() const { return {window_.get() + begin_, end_ - begin_}; }
  std::uint64_t Position() const { return position_; }
  void Consume(std::size_t count);
  // The last byte consumed; '\n' before the first.
  char PreviousByte() const { return previous_; }

  // Reads until the window holds `count` bytes; false when the file ends
  // first. Throws EWarcError when reading fails.
  bool Ensure(std::size_t count);
  // Adds at least one byte to the window; false at the end of the file.
  bool ReadMore();

  bool Compressed() const { return mode_ == kGzip; }
  // The file offset of the member whose data holds `position` (the position
  // itself in an uncompressed file).
  std::uint64_t FileOffset(std::uint64_t position) const;
  // Whether a gzip member's data begins at `position`.
  bool IsMemberStart(std::uint64_t position) const;
  // Whether a byte in [from, to) came from a damaged member.
  bool IsDamaged(std::uint64_t from, std::uint64_t to) const;
  // The caller asks no more about positions before this one.
  void ForgetBefore(std::uint64_t position);

  // Goes on from another place of the file: `fileOffset` must be where a
  // gzip member begins (any byte of an uncompressed file). Position() is
  // then the offset in an uncompressed file, else 0 (positions count from
  // the member); earlier damage is forgotten. Throws EWarcError when the
  // file cannot be read.
  void RestartAt(std::uint64_t fileOffset);

 private:
  enum TMode { kUnknown, kPlain, kGzip };
  struct TMember {
    std::uint64_t fileOffset, decodedStart;
  };
  struct TStretch {
    std::uint64_t from, to;
  };

  std::uint64_t EndPosition() const { return position_ + (end_ - begin_); }
  void MakeRoom();
  std::size_t ReadFile(char* into, std::size_t size);
  void DetectMode();
  bool ReadPlain();
  bool ReadGzip();
  bool ReadCompressed();
  bool StartMember();
  void SkipToNextMember();
  void InflateInput();
  void MemberDamaged(const std::string& problem);
  void Report(std::uint64_t offset, const std::string& problem);

  int fd_ = -1;
  std::size_t readBytes_ = 0;
  TWarcDamageHandler onDamage_;
  TMode mode_ = kUnknown;
  bool atEnd_ = false;  // nothing more will come into the window

  // Neither array is cleared when it is made: every byte is written before
  // it is read, and a small file touches only the pages it needs.
  std::unique_ptr<char[]> window_;
  std::size_t windowSize_ = 0, begin_ = 0, end_ = 0;
  std::uint64_t position_ = 0;  // of window_[begin_]
  char previous_ = '\n';

  // Compressed bytes: in_[inBegin_, inEnd_) are still to inflate; in_[0]
  // is at inFileOffset_. The bytes of an open member are kept from its start
  // while they are few, to look for the next member among them if it fails.
  std::unique_ptr<char[]> in_;
  std::size_t inSize_ = 0, inBegin_ = 0, inEnd_ = 0;
  std::uint64_t inFileOffset_ = 0;
  bool fileEnded_ = false;

  std::unique_ptr<TInflater> inflater_;
  bool memberOpen_ = false;
  // After damage, until a member inflates whole: further failures belong to
  // the same damage and are not reported again.
  bool resyncing_ = false;
  std::deque<TMember> members_;
  std::deque<TStretch> damaged_;
};
