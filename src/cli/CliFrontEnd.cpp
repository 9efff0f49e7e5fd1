#include "CliFrontEnd.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <poll.h>
#include <sstream>
#include <unistd.h>

#include "CliObserver.h"
#include "FileIO.h"
#include "HttpDefaults.h"
#include "Messages.h"
#include "OutputFilters.h"
#include "VocabularyOutput.h"
#include "UrlOrigin.h"
#include "UrlParts.h"
#include "Utf8Text.h"
#include "WarcError.h"
#include "WarcReader.h"
#include "WarcRecorder.h"
#include "WordListFile.h"

// ---------------------------------------------------------------------------
// The terminal window

TCliWindow::TCliWindow(const TCliOptions& options, std::FILE* log, std::FILE* answers,
                       bool showProgress)
    : options_(options), log_(log), answers_(answers), showProgress_(showProgress) {}

void TCliWindow::ClearProgressLine() {
  if (showProgress_ && !progressLine_.empty()) std::fputs("\r\033[K", log_);
}

void TCliWindow::WriteText(const std::string& text) {
  const std::string bytes = options_.Encoding == TCliEncoding::Utf8 ? Cp1252ToUtf8(text) : text;
  std::fwrite(bytes.data(), 1, bytes.size(), log_);
}

void TCliWindow::Busy(bool busy) {
  if (!busy) EndProgress();
}

void TCliWindow::WordAdded(size_t count) {
  if (count == last_.Words) return;
  last_.Words = count;
  progressPending_ = true;
}

void TCliWindow::Log(const std::string& line) {
  if (line == "Error...") ++failed_;
  ClearProgressLine();
  WriteText(line);
  std::fputc('\n', log_);
  if (showProgress_) std::fputs(progressLine_.c_str(), log_);
  std::fflush(log_);
}

bool TCliWindow::AskYesNo(const std::string&, const std::string& text) {
  ClearProgressLine();
  WriteText(text);
  std::fputs(" [y/n] ", log_);
  std::fflush(log_);
  bool yes = false;
  for (int tries = 0; tries < 100; ++tries) {
    char answer[64];
    // No one to answer: No.
    if (!WaitForAnswer() || !std::fgets(answer, sizeof answer, answers_)) break;
    char first = answer[0];
    if (first == 'y' || first == 'Y' || first == 'j' || first == 'J') {
      yes = true;
      break;
    }
    if (first == 'n' || first == 'N') break;
    std::fputs("Please answer y or n: ", log_);
    std::fflush(log_);
  }
  if (showProgress_) std::fputs(progressLine_.c_str(), log_);
  std::fflush(log_);
  return yes;
}

bool TCliWindow::WaitForAnswer() {
  if (!answers_) return false;
  const int answerFd = ::fileno(answers_);
  if (interruptFd_ < 0 || answerFd < 0) return true;  // fgets waits on its own
  for (;;) {  // until the person answers, the input ends, or a handler ends the program
    pollfd fds[2] = {{answerFd, POLLIN, 0}, {interruptFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return true;
    if (fds[1].revents & POLLIN) TakeInterrupts();
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) return true;
  }
}

void TCliWindow::WatchInterrupts(int interruptFd, std::function<void(int count)> onInterrupt) {
  interruptFd_ = interruptFd;
  onInterrupt_ = std::move(onInterrupt);
}

void TCliWindow::TakeInterrupts() {
  char bytes[16];
  for (ssize_t n; (n = ::read(interruptFd_, bytes, sizeof bytes)) > 0;) {
    for (ssize_t i = 0; i < n; ++i) onInterrupt_(++interrupts_);
  }
}

// Called at every link of a page: Ctrl+C is still handled within 10 ms.
void TCliWindow::ProcessPendingEvents() { ProcessMessagesAtMostEvery(10); }

void TCliWindow::Progress(const TCrawlProgress& progress) {
  last_ = progress;
  current_.assign(progress.Current);
  last_.Current = current_;
  progressPending_ = true;
  RefreshProgress();
}

void TCliWindow::RefreshProgress() {
  if (!showProgress_ || !progressPending_) return;
  TClock::time_point now = TClock::now();
  if (now - drawn_ < std::chrono::milliseconds(kProgressIntervalMs)) return;
  drawn_ = now;
  progressPending_ = false;
  DrawProgress();
}

double TCliWindow::SecondsSinceStart() const {
  return std::chrono::duration<double>(TClock::now() - started_).count();
}

void TCliWindow::DrawProgress() {
  double seconds = SecondsSinceStart();
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.1f",
                seconds > 0 ? static_cast<double>(last_.Fetched) / seconds : 0.0);
  progressLine_ = "pages fetched: " + std::to_string(last_.Fetched) +
                  "  queue left: " + std::to_string(last_.QueueLeft) +
                  "  words: " + std::to_string(last_.Words) + "  pages/s: " + rate + "  ";
  // One terminal line: a line that wraps could not be cleared by the next.
  constexpr size_t kLineWidth = 79;
  if (progressLine_.size() < kLineWidth)
    progressLine_ += current_.substr(0, kLineWidth - progressLine_.size());
  std::fputs("\r\033[K", log_);
  std::fputs(progressLine_.c_str(), log_);
  std::fflush(log_);
}

