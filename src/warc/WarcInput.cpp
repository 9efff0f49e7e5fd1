#include "WarcInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "WarcError.h"

namespace {

// Reads are this large, and so is the window's free room before each read
// or inflate, and the compressed bytes of an open member kept to search
// again after damage: decompression runs at its best on big pieces. A
// smaller file gets pieces of its size, down to kMinReadBytes.
constexpr std::size_t kMaxReadBytes = std::size_t{1} << 20;
constexpr std::size_t kMinReadBytes = std::size_t{1} << 16;
// Of a long damaged member, only the last decompressed bytes before the
// damage are marked: a long stream inflates wrongly rarely for long before
// zlib notices, and marking all of it would drop every record waiting in
// the window.
constexpr std::uint64_t kSuspectBytes = std::uint64_t{1} << 20;
constexpr char kGzipMagic[] = "\x1f\x8b\x08";  // ID1, ID2, CM = deflate

std::string SystemText(int error) { return std::strerror(error); }

}  // namespace

TWarcInput::TWarcInput(const std::string& path, TWarcDamageHandler onDamage)
    : onDamage_(std::move(onDamage)) {
  // O_NONBLOCK keeps the open itself from waiting on a pipe; a regular file
  // ignores it.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) throw EWarcError("cannot open " + path + ": " + SystemText(errno));
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd_);
    throw EWarcError(path + " is no regular file");
  }
  readBytes_ = std::clamp(static_cast<std::size_t>(info.st_size), kMinReadBytes, kMaxReadBytes);
}

TWarcInput::~TWarcInput() { ::close(fd_); }

void TWarcInput::Consume(std::size_t count) {
  if (count == 0) return;
  previous_ = window_[begin_ + count - 1];
  begin_ += count;
  position_ += count;
}

bool TWarcInput::Ensure(std::size_t count) {
  while (end_ - begin_ < count) {
    if (!ReadMore()) return false;
  }
  return true;
}

bool TWarcInput::ReadMore() {
  if (atEnd_) return false;
  MakeRoom();
  if (mode_ == kUnknown) {
    DetectMode();
    if (mode_ == kPlain) return end_ > begin_;
  }
  return mode_ == kPlain ? ReadPlain() : ReadGzip();
}

void TWarcInput::MakeRoom() {
  if (windowSize_ - end_ >= readBytes_) return;
  std::size_t kept = end_ - begin_;
  if (windowSize_ - kept >= readBytes_) {
    std::memmove(window_.get(), window_.get() + begin_, kept);
  } else {
    std::size_t size = std::max(windowSize_ * 2, kept + readBytes_);
    auto larger = std::make_unique_for_overwrite<char[]>(size);
    if (kept > 0) std::memcpy(larger.get(), window_.get() + begin_, kept);
    window_ = std::move(larger);
    windowSize_ = size;
  }
  begin_ = 0;
  end_ = kept;
}

std::size_t TWarcInput::ReadFile(char* into, std::size_t size) {
  for (;;) {
    ssize_t got = ::read(fd_, into, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) throw EWarcError("reading the archive failed: " + SystemText(errno));
  }
}

// Reads the first bytes into the window; those of a gzip file move to the
// compressed bytes, and the file is inflated from there on.
void TWarcInput::DetectMode() {
  ReadPlain();
  std::string_view first = Window();
  if (first.size() < 2 || first.substr(0, 2) != std::string_view(kGzipMagic, 2)) {
    mode_ = kPlain;
    return;
  }
  mode_ = kGzip;
  inflater_ = std::make_unique<TInflater>(kGzipWindowBits);
  inSize_ = 2 * readBytes_;  // a read, and the start of an open member
  in_ = std::make_unique_for_overwrite<char[]>(inSize_);
  std::memcpy(in_.get(), first.data(), first.size());
  inEnd_ = first.size();
  end_ = begin_;
}

bool TWarcInput::ReadPlain() {
  std::size_t got = ReadFile(window_.get() + end_, windowSize_ - end_);
  end_ += got;
  atEnd_ = got == 0;
  return !atEnd_;
}

bool TWarcInput::ReadGzip() {
  std::size_t before = end_;
  // Each turn inflates, starts a member, skips stray bytes or reads: the
  // file's end ends the loop.
  while (end_ == before) {
    if (inBegin_ == inEnd_ && !ReadCompressed()) {
      if (!memberOpen_) {
        atEnd_ = true;
        return false;
      }
      MemberDamaged("gzip member cut short by the end of the file");
      continue;
    }
    if (memberOpen_ || StartMember()) InflateInput();
  }
  return true;
}

bool TWarcInput::ReadCompressed() {
  if (fileEnded_) return false;
  std::size_t keep = inBegin_;
  if (memberOpen_) {
    std::uint64_t start = members_.back().fileOffset;
    if (start >= inFileOffset_ && inFileOffset_ + inBegin_ - start <= readBytes_) {
      keep = static_cast<std::size_t>(start - inFileOffset_);
    }
  }
  std::memmove(in_.get(), in_.get() + keep, inEnd_ - keep);
  inFileOffset_ += keep;
  inBegin_ -= keep;
  inEnd_ -= keep;
  std::size_t got = ReadFile(in_.get() + inEnd_, inSize_ - inEnd_);
  inEnd_ += got;
  fileEnded_ = got == 0;
  return !fileEnded_;
}

