#include "DocumentFraming.h"

namespace {

constexpr std::size_t kLengthBytes = 8;

void AppendLength(std::string& out, std::uint64_t value) {
  for (std::size_t i = 0; i < kLengthBytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

bool ReadLength(TFrameSource& source, std::uint64_t& value) {
  unsigned char bytes[kLengthBytes];
  if (!source.ReadExact(reinterpret_cast<char*>(bytes), sizeof bytes)) return false;
  value = 0;
  for (std::size_t i = 0; i < kLengthBytes; ++i) value |= std::uint64_t{bytes[i]} << (8 * i);
  return true;
}

bool WriteString(TFrameSink& sink, const std::string& text) {
  std::string length;
  AppendLength(length, text.size());
  return sink.WriteAll(length.data(), length.size()) && sink.WriteAll(text.data(), text.size());
}

bool WriteList(TFrameSink& sink, const std::vector<std::string>& list) {
  std::string count;
  AppendLength(count, list.size());
  if (!sink.WriteAll(count.data(), count.size())) return false;
  for (const std::string& item : list) {
    if (!WriteString(sink, item)) return false;
  }
  return true;
}

// Reads the answer's parts while counting them against the limit: a length
// is checked before anything is allocated for it.
class TBudgetedReader {
 public:
  TBudgetedReader(TFrameSource& source, std::uint64_t budget) : source_(source), left_(budget) {}

  TAnswerRead String(std::string& text) {
    std::uint64_t length = 0;
    if (!ReadLength(source_, length)) return TAnswerRead::arStreamFailed;
    if (length > left_) return TAnswerRead::arTooLarge;
    left_ -= length;
    text.resize(static_cast<std::size_t>(length));
    return source_.ReadExact(text.data(), text.size()) ? TAnswerRead::arAnswered
                                                       : TAnswerRead::arStreamFailed;
  }

  TAnswerRead List(std::vector<std::string>& list) {
    std::uint64_t count = 0;
    if (!ReadLength(source_, count)) return TAnswerRead::arStreamFailed;
    if (count > left_ / kLengthBytes) return TAnswerRead::arTooLarge;
    left_ -= count * kLengthBytes;
    list.resize(static_cast<std::size_t>(count));
    for (std::string& item : list) {
      TAnswerRead read = String(item);
      if (read != TAnswerRead::arAnswered) return read;
    }
    return TAnswerRead::arAnswered;
  }

 private:
  TFrameSource& source_;
  std::uint64_t left_;
};

}  // namespace

std::uint64_t TDocumentAnswer::ContentBytes() const {
  std::uint64_t bytes = text.size() + reason.size();
  for (const std::string& person : people) bytes += kLengthBytes + person.size();
  for (const std::string& link : links) bytes += kLengthBytes + link.size();
  return bytes;
}

const char* DocumentStatusText(TDocumentStatus status) {
  switch (status) {
    case TDocumentStatus::dsRead:
      return "read";
    case TDocumentStatus::dsUnreadable:
      return "the reader could not read it";
    case TDocumentStatus::dsTooLarge:
      return "too large to read";
    case TDocumentStatus::dsTooLong:
      return "took too long";
    case TDocumentStatus::dsCrashed:
      return "the reader crashed on it";
    case TDocumentStatus::dsNoWorker:
      return "the document reader could not be started";
  }
  return "unknown failure";
}

TDocumentAnswer FailedDocument(TDocumentStatus status, const std::string& detail) {
  TDocumentAnswer answer;
  answer.status = status;
  answer.reason = DocumentStatusText(status);
  if (!detail.empty()) answer.reason += ": " + detail;
  return answer;
}

std::string RequestHeader(std::uint8_t kind, std::uint64_t size) {
  std::string header(1, static_cast<char>(kind));
  AppendLength(header, size);
  return header;
}

bool ReadRequestHeader(TFrameSource& source, std::uint8_t& kind, std::uint64_t& size) {
  char kindByte = 0;
  if (!source.ReadExact(&kindByte, 1) || !ReadLength(source, size)) return false;
  kind = static_cast<std::uint8_t>(kindByte);
  return true;
}

bool WriteAnswer(TFrameSink& sink, const TDocumentAnswer& answer) {
  char status = static_cast<char>(answer.status);
  if (!sink.WriteAll(&status, 1)) return false;
  if (answer.status != TDocumentStatus::dsRead) return WriteString(sink, answer.reason);
  return WriteString(sink, answer.text) && WriteList(sink, answer.people) &&
         WriteList(sink, answer.links);
}

TAnswerRead ReadAnswer(TFrameSource& source, std::uint64_t maxContentBytes,
                       TDocumentAnswer& answer) {
  char status = 0;
  if (!source.ReadExact(&status, 1)) return TAnswerRead::arStreamFailed;
  answer = TDocumentAnswer{};
  answer.status = static_cast<TDocumentStatus>(static_cast<unsigned char>(status));
  TBudgetedReader reader(source, maxContentBytes);
  switch (answer.status) {
    case TDocumentStatus::dsRead: {
      TAnswerRead read = reader.String(answer.text);
      if (read == TAnswerRead::arAnswered) read = reader.List(answer.people);
      if (read == TAnswerRead::arAnswered) read = reader.List(answer.links);
      return read;
    }
    case TDocumentStatus::dsUnreadable:
    case TDocumentStatus::dsTooLarge:
      return reader.String(answer.reason);
    default:
      return TAnswerRead::arGarbled;
  }
}