void TCliWindow::EndProgress() {
  ClearProgressLine();
  progressLine_.clear();
  progressPending_ = false;
  std::fflush(log_);
}

// ---------------------------------------------------------------------------
// Ctrl+C: the signal handler only writes a byte to a pipe; the event loop
// (and a question waiting for its answer) reads it. The first acts as
// "Abbrechen", so the run ends cleanly after the page in work. A second ends
// the program at once, from wherever the run processes events, but still
// writes the words found so far: killing it would lose them all.

namespace {

int g_interruptPipe[2] = {-1, -1};

void OnInterrupt(int) {
  char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(g_interruptPipe[1], &byte, 1);
}

// A file named by --output or --emails.
struct TCliOutput {
  std::string file;  // empty: standard output
  const char* what;
  // A target written in place (a pipe, a terminal), open since the check:
  // closing a pipe in between would end its reader's input.
  std::unique_ptr<TOutFile> held;

  void ReportFailure(const std::string& reason) const {
    std::fprintf(stderr, "tirasel-cli: cannot write %s %s: %s\n", what, file.c_str(),
                 reason.c_str());
  }
};

// Whether the output can be written, telling why not on standard error. A
// regular file's temporary file goes again at once: the list is written at
// the end, as one new version of the file.
bool CheckOutput(TCliOutput& output) {
  if (output.file.empty()) return true;
  auto file = std::make_unique<TOutFile>(output.file);
  if (!file->IsOpen()) {
    output.ReportFailure(file->OpenErrorText());
    return false;
  }
  if (file->WritesInPlace()) output.held = std::move(file);
  return true;
}

// Writes the bytes to the file, or to standard output when the name is
// empty; false after telling why on standard error.
// The bytes come in pieces from `produce`, which hands each to its argument.
using TPieceWriter = std::function<void(std::string_view)>;

bool WriteOutputPieces(TCliOutput& output, const std::function<void(const TPieceWriter&)>& produce) {
  if (!output.file.empty()) {
    try {
      std::unique_ptr<TOutFile> out =
          output.held ? std::move(output.held) : std::make_unique<TOutFile>(output.file);
      if (!out->IsOpen()) throw EInOutError(out->OpenErrorText());
      produce([&out](std::string_view piece) { out->Write(piece); });
      out->Close();
      return true;
    } catch (const std::exception& e) {
      output.ReportFailure(e.what());
      return false;
    }
  }
  bool failed = false;
  produce([&failed](std::string_view piece) {
    failed = failed || std::fwrite(piece.data(), 1, piece.size(), stdout) != piece.size();
  });
  if (failed || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "tirasel-cli: cannot write %s to standard output: %s\n", output.what,
                 std::strerror(errno));
    return false;
  }
  return true;
}

bool WriteOutput(const std::string& bytes, TCliOutput& output) {
  return WriteOutputPieces(output, [&bytes](const TPieceWriter& write) { write(bytes); });
}

// Where the results go: each output is checked before the first request,
// so that a long run does not end in "cannot write" with every word lost.
struct TCliOutputs {
  TCliOutput list, emails, cookies, names;

  explicit TCliOutputs(const TCliOptions& options)
      : list{options.OutputFile, "the word list", nullptr},
        emails{options.EmailsFile, "the e-mail addresses", nullptr},
        cookies{options.SaveCookiesFile, "the cookies", nullptr},
        names{options.NamesFile, "the names", nullptr} {}
  bool Check() {
    return CheckOutput(list) && CheckOutput(emails) && CheckOutput(cookies) && CheckOutput(names);
  }
};

