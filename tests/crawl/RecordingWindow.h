// A crawl's front end for tests: records what the run and link following
// report to it (log, busy and idle, count label, questions, progress, event
// passes) and answers its questions from a script.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "CrawlEvents.h"
#include "Messages.h"
#include "WordList.h"

struct RecordingWindow : TCrawlEvents {
  std::string proxy;
  bool automatic = false;
  std::deque<bool> answers;  // No when exhausted
  std::vector<std::string> log, questions, busy;
  std::string countLabel;
  std::function<void(const std::string&)> onLog;  // a "user" reacting to the log
  int eventsProcessed = 0;
  int progressReports = 0;

  void Busy(bool isBusy) override {
    busy.push_back(isBusy ? "busy" : "idle");
    if (isBusy) log.clear();
  }
  void Log(const std::string& line) override {
    log.push_back(line);
    if (onLog) onLog(line);
  }
  void WordAdded(size_t count) override { countLabel = WordCountLabel(count); }
  void Progress(const TCrawlProgress&) override { ++progressReports; }
  std::string Proxy() override { return proxy; }
  bool AutomaticMode() override { return automatic; }
  bool AskYesNo(const std::string& caption, const std::string& text) override {
    EXPECT_EQ(caption, "Frage");
    questions.push_back(text);
    if (answers.empty()) return false;
    bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void ProcessPendingEvents() override {
    ++eventsProcessed;
    ProcessMessages();
  }
};
