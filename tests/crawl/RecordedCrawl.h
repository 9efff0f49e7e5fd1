// A crawl run in a recording window, against a loopback site; needs a Qt
// event loop.
#pragma once

#include <string>
#include <vector>

#include "CrawlRun.h"
#include "LoopbackPeer.h"
#include "RecordingWindow.h"

// One crawl run in a recording window, with its word list; `start` holds
// the settings and options the next Go uses.
struct RecordedCrawl {
  RecordingWindow window;
  WordList words;
  TCrawlRun run{words};
  TCrawlStart start;

  void Go(const std::string& address) {
    start.Address = address;
    start.Http.Proxy = window.proxy;
    run.Run(start, window);
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