// The run's cookies: kept over HTTP/1.1, or when a file gives or takes
// them. nullptr when none are kept; false after telling why a cookie file
// cannot be read. Lines of the file that hold no cookie are skipped, with a
// note.
bool OpenCookieJar(const TCliOptions& options, std::unique_ptr<TCookieJar>& jar) {
  if (options.Http10 && options.CookiesFile.empty() && options.SaveCookiesFile.empty()) return true;
  jar = std::make_unique<TCookieJar>();
  if (options.CookiesFile.empty()) return true;
  std::ifstream in(options.CookiesFile, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "tirasel-cli: cannot read the cookie file %s: %s\n",
                 options.CookiesFile.c_str(), std::strerror(errno));
    return false;
  }
  std::string problem;
  if (!jar->Load(in, problem)) {
    std::fprintf(stderr, "tirasel-cli: the cookie file %s: %s\n", options.CookiesFile.c_str(),
                 problem.c_str());
  }
  return true;
}

std::string CookieFileText(const TCookieJar& jar) {
  std::ostringstream out;
  jar.Save(out);
  return out.str();
}

TOutputRules OutputRulesOf(const TCliOptions& options) {
  TOutputRules rules;
  rules.MinLength = options.MinLength;
  rules.MaxLength = options.MaxLength;
  rules.Lowercase = options.Lowercase;
  rules.NoNumbers = options.NoNumbers;
  rules.StripPunctuation = options.StripPunctuation;
  rules.Count = options.Count;
  return rules;
}

// What the run is given: the address, the HTTP settings and the crawl
// options of the command line.
TCrawlStart CrawlStartOf(const TCliOptions& options) {
  TCrawlStart start;
  start.Address = options.Url;
  THttpSettings& http = start.Http;
  http.RequestVersion = options.Http10 ? "1.0" : "1.1";
  // HTTP/1.0 sends the window's request bytes, without Accept-Encoding.
  if (!options.Http10 && !options.NoCompression) http.AcceptEncoding = kDefaultAcceptEncoding;
  http.ExtraHeaders = options.Headers;
  http.Proxy = options.Proxy;
  http.Agent = options.UserAgent;
  http.Username = options.AuthUser;
  http.Password = options.AuthPassword;
  // --auth is for the site of the start address only.
  if (!options.AuthUser.empty()) http.AuthOrigin = UrlOrigin(options.Url);
  http.ProxyUsername = options.ProxyUser;
  http.ProxyPassword = options.ProxyPassword;
  http.MaxDocSize = options.MaxPageSize;
  http.SslVerifyPeer = !options.Insecure;
  http.SslCAFile = options.CaFile;
  http.TimeoutMs = options.TimeoutSeconds * 1000;
  TCrawlOptions& crawl = start.Options;
  crawl.DelayMs = options.DelayMs;
  crawl.Parallel = options.Parallel;
  crawl.MaxPages = options.MaxPages;
  crawl.MaxDepth = options.MaxDepth;
  crawl.Scope = options.Scope;
  crawl.Robots = options.Robots;
  crawl.Sitemap = options.Sitemap;
  crawl.SkipCode = options.SkipCode;
  start.Archives = options.FromWarc;
  return start;
}

void PrintStats(const TCliWindow& window, size_t wordsWritten) {
  const TCrawlProgress& last = window.LastProgress();
  double seconds = window.SecondsSinceStart();
  std::fprintf(stderr,
               "pages fetched: %zu\npages failed: %zu\npages skipped by filters: %zu\nwords: %zu\n"
               "bytes downloaded: %llu\ntime: %.2f s\npages per second: %.1f\n",
               last.Fetched, window.FailedPages(), last.Skipped, wordsWritten,
               static_cast<unsigned long long>(last.BytesReceived), seconds,
               seconds > 0 ? static_cast<double>(last.Fetched) / seconds : 0.0);
}

size_t LineCount(const std::string& bytes) {
  size_t lines = 0;
  for (size_t at = bytes.find('\n'); at != std::string::npos; at = bytes.find('\n', at + 1))
    ++lines;
  return lines;
}

TListEncoding ListEncodingOf(TCliEncoding encoding) {
  return encoding == TCliEncoding::Utf8 ? TListEncoding::Utf8 : TListEncoding::Windows1252;
}

