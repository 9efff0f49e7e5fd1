#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DocumentFraming.h"
#include "DocumentLimits.h"

namespace {

class TStringSink : public TFrameSink {
 public:
  std::string bytes;
  bool WriteAll(const char* data, std::size_t size) override {
    bytes.append(data, size);
    return true;
  }
};

class TStringSource : public TFrameSource {
 public:
  explicit TStringSource(std::string bytes) : bytes_(std::move(bytes)) {}
  bool ReadExact(char* data, std::size_t size) override {
    if (bytes_.size() - at_ < size) return false;
    std::memcpy(data, bytes_.data() + at_, size);
    at_ += size;
    return true;
  }

 private:
  std::string bytes_;
  std::size_t at_ = 0;
};

std::string Le(std::uint64_t value) {
  std::string bytes;
  for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
  return bytes;
}

TAnswerRead Decoded(const std::string& wire, std::uint64_t limit, TDocumentAnswer* out = nullptr) {
  TStringSource source(wire);
  TDocumentAnswer answer;
  TAnswerRead read = ReadAnswer(source, limit, answer);
  if (out) *out = answer;
  return read;
}

}  // namespace

TEST(DocumentFraming, RequestsAndAnswersAreLengthPrefixedLittleEndian) {
  EXPECT_EQ(RequestHeader('p', 0x0102), std::string("p\x02\x01\0\0\0\0\0\0", 9));
  TStringSource request(RequestHeader(7, 0x1122334455667788ULL));
  std::uint8_t kind = 0;
  std::uint64_t size = 0;
  ASSERT_TRUE(ReadRequestHeader(request, kind, size));
  EXPECT_EQ(kind, 7);
  EXPECT_EQ(size, 0x1122334455667788ULL);

  TDocumentAnswer read;
  read.text = std::string("a\0b", 3);
  read.people = {"Ann", ""};
  read.links = {"http://h/"};
  TStringSink sink;
  ASSERT_TRUE(WriteAnswer(sink, read));
  EXPECT_EQ(sink.bytes, std::string(1, '\0') + Le(3) + std::string("a\0b", 3) + Le(2) + Le(3) +
                            "Ann" + Le(0) + Le(1) + Le(9) + "http://h/");
  TDocumentAnswer back;
  ASSERT_EQ(Decoded(sink.bytes, read.ContentBytes(), &back), TAnswerRead::arAnswered);
  EXPECT_EQ(back.text, read.text);
  EXPECT_EQ(back.people, read.people);
  EXPECT_EQ(back.links, read.links);

  // A failure carries its reason only.
  TStringSink failed;
  ASSERT_TRUE(WriteAnswer(failed, FailedDocument(TDocumentStatus::dsUnreadable, "no pages")));
  const std::string reason = "the reader could not read it: no pages";
  EXPECT_EQ(failed.bytes, "\x01" + Le(reason.size()) + reason);
  ASSERT_EQ(Decoded(failed.bytes, 100, &back), TAnswerRead::arAnswered);
  EXPECT_EQ(back.status, TDocumentStatus::dsUnreadable);
  EXPECT_EQ(back.reason, reason);
}

// The answer comes from a process that reads hostile documents: whatever it
// sends, the reader takes no more than its limit and allocates no more.
TEST(DocumentFraming, AnAnswerIsBoundedBeforeItsBytesAreTaken) {
  const std::string ok(1, '\0');
  const std::string noLists = Le(0) + Le(0);
  EXPECT_EQ(Decoded(ok + Le(5) + "abcde" + noLists, 5), TAnswerRead::arAnswered);
  EXPECT_EQ(Decoded(ok + Le(6) + "abcdef" + noLists, 5), TAnswerRead::arTooLarge);
  EXPECT_EQ(Decoded(ok + Le(~0ULL), 64 << 20), TAnswerRead::arTooLarge);
  // Every entry of a list counts 8 bytes, so a count cannot outrun the limit.
  EXPECT_EQ(Decoded(ok + Le(0) + Le(2) + Le(0) + Le(0) + Le(0), 16), TAnswerRead::arAnswered);
  EXPECT_EQ(Decoded(ok + Le(0) + Le(3), 16), TAnswerRead::arTooLarge);
  EXPECT_EQ(Decoded(ok + Le(0) + Le(1ULL << 61), 64 << 20), TAnswerRead::arTooLarge);
  EXPECT_EQ(Decoded(ok + Le(2) + "ab" + Le(1) + Le(3) + "abc" + Le(1) + Le(1) + "x", 21),
            TAnswerRead::arTooLarge);
  EXPECT_EQ(Decoded("\x02" + Le(~0ULL), 100), TAnswerRead::arTooLarge);

  EXPECT_EQ(Decoded("", 100), TAnswerRead::arStreamFailed);
  EXPECT_EQ(Decoded(ok + Le(5) + "abc", 100), TAnswerRead::arStreamFailed);
  EXPECT_EQ(Decoded(ok + Le(0) + Le(0), 100), TAnswerRead::arStreamFailed);
  // Statuses the crawl side gives itself never travel.
  for (int status : {3, 4, 5, int{'g'}, 255}) {
    EXPECT_EQ(Decoded(std::string(1, char(status)) + Le(0), 100), TAnswerRead::arGarbled);
  }
}

TEST(DocumentLimits, TheCommandLineCarriesEveryLimitAndRefusesOthers) {
  TWorkerLimits limits{7, 300, 9};
  std::vector<std::string> arguments = limits.Arguments();
  EXPECT_EQ(arguments, (std::vector<std::string>{"--cpu-seconds", "7", "--memory-mib", "300",
                                                 "--answer-mib", "9"}));
  auto parsed = [](std::vector<std::string> arguments, TWorkerLimits& limits) {
    arguments.insert(arguments.begin(), "worker");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    return ParseWorkerLimits(static_cast<int>(argv.size()), argv.data(), limits);
  };
  TWorkerLimits back;
  ASSERT_TRUE(parsed(arguments, back));
  EXPECT_EQ(back.cpuSeconds, 7);
  EXPECT_EQ(back.memoryMiB, 300);
  EXPECT_EQ(back.answerMiB, 9);
  ASSERT_TRUE(parsed({}, back));
  EXPECT_EQ(back.cpuSeconds, 7);
  for (auto bad : std::vector<std::vector<std::string>>{{"--cpu-seconds"},
                                                        {"--cpu-seconds", "0"},
                                                        {"--memory-mib", "-5"},
                                                        {"--memory-mib", "12x"},
                                                        {"--answer-mib", "1000001"},
                                                        {"--other", "1"}}) {
    TWorkerLimits untouched;
    EXPECT_FALSE(parsed(bad, untouched)) << bad[0];
  }
}
