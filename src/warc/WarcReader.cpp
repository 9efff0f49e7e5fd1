#include "WarcReader.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "AsciiCase.h"
#include "HeaderLines.h"

namespace {

constexpr std::string_view kRecordStart = "WARC/1.";
// The most a version line can take: "WARC/1.", 3 digits, blanks, CR LF.
constexpr std::size_t kMaxVersionLine = 32;
constexpr std::size_t kMaxHeaderBytes = std::size_t{1} << 20;
// CR and LF bytes allowed after a block where "\r\n\r\n" belongs.
constexpr std::size_t kMaxTrailerBytes = 64;
// Larger Content-Length values are no lengths of anything stored.
constexpr std::uint64_t kMaxContentLength = std::uint64_t{1} << 52;

struct TNamedField {
  std::string_view name;
  std::string TWarcRecord::*member;
};
constexpr TNamedField kNamedFields[] = {
    {"WARC-Type", &TWarcRecord::Type},
    {"WARC-Target-URI", &TWarcRecord::TargetUri},
    {"WARC-Date", &TWarcRecord::Date},
    {"WARC-Record-ID", &TWarcRecord::RecordId},
    {"WARC-Concurrent-To", &TWarcRecord::ConcurrentTo},
    {"WARC-IP-Address", &TWarcRecord::IpAddress},
    {"Content-Type", &TWarcRecord::ContentType},
};

std::int64_t ContentLength(std::string_view value) {
  std::uint64_t length = 0;
  auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
  bool whole = error == std::errc() && end == value.data() + value.size();
  return whole && length <= kMaxContentLength ? static_cast<std::int64_t>(length) : -1;
}

// The named fields from the record's fields, the first of each name.
std::int64_t TakeNamedFields(TWarcRecord& record) {
  for (const TNamedField& named : kNamedFields) (record.*named.member).clear();
  std::int64_t length = -1;
  bool lengthSeen = false;
  for (const auto& [name, value] : record.Fields) {
    if (!lengthSeen && EqualIgnoringAsciiCase(name, "Content-Length")) {
      lengthSeen = true;
      length = ContentLength(value);
      continue;
    }
    for (const TNamedField& named : kNamedFields) {
      std::string& member = record.*named.member;
      if (member.empty() && EqualIgnoringAsciiCase(name, named.name)) member = value;
    }
  }
  // wget's WARC/1.0 records write the address as "<http://...>".
  std::string& uri = record.TargetUri;
  if (uri.size() >= 2 && uri.front() == '<' && uri.back() == '>')
    uri = uri.substr(1, uri.size() - 2);
  return length;
}

// Reuses the strings of the fields a record before left, so that reading
// records does not allocate for every field.
void SetField(TWarcFields& fields, std::size_t index, std::string_view name,
              std::string_view value) {
  if (index == fields.size()) {
    fields.emplace_back(name, value);
    return;
  }
  fields[index].first.assign(name);
  fields[index].second.assign(value);
}

// Fills the record's Version, Fields and named fields from its header (the
// version line, the field lines and the blank line). Returns the
// Content-Length, or -1 when it is missing or no number.
std::int64_t ParseWarcHeader(std::string_view header, TWarcRecord& record) {
  std::string_view line;
  TakeLine(header, line);
  record.Version.assign(TrimBlanks(line));
  std::size_t count = 0;
  while (TakeLine(header, line) && !line.empty()) {
    if (IsContinuationLine(line) && count > 0) {
      std::string& value = record.Fields[count - 1].second;
      value += ' ';
      value += TrimBlanks(line);
      continue;
    }
    std::string_view name, value;
    if (SplitField(line, name, value)) SetField(record.Fields, count++, name, value);
  }
  record.Fields.erase(record.Fields.begin() + static_cast<std::ptrdiff_t>(count),
                      record.Fields.end());
  return TakeNamedFields(record);
}

}  // namespace

TWarcFields ParseWarcFields(std::string_view block) {
  TWarcFields fields;
  while (!block.empty()) {
    std::string_view line;
    if (!TakeLine(block, line)) line = std::exchange(block, {});  // the last line may lack its end
    std::string_view name, value;
    if (SplitField(line, name, value)) SetField(fields, fields.size(), name, value);
  }
  return fields;
}

TWarcReader::TWarcReader(const std::string& path, std::int64_t maxBlockBytes,
                         TWarcDamageHandler onDamage)
    : input_(path, onDamage),
      maxBlockBytes_(static_cast<std::size_t>(std::max<std::int64_t>(maxBlockBytes, 0))),
      onDamage_(std::move(onDamage)) {}

TWarcReader::~TWarcReader() = default;