std::string EmailList(const TCliObserver& observer, TListEncoding encoding) {
  TWordListWriter writer(encoding);
  for (const std::string& address : observer.Emails()) writer.AddLine(address);
  writer.Finish();
  return writer.TakeBytes();
}

// The people the documents named, one per line; in TSV with the document.
std::string NameList(const TCliObserver& observer, const TCliOptions& options) {
  if (options.Format == TVocabularyFormat::Tsv) {
    std::string text = "name\tdocument\n";
    for (const auto& [person, address] : observer.People()) {
      text += Cp1252ToUtf8(person) + "\t" + Cp1252ToUtf8(address) + "\n";
    }
    return text;
  }
  TWordListWriter writer(ListEncodingOf(options.Encoding));
  for (const auto& person : observer.People()) writer.AddLine(person.first);
  writer.Finish();
  return writer.TakeBytes();
}

// The list and the e-mail addresses; the statistics when asked for. False
// when an output could not be written.
// The key a list caption is counted under in the vocabulary: as the list
// output cleans and filters it (and spells it, with --umlauts ascii), so
// entries the output would merge are counted as one.
std::function<std::optional<std::string>(std::string_view)> VocabularyKeyOf(
    const TCliOptions& options) {
  return [rules = OutputRulesOf(options), ascii = options.Umlauts == TUmlauts::Ascii](
             std::string_view caption) -> std::optional<std::string> {
    std::string_view text = rules.StripPunctuation ? StripPunctuation(caption) : caption;
    if (!PassesFilters(text, rules)) return std::nullopt;
    return ascii ? TransliterateUmlauts(text) : std::string(text);
  };
}

TVocabularyOutput VocabularyOutputOf(const TCliOptions& options,
                                     const TReferenceCounts* reference) {
  TVocabularyOutput output;
  output.Format = options.Format;
  const bool list = options.Format == TVocabularyFormat::List;
  output.Sort = options.Sort.value_or(list ? TVocabularySort::First : TVocabularySort::Count);
  output.Lowercase = options.Lowercase;
  output.Umlauts = options.Umlauts;
  output.Encoding = ListEncodingOf(options.Encoding);
  output.Context = options.Context > 0;
  output.Reference = reference;
  return output;
}

// The word list, or the vocabulary when one was kept.
struct TResults {
  const WordList& words;
  const std::vector<std::uint32_t>& counts;
  const TVocabulary* vocabulary = nullptr;
  const TReferenceCounts* reference = nullptr;
};

bool WriteResults(const TCliOptions& options, const TResults& results,
                  const TCliObserver& observer, const TCliWindow& window, TCliOutputs& outputs) {
  const TListEncoding encoding = ListEncodingOf(options.Encoding);
  bool written = false;
  std::size_t entries = 0;
  if (results.vocabulary) {
    // Written as it is made: a vocabulary of word groups runs to gigabytes.
    const TRowSource rows(*results.vocabulary);
    const TVocabularyOutput how = VocabularyOutputOf(options, results.reference);
    written = WriteOutputPieces(outputs.list, [&](const TPieceWriter& write) {
      entries = WriteVocabulary(rows, how, write);
    });
  } else {
    const std::string list =
        FormatWordList(results.words, results.counts, OutputRulesOf(options), encoding);
    entries = LineCount(list);
    written = WriteOutput(list, outputs.list);
  }
  if (!options.EmailsFile.empty()) {
    written = WriteOutput(EmailList(observer, encoding), outputs.emails) && written;
  }
  if (!options.NamesFile.empty()) {
    written = WriteOutput(NameList(observer, options), outputs.names) && written;
  }
  if (options.Stats) PrintStats(window, entries);
  return written;
}

// The document worker: named by TIRASEL_DOCUMENT_WORKER, else where the
// package installs it beside this program, else the one of the build tree.
std::string DocumentWorkerProgram() {
  if (const char* named = std::getenv("TIRASEL_DOCUMENT_WORKER"); named && *named) return named;
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::filesystem::path installed =
        self.parent_path().parent_path() / "libexec/tirasel/tirasel-document-worker";
    if (std::filesystem::exists(installed, error)) return installed.string();
  }
  return TIRASEL_DOCUMENT_WORKER_BUILT;
}

// The --reference counts; false after telling why they cannot be read.
bool ReadReference(const TCliOptions& options, std::optional<TReferenceCounts>& reference) {
  if (options.ReferenceFile.empty()) return true;
  std::string error;
  reference = TReferenceCounts::Read(options.ReferenceFile, error);
  if (!reference) std::fprintf(stderr, "tirasel-cli: --reference: %s\n", error.c_str());
  return reference.has_value();
}

