// The status bar's panels: their texts, and what they show during and after
// a run of the window.
#include "StatusPanels.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "Cp1252.h"
#include "MainUnit.h"
#include "ScriptedDialogs.h"
#include "SiteServer.h"
#include "TempDir.h"

namespace {

using testpeer::SiteServer;
using Pages = std::map<std::string, std::string>;

TCrawlProgress Progress(size_t fetched, size_t queueLeft, size_t words) {
  TCrawlProgress progress;
  progress.Fetched = fetched;
  progress.QueueLeft = queueLeft;
  progress.Words = words;
  return progress;
}

std::string Shown(TProgressPanel* panel) { return ToCp1252(panel->Text()); }

// Pixels of the panel that differ from its top left corner, where no text is.
int InkedPixels(TProgressPanel* panel) {
  QImage image = panel->grab().toImage();
  int inked = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) inked += image.pixel(x, y) != image.pixel(0, 0);
  }
  return inked;
}

}  // namespace

TEST(StatusPanels, NumbersAreGroupedByThousandsWithDots) {
  EXPECT_EQ(GroupedNumber(0), "0");
  EXPECT_EQ(GroupedNumber(999), "999");
  EXPECT_EQ(GroupedNumber(1000), "1.000");
  EXPECT_EQ(GroupedNumber(1234), "1.234");
  EXPECT_EQ(GroupedNumber(100000), "100.000");
  EXPECT_EQ(GroupedNumber(1234567), "1.234.567");
  EXPECT_EQ(GroupedNumber(18446744073709551615ull), "18.446.744.073.709.551.615");
}

TEST(StatusPanels, TextsInWindows1252) {
  EXPECT_EQ(PagesPanelText(Progress(12, 30, 0)), "Seiten: 12, Warteschlange: 30");
  EXPECT_EQ(PagesPanelText(Progress(1500, 0, 7)), "Seiten: 1.500, Warteschlange: 0");
  EXPECT_EQ(WordsPanelText(1234), "W\xF6rter: 1.234");
}

TEST(StatusPanels, EmptyBeforeARunAndTheBarStaysAway) {
  TTempDir dir;
  TScriptedDialogs dialogs;
  TMainForm form(dir.Path("tirasel"), &dialogs);
  form.show();
  EXPECT_EQ(form.PagesPanel->width(), 200);
  EXPECT_EQ(form.WordsPanel->width(), 200);
  EXPECT_EQ(Shown(form.PagesPanel), "");
  EXPECT_EQ(InkedPixels(form.PagesPanel), 0);  // ProgressPercent 0: no bar, no text
  form.Progress(Progress(3, 4, 5));
  form.FlushDisplay();
  EXPECT_GT(InkedPixels(form.PagesPanel), 0);
  EXPECT_EQ(form.ProgressPercent, 0);
}

// A run whose second page never comes: the panels are read while the run
// waits for it, then after "Abbrechen".
TEST(StatusPanels, PagesQueueAndWordsDuringAndAfterARun) {
  SiteServer site(Pages{{"/1.html", "<p>eins zwei</p><a href=2.html>x</a><a href=3.html>y</a>"},
                        {"/3.html", "<p>drei</p>"}},
                  "/2.html");
  TTempDir dir;
  TScriptedDialogs dialogs;
  TMainForm form(dir.Path("tirasel"), &dialogs);
  form.show();
  form.Autosaug->setChecked(true);
  form.URLEdit->setText(FromCp1252(site.Root() + "1.html"));
  std::string pagesDuring, wordsDuring;
  size_t wordsAtThatTime = 0;
  QTimer waiting;  // looks at what the server has seen and the panel shows, not at the clock
  QObject::connect(&waiting, &QTimer::timeout, [&] {
    // The panels are redrawn in groups with the log: wait until they show the
    // state of the stalled request, whenever that happens on a loaded machine.
    const std::string words = "W\xF6rter: " + std::to_string(form.Words().WordCount());
    if (!pagesDuring.empty() || site.Requested().size() < 2 ||
        Shown(form.PagesPanel) != "Seiten: 1, Warteschlange: 2" || Shown(form.WordsPanel) != words)
      return;
    pagesDuring = Shown(form.PagesPanel);
    wordsDuring = Shown(form.WordsPanel);
    wordsAtThatTime = form.Words().WordCount();
    form.BreakBtn->click();
  });
  waiting.start(5);
  form.GoBtn->click();
  waiting.stop();
  site.Release();
  EXPECT_EQ(pagesDuring, "Seiten: 1, Warteschlange: 2");
  EXPECT_EQ(wordsDuring, "W\xF6rter: " + std::to_string(wordsAtThatTime));
  EXPECT_GE(wordsAtThatTime, 2u);
  // The page that never came was not fetched; the one behind it is still queued.
  EXPECT_EQ(Shown(form.PagesPanel), "Seiten: 1, Warteschlange: 1");
  EXPECT_EQ(Shown(form.WordsPanel), "W\xF6rter: " + std::to_string(form.Words().WordCount()));
}

TEST(StatusPanels, AfterACompleteRunTheQueueIsEmpty) {
  SiteServer site(Pages{{"/s/index.html", "<p>Hallo Welt</p><a href=\"two.html\">zwei</a>"},
                        {"/s/two.html", "<p>Zweite Seite</p>"}});
  TTempDir dir;
  TScriptedDialogs dialogs;
  TMainForm form(dir.Path("tirasel"), &dialogs);
  form.Autosaug->setChecked(true);
  form.URLEdit->setText(FromCp1252(site.Root() + "s/index.html"));
  form.GoBtn->click();
  EXPECT_EQ(Shown(form.PagesPanel), "Seiten: 2, Warteschlange: 0");
  EXPECT_EQ(Shown(form.WordsPanel), "W\xF6rter: 5");
}