bool TWarcReader::Next(TWarcRecord& record) {
  // Each turn hands out a record or consumes bytes: the file's end ends it.
  for (;;) {
    if (!SkipBlankLines()) return false;
    input_.ForgetBefore(input_.Position());
    if (!StartsRecord()) {
      std::uint64_t at = input_.Position();
      Damage(at, at + 1, "no WARC record starts here");
      if (!SkipToNextRecordStart()) return false;
      continue;
    }
    if (ReadRecord(record)) return true;
  }
}

bool TWarcReader::ReadAt(std::uint64_t offset, std::uint64_t skip, TWarcRecord& record) {
  // Positions after a restart count from the member, or are file offsets.
  auto read = [&] { return input_.Position() - (input_.Compressed() ? 0 : restartOffset_); };
  const bool onward =
      restarted_ && input_.Compressed() && offset == restartOffset_ && read() <= skip;
  if (!onward) {
    restartOffset_ = offset;
    restarted_ = true;
    input_.RestartAt(offset);
  }
  while (read() < skip) {
    if (input_.Window().empty() && !input_.ReadMore()) return false;
    const std::uint64_t left = skip - read();
    input_.Consume(static_cast<std::size_t>(std::min<std::uint64_t>(left, input_.Window().size())));
  }
  return Next(record);
}

// Skips the CR and LF bytes between records; false at the end of the file.
bool TWarcReader::SkipBlankLines() {
  for (;;) {
    if (!input_.Ensure(1)) return false;
    std::string_view window = input_.Window();
    std::size_t text = window.find_first_not_of("\r\n");
    if (text != std::string_view::npos) {
      input_.Consume(text);
      return true;
    }
    input_.Consume(window.size());
  }
}

// Whether the window starts with a version line: "WARC/1.", one to three
// digits, maybe blanks, and the line's end.
bool TWarcReader::StartsRecord() {
  input_.Ensure(kMaxVersionLine);
  std::string_view line = input_.Window().substr(0, kMaxVersionLine);
  if (!line.starts_with(kRecordStart)) return false;
  line.remove_prefix(kRecordStart.size());
  std::size_t digits = line.find_first_not_of("0123456789");
  if (digits == 0 || digits > 3 || digits == std::string_view::npos) return false;
  std::size_t end = line.find_first_not_of(" \t", digits);
  return end != std::string_view::npos &&
         (line.substr(end).starts_with("\r\n") || line[end] == '\n');
}

// Consumes the byte at the position, then everything up to the next version
// line that begins a line or a gzip member; false at the end of the file.
bool TWarcReader::SkipToNextRecordStart() {
  // Each turn consumes a byte or ends.
  for (;;) {
    if (input_.Ensure(1)) input_.Consume(1);
    if (!SkipToCandidate()) return false;
    if (StartsRecord()) return true;
  }
}

// Consumes up to the next "WARC/1." that begins a line or a gzip member;
// false at the end of the file.
bool TWarcReader::SkipToCandidate() {
  for (;;) {
    std::string_view window = input_.Window();
    std::size_t at = FindCandidate(window);
    if (at != std::string_view::npos) {
      input_.Consume(at);
      return true;
    }
    // The last bytes may begin "WARC/1." that the next read completes.
    std::size_t keep = std::min(window.size(), kRecordStart.size() - 1);
    input_.Consume(window.size() - keep);
    if (!input_.ReadMore()) {
      input_.Consume(keep);
      return false;
    }
  }
}

std::size_t TWarcReader::FindCandidate(std::string_view window) const {
  for (std::size_t at = window.find(kRecordStart); at != std::string_view::npos;
       at = window.find(kRecordStart, at + 1)) {
    char before = at == 0 ? input_.PreviousByte() : window[at - 1];
    if (before == '\n' || input_.IsMemberStart(input_.Position() + at)) return at;
  }
  return std::string_view::npos;
}

bool TWarcReader::ReadRecord(TWarcRecord& record) {
  std::uint64_t start = input_.Position();
  std::size_t headerEnd = FindHeaderEnd(start);
  if (headerEnd == std::string_view::npos) return false;
  std::int64_t length = ParseWarcHeader(input_.Window().substr(0, headerEnd), record);
  if (length < 0) {
    DropRecord(start, start + headerEnd, "record header without a valid Content-Length");
    return false;
  }
  record.Offset = input_.FileOffset(start);
  record.DecodedOffset = start;
  auto blockBytes = static_cast<std::uint64_t>(length);
  if (blockBytes <= maxBlockBytes_) {
    return ReadWholeBlock(record, headerEnd, static_cast<std::size_t>(blockBytes));
  }
  return ReadLongBlock(record, headerEnd, blockBytes);
}