// --merge: the vocabularies of the files as one, written as a run's would be.
int RunMerge(const TCliOptions& options) {
  TCliOutputs outputs(options);
  if (!outputs.Check()) return 2;
  std::optional<TReferenceCounts> reference;
  if (!ReadReference(options, reference)) return 2;
  TRowMerge merge;
  if (std::optional<std::string> error = merge.AddTsvFiles(options.MergeFiles)) {
    std::fprintf(stderr, "tirasel-cli: --merge: %s\n", error->c_str());
    return 2;
  }
  const TVocabularyOutput how = VocabularyOutputOf(options, reference ? &*reference : nullptr);
  return WriteOutputPieces(outputs.list,
                           [&](const TPieceWriter& write) { WriteVocabulary(merge.Rows(), how, write); })
             ? 0
             : 1;
}

// Ctrl+C from here on: the first acts as "Abbrechen", a second runs
// `endAtOnce`, which does not return.
void InstallInterrupt(QCoreApplication& app, TCliWindow& window, TCrawlRun& run,
                      std::function<void()> endAtOnce) {
  if (::pipe2(g_interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  window.WatchInterrupts(g_interruptPipe[0], [&window, &run, endAtOnce](int count) {
    if (count > 1) endAtOnce();
    window.Log("tirasel-cli: Abbrechen (Ctrl+C again ends at once)");
    run.Stop();
  });
  auto* notifier = new QSocketNotifier(g_interruptPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, [&window] { window.TakeInterrupts(); });
  std::signal(SIGINT, OnInterrupt);
}

// The archives to read must be there before the run starts.
bool CheckArchives(const TCliOptions& options) {
  for (const std::string& file : options.FromWarc) {
    try {
      TWarcReader reader(file, 0, nullptr);
    } catch (const EWarcError& failure) {
      std::fprintf(stderr, "tirasel-cli: --from-warc: %s\n", failure.what());
      return false;
    }
  }
  return true;
}

// The command line as the archive notes it: the passwords of --auth and
// --proxy-auth, and an address's user information, left out.
std::string ArgumentsWithoutSecrets(int argc, char** argv) {
  std::string arguments;
  bool secretNext = false;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    const size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const bool secret = name == "--auth" || name == "--proxy-auth";
    if (secretNext) {
      argument = "...";
    } else if (secret && equals != std::string::npos) {
      argument = name + "=...";
    } else if (const size_t scheme = argument.find("://"); scheme != std::string::npos) {
      const TUrlParts parts = SplitUrl(argument);
      if (!parts.User.empty() || !parts.Pass.empty()) {
        argument.erase(scheme + 3, argument.find('@', scheme) - scheme - 2);
      }
    }
    secretNext = secret && equals == std::string::npos;
    arguments += (i > 1 ? " " : "") + argument;
  }
  return arguments;
}

// The archive --warc writes, opened before the first request, with the
// run's options in its warcinfo record; nullptr without --warc, and when it
// cannot be written (after saying why).
std::unique_ptr<TWarcWriter> OpenWarc(const TCliOptions& options, int argc, char** argv,
                                      bool& failed) {
  failed = false;
  if (options.WarcFile.empty()) return nullptr;
  try {
    auto writer = std::make_unique<TWarcWriter>(options.WarcFile);
    writer->WriteInfo(
        TiraselWarcInfo({{"tirasel-arguments", ArgumentsWithoutSecrets(argc, argv)}}));
    return writer;
  } catch (const EWarcError& failure) {
    std::fprintf(stderr, "tirasel-cli: --warc: %s\n", failure.what());
    failed = true;
    return nullptr;
  }
}

// The run itself, after the arguments were read: the exit status.
int RunCrawl(const TCliOptions& options, int argc, char** argv) {
  QCoreApplication app(argc, argv);
  TCliOutputs outputs(options);
  if (!outputs.Check() || !CheckArchives(options)) return 2;
  std::unique_ptr<TCookieJar> cookies;
  if (!OpenCookieJar(options, cookies)) return 2;
  bool warcFailed = false;
  std::unique_ptr<TWarcWriter> warc = OpenWarc(options, argc, argv, warcFailed);
  if (warcFailed) return 2;
  std::optional<TWarcRecorder> recorder;
  if (warc) recorder.emplace(*warc);
  WordList words;
  if (!options.ListFile.empty()) {
    try {
      if (!AppendWordListFile(options.ListFile, words, TLineFeedRule::AlsoWithoutCr)) {
        std::fprintf(stderr, "tirasel-cli: cannot open the list file %s\n",
                     options.ListFile.c_str());
        return 2;
      }
    } catch (const EInOutError& failure) {
      // Going on with part of the list would write part of it back.
      std::fprintf(stderr, "tirasel-cli: cannot read the list file %s: %s\n",
                   options.ListFile.c_str(), failure.what());
      return 2;
    }
  }

  std::optional<TReferenceCounts> reference;
  if (!ReadReference(options, reference)) return 2;
  std::optional<TVocabulary> vocabulary;
  if (options.UsesVocabulary()) {
    TVocabularyOptions kept;
    kept.KeyOf = VocabularyKeyOf(options);
    kept.Groups = options.Groups;
    kept.Context = options.Context;
    vocabulary.emplace(std::move(kept));
  }

  TCliWindow window(options, stderr, options.Ask ? stdin : nullptr, ::isatty(STDERR_FILENO) == 1);
  TCrawlRun run(words);
  TCrawlStart start = CrawlStartOf(options);
  start.Http.Cookies = cookies.get();
  if (recorder) start.Recorder = &*recorder;
  TCliObserver observer(options.Include, options.Exclude, !options.EmailsFile.empty());
  if (!options.Include.empty() || !options.Exclude.empty() || !options.EmailsFile.empty() ||
      !options.NamesFile.empty()) {
    start.Options.Observer = &observer;
  }
  std::vector<std::uint32_t> counts;
  if (options.Count && !vocabulary) start.Options.Occurrences = &counts;
  if (vocabulary) {
    vocabulary->AddListEntries(words);
    start.Options.Vocabulary = &*vocabulary;
  }
  start.Options.Split = options.Split;
  start.Options.Documents.Read = options.Documents;
  start.Options.Documents.WorkerProgram = DocumentWorkerProgram();
  const TResults results{words, counts, vocabulary ? &*vocabulary : nullptr,
                         reference ? &*reference : nullptr};

  // The download watch and the held-back progress line, from the event
  // handling that waiting for a page does.
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&run, &window] {
    run.WatchDownload();
    window.RefreshProgress();
  });
  ticker.start(TCliWindow::kProgressIntervalMs);
  auto saveCookies = [&] {
    return options.SaveCookiesFile.empty() || WriteOutput(CookieFileText(*cookies), outputs.cookies);
  };
  InstallInterrupt(app, window, run, [&] {
    window.Log("tirasel-cli: ended at once, the page in work is left unfinished");
    window.EndProgress();
    if (recorder) recorder->Flush();  // the exchanges that ended go into the archive
    const bool written = WriteResults(options, results, observer, window, outputs);
    const int status = saveCookies() && written ? 0 : 1;
    std::fflush(stderr);
    std::_Exit(status);  // from inside the run: nothing of it may run on
  });

  run.Run(start, window);
  ProcessMessages();  // deliver the last request's events
  ticker.stop();
  // A Ctrl+C from here on still reaches only the pipe: the words are being
  // written either way.

  if (!WriteResults(options, results, observer, window, outputs)) return 1;
  if (!saveCookies()) return 1;
  if (recorder) recorder->Flush();
  if (recorder && !recorder->Failure().empty()) {
    std::fprintf(stderr, "tirasel-cli: cannot write the web archive %s: %s\n",
                 options.WarcFile.c_str(), recorder->Failure().c_str());
    return 1;
  }
  return window.LastProgress().Fetched > 0 ? 0 : 3;
}

}  // namespace

int RunCli(int argc, char** argv) {
  std::string error;
  std::optional<TCliOptions> options = ParseCliArguments(argc - 1, argv + 1, error);
  if (!options) {
    std::fprintf(stderr, "tirasel-cli: %s\n\n%s", error.c_str(), CliUsage().c_str());
    return 2;
  }
  if (options->Help || options->Version) {
    std::fputs(options->Help ? CliUsage().c_str() : CliVersion().c_str(), stdout);
    return 0;
  }
  if (!options->MergeFiles.empty()) return RunMerge(*options);
  return RunCrawl(*options, argc, argv);
}
