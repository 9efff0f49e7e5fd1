// Reading a large web archive as the crawl's replay will: a .warc.gz of
// generated pages (one gzip member per record, as our writer makes it),
// every record through TWarcReader and every response through
// ParseHttpResponse, beside the same file through zcat and through a Python 3
// reader (gzip and html.parser), all in the same run. Target: reading at
// least half as fast as zcat (x_zcat >= 0.5). Also: the writer making the
// archive, the harvest of its pages into words, and the peak memory of
// reading it and of reading one huge record with a 1 MiB block limit (the
// peak must not grow with the record).
//
// Sizes: TIRASEL_BENCH_WARC_MB of pages (default 50), and a record of
// TIRASEL_BENCH_WARC_BIG_MB (default 2048; a sparse file, so it costs no disk).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "BenchArchive.h"
#include "BenchProcess.h"
#include "HTMLPars.h"
#include "HttpMessage.h"
#include "MeasureInChild.h"
#include "TempDirectory.h"
#include "WarcReader.h"
#include "WarcWriter.h"
#include "WordHarvest.h"
#include "ZlibStreams.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kMiB = 1024.0 * 1024.0;
const std::int64_t kPageBytes = std::int64_t{EnvInt("TIRASEL_BENCH_WARC_MB", 50)} << 20;
const std::int64_t kBigRecordBytes = std::int64_t{EnvInt("TIRASEL_BENCH_WARC_BIG_MB", 2048)} << 20;
// What a replay would keep of a block, and of a decoded body.
constexpr std::int64_t kMaxBlockBytes = 64 << 20;
constexpr int kPeerTimeoutMs = 600000;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The decompressed size of a gzip file, for MB/s of what the readers see.
std::uint64_t DecodedSize(const std::string& path) {
  std::string file = testsupport::ReadFile(path);
  TInflater inflater(kGzipWindowBits);
  z_stream& z = inflater.Stream();
  z.next_in = reinterpret_cast<Bytef*>(file.data());
  z.avail_in = static_cast<uInt>(file.size());
  std::uint64_t total = 0;
  std::vector<char> out(1 << 20);
  while (z.avail_in > 0) {
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    int result = inflate(&z, Z_NO_FLUSH);
    total += out.size() - z.avail_out;
    if (result == Z_STREAM_END)
      inflater.Reset();
    else if (result != Z_OK)
      break;
  }
  return total;
}

// The archive, written once by the first row that needs it.
struct TArchiveFile {
  testsupport::TempDirectory dir{"tirasel-bench-warc"};
  std::string path = (dir / "pages.warc.gz").string();
  double writeSeconds = 0;
  std::uint64_t fileBytes = 0, decodedBytes = 0, responses = 0;

  TArchiveFile() {
    auto start = Clock::now();
    const TBenchArchive written = WriteBenchArchive(path, kPageBytes);
    writeSeconds = Seconds(Clock::now() - start);
    fileBytes = written.fileBytes;
    responses = written.responses;
    decodedBytes = DecodedSize(path);
  }
};

TArchiveFile& Archive() {
  static TArchiveFile archive;
  return archive;
}

// Figures of the peers, for the ratios in our rows.
double gZcatSeconds = 0, gPythonSeconds = 0;

void ReportSpeed(benchmark::State& state, double seconds) {
  const TArchiveFile& archive = Archive();
  state.counters["MB/s"] = archive.fileBytes / kMiB / seconds;
  state.counters["decoded_MB/s"] = archive.decodedBytes / kMiB / seconds;
}

void BM_WriteArchive(benchmark::State& state) {
  for (auto _ : state) state.SetIterationTime(Archive().writeSeconds);
  const TArchiveFile& archive = Archive();
  state.counters["decoded_MB/s"] = archive.decodedBytes / kMiB / archive.writeSeconds;
  state.counters["file_MB"] = archive.fileBytes / kMiB;
  state.counters["decoded_MB"] = archive.decodedBytes / kMiB;
  state.counters["responses"] = static_cast<double>(archive.responses);
}
BENCHMARK(BM_WriteArchive)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Runs a peer over the archive once per iteration; returns the mean seconds.
double TimePeer(benchmark::State& state, const std::vector<std::string>& argv) {
  double total = 0;
  for (auto _ : state) {
    ProgramRun run = TimeProgram(argv, "/dev/null", kPeerTimeoutMs);
    if (!run.failure.empty()) {
      state.SkipWithError(run.failure.c_str());
      return 0;
    }
    state.SetIterationTime(run.seconds);
    total += run.seconds;
  }
  double seconds = total / static_cast<double>(state.iterations());
  ReportSpeed(state, seconds);
  return seconds;
}