// The offset just past the header's blank line; npos when there is none
// within kMaxHeaderBytes (the record is then reported and skipped).
std::size_t TWarcReader::FindHeaderEnd(std::uint64_t start) {
  std::size_t searched = 0;
  for (;;) {
    std::string_view window = input_.Window();
    std::size_t end = HeaderEnd(window.substr(0, kMaxHeaderBytes), searched);
    if (end != std::string_view::npos) return end;
    if (window.size() >= kMaxHeaderBytes) {
      DropRecord(start, start + window.size(), "record header longer than 1 MiB");
      return std::string_view::npos;
    }
    searched = window.size();
    if (!input_.ReadMore()) {
      DropRecord(start, start + window.size(), "record cut short by the end of the file");
      return std::string_view::npos;
    }
  }
}

// A block within the limit is checked before it is consumed: when its
// Content-Length is wrong, the records it seemed to cover are still in the
// window to be found.
bool TWarcReader::ReadWholeBlock(TWarcRecord& record, std::size_t headerEnd, std::size_t length) {
  std::uint64_t start = input_.Position();
  std::size_t blockEnd = headerEnd + length;
  if (!input_.Ensure(blockEnd)) {
    DropRecord(start, start + input_.Window().size(), "record cut short by the end of the file");
    return false;
  }
  std::size_t recordEnd = TrailerEnd(blockEnd);
  if (recordEnd == std::string_view::npos) {
    DropRecord(start, start + blockEnd,
               "Content-Length " + std::to_string(length) + " does not end the record");
    return false;
  }
  if (RecordDamaged(start, recordEnd)) {
    SkipToNextRecordStart();  // the input reported the damage
    return false;
  }
  record.Block.assign(input_.Window().substr(headerEnd, length));
  record.BlockTruncated = false;
  input_.Consume(blockEnd);
  return true;
}

// A block over the limit streams through: its first maxBlockBytes_ are
// kept, the rest is consumed as it comes.
bool TWarcReader::ReadLongBlock(TWarcRecord& record, std::size_t headerEnd, std::uint64_t length) {
  std::uint64_t start = input_.Position();
  input_.Consume(headerEnd);
  record.Block.clear();
  record.BlockTruncated = true;
  for (std::uint64_t left = length; left > 0;) {
    if (input_.Window().empty() && !input_.ReadMore()) {
      Damage(start, input_.Position(), "record cut short by the end of the file");
      return false;
    }
    std::string_view window = input_.Window();
    auto take = static_cast<std::size_t>(std::min<std::uint64_t>(window.size(), left));
    std::size_t keep = std::min(take, maxBlockBytes_ - record.Block.size());
    record.Block.append(window.data(), keep);
    input_.Consume(take);
    left -= take;
  }
  std::size_t recordEnd = TrailerEnd(0);
  if (recordEnd == std::string_view::npos) {
    DropRecord(start, input_.Position(),
               "Content-Length " + std::to_string(length) + " does not end the record");
    return false;
  }
  if (RecordDamaged(start, recordEnd)) {
    SkipToNextRecordStart();  // the input reported the damage
    return false;
  }
  return true;
}

// Whether a byte from the record's start to `recordEnd` (an offset in the
// window) came from a damaged gzip member. A member's checksum is checked at
// its end, after its last byte: reading one byte past the record takes in
// the end of the member that holds the record's last bytes.
bool TWarcReader::RecordDamaged(std::uint64_t start, std::size_t recordEnd) {
  input_.Ensure(recordEnd + 1);
  return input_.IsDamaged(start, input_.Position() + recordEnd);
}

// The offset just past the CR LF CR LF after a block at `at`; npos when
// what follows shows that the block's length is wrong. Some tools end a
// record with fewer or more line ends: any short run of them will do when
// the next record or the end of the file follows.
std::size_t TWarcReader::TrailerEnd(std::size_t at) {
  input_.Ensure(at + 4);
  if (input_.Window().substr(at, 4) == "\r\n\r\n") return at + 4;
  std::size_t end = at;
  for (; end < at + kMaxTrailerBytes; ++end) {
    if (!input_.Ensure(end + 1)) return end;
    char c = input_.Window()[end];
    if (c != '\r' && c != '\n') break;
  }
  input_.Ensure(end + kRecordStart.size());
  return input_.Window().substr(end).starts_with(kRecordStart) ? end : std::string_view::npos;
}

// Reports the problem of the bytes [start, end), unless they came from a
// damaged gzip member that the input reported already.
void TWarcReader::Damage(std::uint64_t start, std::uint64_t end, const std::string& problem) {
  if (!onDamage_ || input_.IsDamaged(start, end)) return;
  if (!input_.Compressed()) {
    onDamage_(start, problem);
    return;
  }
  onDamage_(input_.FileOffset(start),
            problem + " (at " + std::to_string(start) + " in the decompressed bytes)");
}

// Reports the record at `start` and skips from the current position (the
// record's start, or the end of a long block) to where the next one begins.
void TWarcReader::DropRecord(std::uint64_t start, std::uint64_t end, const std::string& problem) {
  Damage(start, end, problem);
  SkipToNextRecordStart();
}
