// A crawl run in a recording window, against a loopback site; needs a Qt
// event loop.
#pragma once

#include <string>
#include <vector>

#include "LoopbackPeer.h"
#include "RecordingWindow.h"

// One crawl run in a recording window, with its word list and HTTP client.
struct RecordedCrawl {
  RecordingWindow window;
  WordList words;
  THttpCli http;
  TCrawlRun run{window, words, http};

  RecordedCrawl() { ConfigureHttpCli1(http, run); }
  void Go(const std::string& address) {
    window.address = address;
    run.GoBtnClick();
    testpeer::PumpFor(20);  // late request-done events
  }
  std::vector<std::string> Words() const {
    std::vector<std::string> out;
    for (const WordEntry& entry : words.Entries()) out.push_back(entry.Caption);
    return out;
  }
  // The log lines that name a fetched address.
  std::vector<std::string> Fetched() const {
    std::vector<std::string> out;
    for (const std::string& line : window.log) {
      if (line.starts_with("http://")) out.push_back(line);
    }
    return out;
  }
};
