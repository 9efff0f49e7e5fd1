#include "CliFrontEnd.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "FileIO.h"
#include "Messages.h"
#include "WordListFile.h"

// ---------------------------------------------------------------------------
// Arguments

std::string CliUsage() {
  return "Usage: tirasel-cli [--proxy HOST[:PORT]] [--list FILE] [--output FILE] [--ask] URL\n"
         "\n"
         "Harvests the vocabulary of the web site at URL: fetches the page, follows its\n"
         "links to further pages of the same site, and collects every new word.\n"
         "\n"
         "  --proxy HOST[:PORT]  fetch through this HTTP proxy (port 80 when none is given)\n"
         "  --list FILE          start from the word list in FILE and continue it\n"
         "  --output FILE        write the word list to FILE (default: standard output)\n"
         "  --ask                ask before following a link into another directory\n"
         "                       (default: never ask, stay on the site)\n"
         "  --help               show this text\n"
         "\n"
         "Progress and the status log go to standard error. The word list is written\n"
         "one word per line, each ended by CR LF, in Windows-1252, as Tirasel's window\n"
         "saves it. Ctrl+C ends the run like \"Abbrechen\"; the words so far are written.\n"
         "\n"
         "Exit status: 0 after a run, 1 when the word list cannot be written,\n"
         "2 for a usage error.\n";
}

std::optional<TCliOptions> ParseCliArguments(int argc, const char* const* argv, std::string& error) {
  TCliOptions options;
  bool haveUrl = false;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& target) {
      if (i + 1 >= argc) {
        error = arg + " needs a value";
        return false;
      }
      target = argv[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      options.Help = true;
      return options;
    } else if (arg == "--ask") {
      options.Ask = true;
    } else if (arg == "--proxy") {
      if (!value(options.Proxy)) return std::nullopt;
    } else if (arg == "--list") {
      if (!value(options.ListFile)) return std::nullopt;
    } else if (arg == "--output") {
      if (!value(options.OutputFile)) return std::nullopt;
    } else if (arg.starts_with("-") && arg.size() > 1) {
      error = "unknown option " + arg;
      return std::nullopt;
    } else if (haveUrl) {
      error = "only one URL can be given";
      return std::nullopt;
    } else {
      options.Url = arg;
      haveUrl = true;
    }
  }
  if (options.Url.empty()) {
    error = "no URL given";
    return std::nullopt;
  }
  return options;
}

// ---------------------------------------------------------------------------
// The terminal window

TCliWindow::TCliWindow(const TCliOptions& options, std::FILE* log, std::FILE* answers, bool showProgress)
    : options_(options), log_(log), answers_(answers), showProgress_(showProgress) {}

void TCliWindow::ClearProgressLine() {
  if (showProgress_ && !progressLine_.empty()) std::fputs("\r\033[K", log_);
}

void TCliWindow::AppendLog(const std::string& line) {
  ClearProgressLine();
  std::fwrite(line.data(), 1, line.size(), log_);
  std::fputc('\n', log_);
  if (showProgress_) std::fputs(progressLine_.c_str(), log_);
  std::fflush(log_);
}

bool TCliWindow::AskYesNo(const std::string&, const std::string& text) {
  ClearProgressLine();
  std::fwrite(text.data(), 1, text.size(), log_);
  std::fputs(" [y/n] ", log_);
  std::fflush(log_);
  bool yes = false;
  for (int tries = 0; tries < 100; ++tries) {
    char answer[64];
    if (!answers_ || !std::fgets(answer, sizeof answer, answers_)) break;  // no one to answer: No
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

// Called at every link of a page: Ctrl+C is still handled within 10 ms.
void TCliWindow::ProcessPendingEvents() { ProcessMessagesAtMostEvery(10); }

void TCliWindow::ShowProgress(const TCrawlProgress& progress) {
  if (!showProgress_) return;
  progressLine_ = "pages fetched: " + std::to_string(progress.Fetched) +
                  "  queue left: " + std::to_string(progress.QueueLeft) +
                  "  words: " + std::to_string(progress.Words);
  std::fputs("\r\033[K", log_);
  std::fputs(progressLine_.c_str(), log_);
  std::fflush(log_);
}

void TCliWindow::EndProgress() {
  ClearProgressLine();
  progressLine_.clear();
  std::fflush(log_);
}

// ---------------------------------------------------------------------------
// Ctrl+C: the signal handler only writes a byte to a pipe; the event loop
// turns it into "Abbrechen", so the run ends cleanly and the list is written.

namespace {

int g_interruptPipe[2] = {-1, -1};

void OnInterrupt(int) {
  char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(g_interruptPipe[1], &byte, 1);
  std::signal(SIGINT, SIG_DFL);  // a second Ctrl+C ends the program at once
}

bool WriteWordList(const WordList& words, const std::string& outputFile) {
  if (!outputFile.empty()) {
    try {
      WriteWordListFile(outputFile, words);
      return true;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "tirasel-cli: cannot write %s: %s\n", outputFile.c_str(), e.what());
      return false;
    }
  }
  std::string bytes;
  for (const WordEntry& entry : words.Entries()) bytes += entry.Caption + "\r\n";
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "tirasel-cli: cannot write the word list to standard output: %s\n", std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

int RunCli(int argc, char** argv) {
  std::string error;
  std::optional<TCliOptions> options = ParseCliArguments(argc - 1, argv + 1, error);
  if (!options) {
    std::fprintf(stderr, "tirasel-cli: %s\n\n%s", error.c_str(), CliUsage().c_str());
    return 2;
  }
  if (options->Help) {
    std::fputs(CliUsage().c_str(), stdout);
    return 0;
  }

  QCoreApplication app(argc, argv);
  WordList words;
  if (!options->ListFile.empty() && !AppendWordListFile(options->ListFile, words)) {
    std::fprintf(stderr, "tirasel-cli: cannot open the list file %s\n", options->ListFile.c_str());
    return 2;
  }

  TCliWindow window(*options, stderr, options->Ask ? stdin : nullptr, ::isatty(STDERR_FILENO) == 1);
  THttpCli http;
  TCrawlRun run(window, words, http);
  ConfigureHttpCli1(http, run);
  run.OnProgress = [&window](const TCrawlProgress& progress) { window.ShowProgress(progress); };

  if (::pipe2(g_interruptPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    auto* notifier = new QSocketNotifier(g_interruptPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, [&run] {
      char drain[16];
      while (::read(g_interruptPipe[0], drain, sizeof drain) > 0) {
      }
      run.BreakBtnClick();
    });
    std::signal(SIGINT, OnInterrupt);
  }

  run.GoBtnClick();
  ProcessMessages();  // deliver the last request's events
  window.EndProgress();
  std::signal(SIGINT, SIG_DFL);
  return WriteWordList(words, options->OutputFile) ? 0 : 1;
}