// With inBegin_ at the next compressed byte and no member open: opens the
// member that starts there, or skips the stray bytes up to the next one.
bool TWarcInput::StartMember() {
  while (inEnd_ - inBegin_ < 3) {
    if (!ReadCompressed()) break;
  }
  std::string_view next(in_.get() + inBegin_, inEnd_ - inBegin_);
  if (next.substr(0, 3) == kGzipMagic) {
    inflater_->Reset();
    memberOpen_ = true;
    members_.push_back({inFileOffset_ + inBegin_, EndPosition()});
    return true;
  }
  if (!resyncing_) Report(inFileOffset_ + inBegin_, "bytes that are no gzip member");
  resyncing_ = true;
  ++inBegin_;
  SkipToNextMember();
  return false;
}

// Moves inBegin_ to the next gzip magic at or after it, or to the end.
void TWarcInput::SkipToNextMember() {
  for (;;) {
    std::string_view rest(in_.get() + inBegin_, inEnd_ - inBegin_);
    std::size_t at = rest.find(std::string_view(kGzipMagic, 3));
    if (at != std::string_view::npos) {
      inBegin_ += at;
      return;
    }
    // The last two bytes may begin a magic that the next read completes.
    inBegin_ = inEnd_ - std::min<std::size_t>(rest.size(), 2);
    if (!ReadCompressed()) {
      inBegin_ = inEnd_;
      return;
    }
  }
}

void TWarcInput::InflateInput() {
  z_stream& z = inflater_->Stream();
  z.next_in = reinterpret_cast<Bytef*>(in_.get() + inBegin_);
  z.avail_in = static_cast<uInt>(inEnd_ - inBegin_);
  z.next_out = reinterpret_cast<Bytef*>(window_.get() + end_);
  z.avail_out = static_cast<uInt>(std::min<std::size_t>(windowSize_ - end_, 1u << 30));
  int result = inflate(&z, Z_NO_FLUSH);
  inBegin_ = inEnd_ - z.avail_in;
  end_ = reinterpret_cast<char*>(z.next_out) - window_.get();
  if (result == Z_STREAM_END) {
    memberOpen_ = false;
    resyncing_ = false;
  } else if (result == Z_MEM_ERROR) {
    throw EWarcError("zlib: no memory to inflate");
  } else if (result != Z_OK && result != Z_BUF_ERROR) {
    MemberDamaged(std::string("damaged gzip member: ") + (z.msg ? z.msg : "bad data"));
  }
}

void TWarcInput::MemberDamaged(const std::string& problem) {
  const TMember& member = members_.back();
  if (!resyncing_) Report(member.fileOffset, problem);
  resyncing_ = true;
  memberOpen_ = false;
  std::uint64_t end = EndPosition();
  std::uint64_t from = std::max(member.decodedStart, end > kSuspectBytes ? end - kSuspectBytes : 0);
  if (from < end) damaged_.push_back({from, end});
  // The next member may begin anywhere after this one's start: among its
  // bytes when they are still here (a member cut short and followed by the
  // next), else where the damage was found.
  if (member.fileOffset >= inFileOffset_ && member.fileOffset < inFileOffset_ + inEnd_) {
    inBegin_ = static_cast<std::size_t>(member.fileOffset - inFileOffset_) + 1;
    SkipToNextMember();
  }
}

void TWarcInput::Report(std::uint64_t offset, const std::string& problem) {
  if (onDamage_) onDamage_(offset, problem);
}

std::uint64_t TWarcInput::FileOffset(std::uint64_t position) const {
  if (mode_ != kGzip) return position;
  auto after =
      std::upper_bound(members_.begin(), members_.end(), position,
                       [](std::uint64_t p, const TMember& m) { return p < m.decodedStart; });
  return after == members_.begin() ? 0 : std::prev(after)->fileOffset;
}

bool TWarcInput::IsMemberStart(std::uint64_t position) const {
  auto at = std::lower_bound(members_.begin(), members_.end(), position,
                             [](const TMember& m, std::uint64_t p) { return m.decodedStart < p; });
  return at != members_.end() && at->decodedStart == position;
}

bool TWarcInput::IsDamaged(std::uint64_t from, std::uint64_t to) const {
  return std::any_of(damaged_.begin(), damaged_.end(),
                     [&](const TStretch& s) { return s.from < to && from < s.to; });
}

void TWarcInput::ForgetBefore(std::uint64_t position) {
  while (members_.size() >= 2 && members_[1].decodedStart <= position) members_.pop_front();
  while (!damaged_.empty() && damaged_.front().to <= position) damaged_.pop_front();
}

void TWarcInput::RestartAt(std::uint64_t fileOffset) {
  if (mode_ == kUnknown) ReadMore();  // the mode is told by the file's first bytes
  if (::lseek(fd_, static_cast<off_t>(fileOffset), SEEK_SET) < 0) {
    throw EWarcError("reading the archive failed: " + SystemText(errno));
  }
  begin_ = end_ = 0;
  // In an uncompressed file a position is the file offset; in a compressed
  // one it counts from the member restarted at.
  position_ = mode_ == kPlain ? fileOffset : 0;
  previous_ = '\n';
  atEnd_ = false;
  inBegin_ = inEnd_ = 0;
  inFileOffset_ = fileOffset;
  fileEnded_ = false;
  memberOpen_ = false;
  resyncing_ = false;
  members_.clear();
  damaged_.clear();
}
