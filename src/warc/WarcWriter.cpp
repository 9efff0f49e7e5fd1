#include "WarcWriter.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "HeaderLines.h"
#include "WarcDigest.h"
#include "WarcError.h"
#include "ZlibStreams.h"

namespace {

constexpr std::string_view kRequestType = "application/http;msgtype=request";
constexpr std::string_view kResponseType = "application/http;msgtype=response";
constexpr std::string_view kFieldsType = "application/warc-fields";
// The records are compressed on the crawl's thread, as its pages arrive:
// zlib's fastest level makes pages about three times faster than its
// default (about 75 MB/s against 23 in bench_warc), for files a fifth larger.
constexpr int kCompressionLevel = Z_BEST_SPEED;

std::string SystemText(int error) { return std::strerror(error); }

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// "2024-05-01T12:00:00.123Z"; times outside the years 1970 to 9999 are
// clamped to them.
std::string WarcDate(std::int64_t timeMs) {
  constexpr std::int64_t kLastMs = 253402300799999;  // 9999-12-31T23:59:59.999Z
  timeMs = std::clamp<std::int64_t>(timeMs, 0, kLastMs);
  std::time_t seconds = static_cast<std::time_t>(timeMs / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[80];  // room for any int the compiler must assume
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(timeMs % 1000));
  return text;
}

// "<urn:uuid:...>" of 122 random bits (a version 4 UUID).
std::string NewRecordId() {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) throw EWarcError("libcrypto has no random bytes");
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id = "<urn:uuid:";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) id += '-';
    id += kHex[bytes[i] >> 4];
    id += kHex[bytes[i] & 15];
  }
  return id + ">";
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

// A field value on one line: line ends and other controls become spaces.
std::string FieldValue(std::string_view text) {
  std::string value(text);
  for (char& c : value) {
    if (IsControl(static_cast<unsigned char>(c))) c = ' ';
  }
  return value;
}

// A field name of the caller's: controls, blanks and colons become "-".
std::string FieldName(std::string_view text) {
  std::string name(text);
  for (char& c : name) {
    if (IsControl(static_cast<unsigned char>(c)) || c == ' ' || c == ':') c = '-';
  }
  return name;
}

std::string UriValue(std::string_view uri) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string value;
  value.reserve(uri.size());
  for (char c : uri) {
    auto byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7f) {
      value += c;
      continue;
    }
    value += '%';
    value += kHex[byte >> 4];
    value += kHex[byte & 15];
  }
  return value;
}

void AddField(std::string& header, std::string_view name, std::string_view value) {
  header.append(name).append(": ").append(value).append("\r\n");
}

std::string BaseName(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

TWarcWriter::TWarcWriter(const std::string& path, TWarcCompression compression) : path_(path) {
  // O_NONBLOCK keeps the open from waiting for a reader of a pipe, which
  // is then refused as no regular file.
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd_ < 0) throw EWarcError("cannot create " + path + ": " + SystemText(errno));
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd_);
    throw EWarcError(path + " is no regular file");
  }
  if (compression == TWarcCompression::GzipPerRecord)
    gzip_ = std::make_unique<TGzipMemberWriter>(kCompressionLevel);
}

TWarcWriter::~TWarcWriter() { ::close(fd_); }

void TWarcWriter::WriteInfo(const TWarcFields& fields) {
  pending_.clear();  // of a call that failed before writing
  std::string block;
  for (const auto& [name, value] : fields) AddField(block, FieldName(name), FieldValue(value));
  std::string id = NewRecordId();
  std::string header = "WARC/1.1\r\n";
  AddField(header, "WARC-Type", "warcinfo");
  AddField(header, "WARC-Record-ID", id);
  AddField(header, "WARC-Date", WarcDate(NowMs()));
  AddField(header, "WARC-Filename", FieldValue(BaseName(path_)));
  AppendRecord(std::move(header), kFieldsType, block, false);
  WritePending();
  warcinfoId_ = id;
}