void BM_Zcat(benchmark::State& state) {
  gZcatSeconds = TimePeer(state, {"/usr/bin/zcat", Archive().path});
}
BENCHMARK(BM_Zcat)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// What a short Python reader does: records framed by Content-Length, the
// HTML of every response through html.parser.
constexpr const char* kPythonReader = R"(
import gzip, sys
from html.parser import HTMLParser
class Text(HTMLParser):
    def __init__(self):
        super().__init__()
        self.size = 0
    def handle_data(self, data):
        self.size += len(data)
text, records = Text(), 0
with gzip.open(sys.argv[1], 'rb') as archive:
    for line in archive:
        if not line.startswith(b'WARC/1.'):
            continue
        fields = {}
        for field in archive:
            if field.strip() == b'':
                break
            name, _, value = field.partition(b':')
            fields[name.strip().lower()] = value.strip()
        block = archive.read(int(fields[b'content-length']))
        records += 1
        if fields.get(b'warc-type') == b'response':
            text.feed(block.partition(b'\r\n\r\n')[2].decode('latin-1'))
print(records, text.size)
)";

void BM_Python(benchmark::State& state) {
  gPythonSeconds = TimePeer(state, {"/usr/bin/python3", "-c", kPythonReader, Archive().path});
}
BENCHMARK(BM_Python)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

struct TReadFigures {
  double seconds = 0;
  std::uint64_t records = 0, bodyBytes = 0, damage = 0, words = 0;
  long peakKiB = 0;
};

// Every record of the archive, every response parsed; `visitBody` sees
// each body.
template <class VisitBody>
TReadFigures ReadArchive(const std::string& path, VisitBody visitBody) {
  TReadFigures figures;
  auto start = Clock::now();
  TWarcReader reader(path, kMaxBlockBytes,
                     [&](std::uint64_t, const std::string&) { ++figures.damage; });
  TWarcRecord record;
  std::string problem;
  while (reader.Next(record)) {
    ++figures.records;
    if (record.Type != "response") continue;
    std::optional<THttpMessage> message = ParseHttpResponse(record.Block, kMaxBlockBytes, problem);
    if (!message) continue;
    figures.bodyBytes += message->Body.size();
    visitBody(message->Body);
  }
  // Wall time, as the peers' is measured.
  figures.seconds = Seconds(Clock::now() - start);
  figures.peakKiB = MaxRssKiB();
  return figures;
}

void ReportRead(benchmark::State& state, const TReadFigures& figures) {
  if (figures.damage > 0 || figures.records != 2 * Archive().responses + 1) {
    state.SkipWithError("the archive did not read back whole");
  }
  ReportSpeed(state, figures.seconds);
  state.counters["records"] = static_cast<double>(figures.records);
  state.counters["peak_MB"] = figures.peakKiB / 1024.0;
  if (gZcatSeconds > 0) state.counters["x_zcat"] = gZcatSeconds / figures.seconds;  // target >= 0.5
  if (gPythonSeconds > 0) state.counters["x_python"] = gPythonSeconds / figures.seconds;
}

