// What a crawl run uses of the main window. The run is started by the start
// button and drives the window only through this interface.
#pragma once

#include <functional>
#include <string>

#include "LinkFollow.h"
#include "WordList.h"

class TCrawlWindow : public TLinkFollowHost {
 public:
  // The address field's and the proxy field's texts, read anew on every call.
  virtual std::string Address() = 0;
  virtual std::string Proxy() = 0;

  virtual WordList& Words() = 0;
  // The count label (Label3), set by the word harvest.
  virtual void SetCountLabel(const std::string& text) = 0;

  // The status log.
  virtual void ClearLog() = 0;
  virtual void AppendLog(const std::string& line) = 0;

  // Disables the start, quit, about and word list buttons and enables the
  // two abort buttons; the start button stays disabled until the run ends.
  virtual void EnterCrawlState() = 0;
  // Reverses that, except for the start button: it waits for the next change
  // of the address field.
  virtual void LeaveCrawlState() = 0;
  virtual bool CrawlRunning() const = 0;
};

// The crawl run's handlers for the start and the two abort buttons.
struct TCrawlHandlers {
  std::function<void()> GoBtnClick;
  std::function<void()> BreakBtnClick;
  std::function<void()> BreakLocalBtnClick;
};