void TWarcWriter::WriteExchange(const TWarcExchange& exchange) {
  pending_.clear();  // of a call that failed before writing
  std::string date = WarcDate(exchange.TimeMs != 0 ? exchange.TimeMs : NowMs());
  std::string requestId, responseId;
  if (!exchange.RequestBytes.empty()) requestId = AppendHttpRecord("request", exchange, date, "");
  if (!exchange.ResponseBytes.empty()) {
    responseId = AppendHttpRecord("response", exchange, date, requestId);
  }
  if (exchange.Error != 0)
    AppendFailure(exchange, date, requestId.empty() ? responseId : requestId);
  WritePending();
}

std::string TWarcWriter::StartHeader(std::string_view type, const std::string& recordId,
                                     const std::string& date) const {
  std::string header = "WARC/1.1\r\n";
  AddField(header, "WARC-Type", type);
  AddField(header, "WARC-Record-ID", recordId);
  AddField(header, "WARC-Date", date);
  if (!warcinfoId_.empty()) AddField(header, "WARC-Warcinfo-ID", warcinfoId_);
  return header;
}

// Returns the record's id.
std::string TWarcWriter::AppendHttpRecord(std::string_view type, const TWarcExchange& exchange,
                                          const std::string& date,
                                          const std::string& concurrentTo) {
  std::string id = NewRecordId();
  std::string header = StartHeader(type, id, date);
  AddField(header, "WARC-Target-URI", UriValue(exchange.TargetUri));
  if (!exchange.IpAddress.empty())
    AddField(header, "WARC-IP-Address", FieldValue(exchange.IpAddress));
  if (!concurrentTo.empty()) AddField(header, "WARC-Concurrent-To", concurrentTo);
  bool request = type == "request";
  AppendRecord(std::move(header), request ? kRequestType : kResponseType,
               request ? exchange.RequestBytes : exchange.ResponseBytes, true);
  return id;
}

void TWarcWriter::AppendFailure(const TWarcExchange& exchange, const std::string& date,
                                const std::string& concurrentTo) {
  std::string header = StartHeader("metadata", NewRecordId(), date);
  AddField(header, "WARC-Target-URI", UriValue(exchange.TargetUri));
  if (!concurrentTo.empty()) AddField(header, "WARC-Concurrent-To", concurrentTo);
  std::string block;
  AddField(block, kWarcErrorField, std::to_string(exchange.Error));
  AddField(block, kWarcReasonField, FieldValue(exchange.Reason));
  AppendRecord(std::move(header), kFieldsType, block, false);
}

// Ends the header with the fields that depend on the block and adds the
// record to the pending bytes. The payload of an HTTP block is what follows
// its header, as it was received (chunked, compressed); a block whose HTTP
// header never ended has none.
void TWarcWriter::AppendRecord(std::string header, std::string_view contentType,
                               std::string_view block, bool httpBlock) {
  AddField(header, "Content-Type", contentType);
  AddField(header, "WARC-Block-Digest", WarcSha1Digest(block));
  std::size_t payload = httpBlock ? HeaderEnd(block) : std::string_view::npos;
  if (payload != std::string_view::npos) {
    AddField(header, "WARC-Payload-Digest", WarcSha1Digest(block.substr(payload)));
  }
  AddField(header, "Content-Length", std::to_string(block.size()));
  header += "\r\n";
  if (gzip_) {
    gzip_->AppendMember({header, block, "\r\n\r\n"}, pending_);
  } else {
    pending_.append(header).append(block).append("\r\n\r\n");
  }
}

void TWarcWriter::WritePending() {
  std::string_view left = pending_;
  while (!left.empty()) {
    ssize_t done = ::write(fd_, left.data(), left.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      pending_.clear();
      throw EWarcError("writing " + path_ + " failed: " + SystemText(done < 0 ? errno : EIO));
    }
    left.remove_prefix(static_cast<std::size_t>(done));
    written_ += static_cast<std::uint64_t>(done);
  }
  pending_.clear();
}
