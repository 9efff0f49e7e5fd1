// A crawl window for tests: records what the run and link following do to
// it (log, control changes, count label, questions, event passes) and
// answers its questions from a script.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "CrawlRun.h"
#include "Messages.h"

struct RecordingWindow : TCrawlWindow {
  std::string address, proxy;
  bool automatic = false;
  std::deque<bool> answers;  // No when exhausted
  std::vector<std::string> log, questions, controls;
  std::string countLabel;
  std::function<void(const std::string&)> onLog;  // a "user" reacting to the log
  int eventsProcessed = 0;

  std::string Address() override { return address; }
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
  void ClearLog() override { log.clear(); }
  void AppendLog(const std::string& line) override {
    log.push_back(line);
    if (onLog) onLog(line);
  }
  void SetControlEnabled(TCrawlControl control, bool enabled) override {
    static const char* names[] = {"Go",  "Break", "LocalBreak", "Ende", "About",
                                  "Del", "Save",  "Open",       "New",  "Sort"};
    controls.push_back(std::string(enabled ? "+" : "-") + names[static_cast<int>(control)]);
  }
  void SetCountLabel(const std::string& text) override { countLabel = text; }
};
