// The status bar's two panels, drawn by the program: the progress bar over
// ProgressPercent of the panel's width (nothing changes it, so no bar shows),
// and over it a line of text: the pages fetched and the queue left in the
// first panel, the words in the list in the second, set during a run and
// kept after it.
#pragma once

#include <QString>
#include <QWidget>
#include <string>

#include "CrawlRun.h"

// The panels' texts, Windows-1252: "Seiten: 12, Warteschlange: 30" and
// "Wörter: 1.234" (numbers grouped by thousands, German style).
std::string PagesPanelText(const TCrawlProgress& progress);
std::string WordsPanelText(size_t words);
std::string GroupedNumber(size_t value);

class TProgressPanel : public QWidget {
 public:
  static constexpr int kWidth = 200;
  // `percent` must outlive the panel.
  TProgressPanel(const int& percent, QWidget* parent);
  QString Text() const { return text_; }
  // Repaints only when the text changes.
  void SetText(const QString& text);

 protected:
  // StatusBar1DrawPanel: a navy bar over `percent` of the panel's width,
  // then the text, cut short with an ellipsis where the panel ends.
  void paintEvent(QPaintEvent*) override;

 private:
  const int& percent_;
  QString text_;
};
