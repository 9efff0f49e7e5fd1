// Reads the records of one web archive file in order: WARC/1.0 and
// WARC/1.1, written by any tool, uncompressed, one gzip member per record,
// or the whole file one gzip stream (told apart by the first bytes). Header
// lines may end in CR LF or in LF alone.
//
// Damage does not stop the reader: a record cut short, a gzip member that
// fails to inflate, a Content-Length that does not end the record, or bytes
// that are no record are reported through onDamage with the file offset
// where they were found (the gzip member's in a compressed file) and
// skipped, and reading goes on at the next gzip member or "WARC/1." line.
// A damaged record is never handed out.
//
// Memory is bounded by a small multiple of maxBlockBytes (a block within
// the limit is held in the read window while it is checked, and copied into
// the record) plus a few MiB, whatever the size of the archive or of its
// records: the part of a larger block beyond the limit is skipped unread.
//
//   TWarcReader reader(path, 64 << 20, [](std::uint64_t offset, const std::string& problem) {...});
//   TWarcRecord record;
//   while (reader.Next(record)) ...
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "WarcInput.h"
#include "WarcRecord.h"

class TWarcReader {
 public:
  // Throws EWarcError when the file cannot be opened or is no regular file.
  // onDamage may be empty; it runs inside Next.
  TWarcReader(const std::string& path, std::int64_t maxBlockBytes, TWarcDamageHandler onDamage);
  ~TWarcReader();

  // The next whole record; false at the end of the file, and `record` is
  // then left in no particular state. Throws EWarcError when reading the
  // file fails.
  bool Next(TWarcRecord& record);
  // The record found earlier at `offset` (TWarcRecord::Offset), `skip`
  // decompressed bytes after the start of the gzip member there (0 for
  // the first record of a member and in an uncompressed file); false when
  // no whole record is there any more. Reading on from one record to a
  // later one of the same member does not inflate the member again from
  // its start; in a file that is one gzip stream, any other step back does.
  bool ReadAt(std::uint64_t offset, std::uint64_t skip, TWarcRecord& record);

 private:
  bool SkipBlankLines();
  bool StartsRecord();
  bool SkipToNextRecordStart();
  bool SkipToCandidate();
  std::size_t FindCandidate(std::string_view window) const;
  bool ReadRecord(TWarcRecord& record);
  std::size_t FindHeaderEnd(std::uint64_t start);
  bool ReadWholeBlock(TWarcRecord& record, std::size_t headerEnd, std::size_t length);
  bool ReadLongBlock(TWarcRecord& record, std::size_t headerEnd, std::uint64_t length);
  std::size_t TrailerEnd(std::size_t at);
  bool RecordDamaged(std::uint64_t start, std::size_t recordEnd);
  void Damage(std::uint64_t start, std::uint64_t end, const std::string& problem);
  void DropRecord(std::uint64_t start, std::uint64_t end, const std::string& problem);

  TWarcInput input_;
  // Where ReadAt last restarted the input, and whether it did at all.
  std::uint64_t restartOffset_ = 0;
  bool restarted_ = false;
  std::size_t maxBlockBytes_;
  TWarcDamageHandler onDamage_;
};

// The fields of an "application/warc-fields" block ("name: value" lines, as
// in a warcinfo record or a failure's metadata record).
TWarcFields ParseWarcFields(std::string_view block);