// In a child process, so that the peak is this reading's alone.
void BM_ReadRecordsAndResponses(benchmark::State& state) {
  const std::string& path = Archive().path;
  TReadFigures figures;
  for (auto _ : state) {
    figures =
        MeasureInChild<TReadFigures>([&] { return ReadArchive(path, [](const std::string&) {}); });
    state.SetIterationTime(figures.seconds);
  }
  ReportRead(state, figures);
}
BENCHMARK(BM_ReadRecordsAndResponses)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// As far as Python's reader goes and further: the pages tokenized and their
// words harvested into a word list, as the crawl does with a fetched page.
void BM_ReadAndHarvestWords(benchmark::State& state) {
  const std::string& path = Archive().path;
  TReadFigures figures;
  for (auto _ : state) {
    figures = MeasureInChild<TReadFigures>([&] {
      WordList words;
      TWordHarvest harvest(words, nullptr);
      THTMLParser parser;
      TReadFigures read = ReadArchive(path, [&](const std::string& body) {
        parser.Lines.clear();
        SplitLines(body.data(), body.size(), parser.Lines);
        parser.Parse([&](const THTMLNode& node) {
          if (!node.IsTag()) harvest.HarvestText(node.Text().Text);
        });
      });
      read.words = words.WordCount();
      return read;
    });
    state.SetIterationTime(figures.seconds);
  }
  ReportRead(state, figures);
  state.counters["words"] = static_cast<double>(figures.words);
}
BENCHMARK(BM_ReadAndHarvestWords)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// What a user runs: tirasel-cli harvesting every HTML answer of the archive
// (--from-warc without an address), the archive read on a thread of its own
// beside the harvest. Target: at most twice zcat's time (x_zcat >= 0.5),
// and a peak that does not grow with the archive.
void BM_CliHarvest(benchmark::State& state) {
  const std::string& path = Archive().path;
  ProgramPeak figures;
  for (auto _ : state) {
    figures = TimeProgramPeak({TIRASEL_CLI_PATH, "--from-warc", path, "--output", "/dev/null"},
                              "/dev/null", kPeerTimeoutMs);
    if (!figures.ok) {
      state.SkipWithError("tirasel-cli failed");
      return;
    }
    state.SetIterationTime(figures.seconds);
  }
  ReportSpeed(state, figures.seconds);
  state.counters["peak_MB"] = figures.peakKiB / 1024.0;
  if (gZcatSeconds > 0) state.counters["x_zcat"] = gZcatSeconds / figures.seconds;  // target >= 0.5
  if (gPythonSeconds > 0) state.counters["x_python"] = gPythonSeconds / figures.seconds;
}
BENCHMARK(BM_CliHarvest)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// One record of kBigRecordBytes in an uncompressed archive, its block a hole
// of the file, read with a 1 MiB block limit: the peak stays that of a
// small archive.
void BM_HugeRecordPeakMemory(benchmark::State& state) {
  testsupport::TempDirectory dir("tirasel-bench-warc-big");
  const std::string path = (dir / "huge.warc").string();
  std::string header =
      "WARC/1.1\r\nWARC-Type: resource\r\nContent-Length: " + std::to_string(kBigRecordBytes) +
      "\r\n\r\n";
  std::string after =
      "\r\n\r\nWARC/1.1\r\nWARC-Type: resource\r\nContent-Length: 2\r\n\r\nok\r\n\r\n";
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool written = fd >= 0 &&
                 ::write(fd, header.data(), header.size()) == static_cast<ssize_t>(header.size()) &&
                 ::pwrite(fd, after.data(), after.size(),
                          static_cast<off_t>(header.size() + kBigRecordBytes)) ==
                     static_cast<ssize_t>(after.size());
  if (fd >= 0) ::close(fd);
  if (!written) {
    state.SkipWithError("cannot write the sparse archive");
    return;
  }
  TReadFigures figures;
  for (auto _ : state) {
    figures = MeasureInChild<TReadFigures>([&] {
      TReadFigures read;
      auto start = Clock::now();
      TWarcReader reader(path, 1 << 20, [&](std::uint64_t, const std::string&) { ++read.damage; });
      TWarcRecord record;
      while (reader.Next(record)) {
        ++read.records;
        read.bodyBytes += record.Block.size();
      }
      read.seconds = Seconds(Clock::now() - start);
      read.peakKiB = MaxRssKiB();
      return read;
    });
    state.SetIterationTime(figures.seconds);
  }
  if (figures.records != 2 || figures.damage != 0)
    state.SkipWithError("the records did not read back");
  state.counters["record_MB"] = kBigRecordBytes / kMiB;
  state.counters["MB/s"] = kBigRecordBytes / kMiB / figures.seconds;
  state.counters["peak_MB"] = figures.peakKiB / 1024.0;
}
BENCHMARK(BM_HugeRecordPeakMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
