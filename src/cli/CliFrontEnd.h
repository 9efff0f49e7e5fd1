// tirasel-cli: the crawl run without a window, for scripts and machines
// without a display. Log lines go to standard error as they come; the word
// list goes to a file or standard output at the end, written exactly as the
// window's save command writes it.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "CrawlRun.h"

struct TCliOptions {
  std::string Url;
  std::string Proxy;
  std::string ListFile;    // opened first, as the window's open command does
  std::string OutputFile;  // empty: standard output
  bool Ask = false;        // ask on the terminal instead of automatic mode
  bool Help = false;
};

// Parses the arguments (argv[0] excluded); nullopt with `error` set on a
// usage error.
std::optional<TCliOptions> ParseCliArguments(int argc, const char* const* argv, std::string& error);
std::string CliUsage();

// The crawl run's window on a terminal.
class TCliWindow : public TCrawlWindow {
 public:
  TCliWindow(const TCliOptions& options, std::FILE* log, std::FILE* answers, bool showProgress);

  std::string Address() override { return options_.Url; }
  std::string Proxy() override { return options_.Proxy; }
  bool AutomaticMode() override { return !options_.Ask; }
  bool AskYesNo(const std::string& caption, const std::string& text) override;
  void ProcessPendingEvents() override;
  void ClearLog() override {}
  void AppendLog(const std::string& line) override;
  void SetControlEnabled(TCrawlControl, bool) override {}
  void SetCountLabel(const std::string&) override {}

  // Redraws the one-line progress display (only when showing progress).
  void ShowProgress(const TCrawlProgress& progress);
  // Removes the progress display before the program ends.
  void EndProgress();

 private:
  void ClearProgressLine();

  TCliOptions options_;
  std::FILE* log_;
  std::FILE* answers_;
  bool showProgress_;
  std::string progressLine_;
};

// The whole program: returns the exit status (0 after a run, 1 when the
// output cannot be written, 2 for a usage error).
int RunCli(int argc, char** argv);
