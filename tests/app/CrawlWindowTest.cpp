// The whole program as a person uses it: the main window crawls a loopback
// site when "&Saugen..." is pressed; questions are answered by a script.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <optional>

#include "CharsetSite.h"
#include "Cp1252.h"
#include "MainUnit.h"
#include "FixtureSite.h"
#include "HttpsFixtureSite.h"
#include "ScriptedDialogs.h"
#include "NginxServer.h"
#include "SiteServer.h"
#include "TempDir.h"
#include "TlsCertificates.h"
#include "WordListView.h"

namespace {

using testpeer::SiteServer;
using Lines = std::vector<std::string>;
using Pages = std::map<std::string, std::string>;

Pages Site() {
  return {{"/s/index.html",
           "<p>Hallo Welt</p><a href=\"two.html\">zwei</a><a href=\"/other/x.html\">fremd</a>"},
          {"/s/two.html", "<p>Zweite Seite</p>"},
          {"/other/x.html", "<p>Ausland</p>"}};
}

class CrawlWindowTest : public ::testing::Test {
 protected:
  std::unique_ptr<TMainForm> Create() {
    auto form = std::make_unique<TMainForm>(dir.Path("tirasel"), &dialogs);
    form->show();
    return form;
  }
  static Lines Log(TMainForm& form) {
    Lines lines;
    for (const QString& line : form.Memo1->toPlainText().split(QLatin1Char('\n'))) {
      lines.push_back(ToCp1252(line));
    }
    return lines;
  }

  TTempDir dir;
  TScriptedDialogs dialogs;
};

TEST_F(CrawlWindowTest, AutomaticRunFillsTheListAndLeavesTheStartButtonOff) {
  SiteServer site(Site());
  auto form = Create();
  form->Autosaug->setChecked(true);
  form->URLEdit->setText(FromCp1252(site.Root() + "s/index.html"));
  form->GoBtn->click();
  EXPECT_EQ(Log(*form), (Lines{site.Root() + "s/index.html", site.Root() + "s/two.html",
                               "Done! (2 html files found...)..."}));
  EXPECT_EQ(form->Words().WordCount(), 6u);
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->ListView1->model()->rowCount() == 6; }, 5000));
  EXPECT_EQ(ToCp1252(form->Label3->text()), "W\xF6rtner in der Liste: 6");
  EXPECT_TRUE(dialogs.Questions.empty());
  EXPECT_FALSE(form->GoBtn->isEnabled());
  for (QPushButton* on : {form->EndeBtn, form->AboutBtn, form->DelBtn, form->SaveBtn, form->OpenBtn,
                          form->NewBtn, form->SortBtn}) {
    EXPECT_TRUE(on->isEnabled());
  }
  EXPECT_FALSE(form->BreakBtn->isEnabled());
  form->URLEdit->setText(form->URLEdit->text() + QLatin1Char('x'));
  EXPECT_TRUE(form->GoBtn->isEnabled());
}

TEST_F(CrawlWindowTest, QuestionsAnsweredYesAndNo) {
  SiteServer site(Site());
  auto form = Create();
  form->URLEdit->setText(FromCp1252(site.Root() + "s/index.html"));
  dialogs.Answers = {TAnswer::Yes};
  form->GoBtn->click();
  ASSERT_EQ(dialogs.Questions.size(), 1u);
  EXPECT_EQ(dialogs.Questions[0].Caption, "Frage");
  EXPECT_EQ(dialogs.Questions[0].Text,
            "Soll der Link zu \"" + site.Root() + "\" weiterverfolgt werden?");
  EXPECT_EQ(dialogs.Questions[0].Buttons, TQuestionButtons::YesNo);
  EXPECT_TRUE(form->Words().FindWord("Ausland"));

  // A second run (the start button needs a change of the address first);
  // No declines the directory.
  form->Words().ClearWords();
  EXPECT_FALSE(form->GoBtn->isEnabled());
  form->URLEdit->clear();
  form->URLEdit->setText(FromCp1252(site.Root() + "s/index.html"));
  dialogs.Answers = {TAnswer::No};
  form->GoBtn->click();
  EXPECT_EQ(dialogs.Questions.size(), 2u);
  EXPECT_FALSE(form->Words().FindWord("Ausland"));
  EXPECT_EQ(Log(*form).back(), "Done! (2 html files found...)...");
}

TEST_F(CrawlWindowTest, DuringARunOnlyTheAbortButtonsWorkAndAbbrechenEndsIt) {
  SiteServer site(Pages{{"/1.html", "<p>eins</p><a href=2.html>2</a><a href=3.html>3</a>"},
                        {"/3.html", "<p>drei</p>"}},
                  "/2.html");
  auto form = Create();
  form->Autosaug->setChecked(true);
  form->URLEdit->setText(FromCp1252(site.Root() + "1.html"));
  std::vector<bool> during;
  site.WhenRequested("/2.html", [&] {
    for (QPushButton* button :
         {form->GoBtn, form->EndeBtn, form->AboutBtn, form->DelBtn, form->SaveBtn, form->OpenBtn,
          form->NewBtn, form->SortBtn, form->BreakBtn, form->LocalBreak2Btn}) {
      during.push_back(button->isEnabled());
    }
    // Does not enable the start button now.
    form->URLEdit->setText(form->URLEdit->text() + QLatin1Char('x'));
    during.push_back(form->GoBtn->isEnabled());
    form->BreakBtn->click();
  });
  form->GoBtn->click();
  site.Release();
  EXPECT_EQ(during, (std::vector<bool>{false, false, false, false, false, false, false, false, true,
                                       true, false}));
  EXPECT_EQ(Log(*form), (Lines{site.Root() + "1.html", site.Root() + "2.html", "HTTP Fehler: 3",
                               "Error...", "Done! (1 html files found...)..."}));
  EXPECT_FALSE(form->Words().FindWord("drei"));
  EXPECT_TRUE(form->Words().FindWord("eins"));
}

// Space on the focused start button begins the run; the button goes grey,
// and the focus must not land on the check box, where the next Space would
// switch the automatic mode off in the middle of the run.
TEST_F(CrawlWindowTest, ASecondSpaceDuringTheRunLeavesTheAutomaticModeAlone) {
  SiteServer site(Pages{{"/1.html", "<p>eins</p><a href=2.html>2</a>"}}, "/2.html");
  auto form = Create();
  form->activateWindow();  // without a window manager nothing else does
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get(), 5000));
  form->Autosaug->setChecked(true);
  form->URLEdit->setText(FromCp1252(site.Root() + "1.html"));
  form->GoBtn->setFocus();
  QWidget* focusDuring = nullptr;
  QTimer stalled;  // looks at what the server has seen, not at the clock
  QObject::connect(&stalled, &QTimer::timeout, [&] {
    if (focusDuring || site.Requested().size() < 2) return;
    focusDuring = QApplication::focusWidget();
    if (focusDuring) QTest::keyClick(focusDuring, Qt::Key_Space);
    form->BreakBtn->click();
  });
  stalled.start(5);
  QTest::keyClick(form->GoBtn, Qt::Key_Space);
  stalled.stop();
  site.Release();
  EXPECT_EQ(site.Requested(), (Lines{"/1.html", "/2.html"}));
  EXPECT_EQ(focusDuring, form->Memo1);
  EXPECT_TRUE(form->Autosaug->isChecked());
  EXPECT_EQ(Log(*form).back(), "Done! (1 html files found...)...");
}

TEST_F(CrawlWindowTest, ConfirmedCloseDuringARunStopsIt) {
  SiteServer site(
      Pages{{"/1.html", "<a href=2.html>2</a><a href=3.html>3</a>"}, {"/3.html", "<p>drei</p>"}},
      "/2.html");
  auto form = Create();
  form->Autosaug->setChecked(true);
  form->URLEdit->setText(FromCp1252(site.Root() + "1.html"));
  site.WhenRequested("/2.html", [&] {
    dialogs.Answers = {TAnswer::Yes};
    form->close();
  });
  form->GoBtn->click();
  site.Release();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(Log(*form).back(), "Done! (1 html files found...)...");
  EXPECT_FALSE(form->Words().FindWord("drei"));
}

// While a page's data keeps coming as fast as the connection takes it (an
// endless body, endless header lines), the window goes on: its log shows the
// page being fetched, and "Abbrechen" ends the run.
TEST_F(CrawlWindowTest, TheWindowStaysLiveAndAbbrechenWorksWhilePageDataKeepsArriving) {
  for (testpeer::TFlood kind : {testpeer::TFlood::Body, testpeer::TFlood::HeaderLines}) {
    SiteServer site(Pages{{"/1.html", "<p>eins</p><a href=flood.html>f</a><a href=3.html>3</a>"},
                          {"/3.html", "<p>drei</p>"}});
    site.Flood("/flood.html", kind);
    auto form = Create();
    form->Autosaug->setChecked(true);
    form->URLEdit->setText(FromCp1252(site.Root() + "1.html"));
    // Once the flood is under way, watch the log (a timer runs only while the
    // window's events are handled) and press "Abbrechen" when it shows the page.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (!form->Memo1->toPlainText().contains(FromCp1252(site.Root() + "flood.html"))) return;
      watch.stop();
      form->BreakBtn->click();
    });
    site.WhenFlooded(std::int64_t{1} << 20, [&] { watch.start(10); });
    form->GoBtn->click();
    EXPECT_EQ(Log(*form),
              (Lines{site.Root() + "1.html", site.Root() + "flood.html", "HTTP Fehler: 3",
                     "Error...", "Done! (1 html files found...)..."}));
    EXPECT_TRUE(testpeer::WaitUntil([&] { return site.FloodCutOff(); })) << site.FloodSent();
    EXPECT_FALSE(form->Words().FindWord("drei"));
  }
}

TEST_F(CrawlWindowTest, CrawlsTheNginxSiteAskingOnce) {
  testsupport::NginxServer web;
  for (const auto& [path, body] : testsite::FixtureSite()) web.AddFile(path, body);
  web.Start();
  auto form = Create();
  form->URLEdit->setText(FromCp1252(web.Url("/a/index.html")));
  dialogs.Answers = {TAnswer::Yes};
  form->GoBtn->click();
  ASSERT_EQ(dialogs.Questions.size(), 1u);
  EXPECT_EQ(dialogs.Questions[0].Text,
            "Soll der Link zu \"" + web.Url("/") + "\" weiterverfolgt werden?");
  EXPECT_EQ(Log(*form).back(), "Done! (8 html files found...)...");
  EXPECT_TRUE(form->Words().FindWord("Ausland"));
  EXPECT_TRUE(form->Words().FindWord("Rahmen"));
}

// TIRASEL_PARALLEL lets the window fetch ahead: the same log, questions and
// list as one request at a time.
TEST_F(CrawlWindowTest, TiraselParallelFetchesAheadWithTheSameResults) {
  testsupport::NginxServer web;
  for (const auto& [path, body] : testsite::FixtureSite()) web.AddFile(path, body);
  web.Start();
  std::vector<Lines> logs, words;
  for (const char* parallel : {"1", "6"}) {
    ::setenv("TIRASEL_PARALLEL", parallel, 1);
    auto form = Create();
    ::unsetenv("TIRASEL_PARALLEL");
    form->URLEdit->setText(FromCp1252(web.Url("/a/index.html")));
    dialogs.Answers = {TAnswer::Yes};
    form->GoBtn->click();
    logs.push_back(Log(*form));
    Lines list;
    for (const WordEntry& entry : form->Words().Entries()) list.push_back(entry.Caption);
    words.push_back(list);
  }
  ASSERT_EQ(dialogs.Questions.size(), 2u);
  EXPECT_EQ(dialogs.Questions[0].Text, dialogs.Questions[1].Text);
  EXPECT_EQ(logs[0], logs[1]);
  EXPECT_EQ(logs[0].back(), "Done! (8 html files found...)...");
  EXPECT_EQ(words[0], words[1]);
}

// TIRASEL_WARC records the window's runs; TIRASEL_FROM_WARC replays one from
// the archive with the same log, questions and list, asking no server.
TEST_F(CrawlWindowTest, ARunRecordedWithTiraselWarcReplaysFromTheArchive) {
  TTempDir dir;
  const std::string archive = dir.Path("lauf.warc.gz");
  std::vector<Lines> logs, words;
  std::string start;
  for (const char* variable : {"TIRASEL_WARC", "TIRASEL_FROM_WARC"}) {
    std::optional<testsupport::NginxServer> web;
    if (logs.empty()) {
      web.emplace();
      for (const auto& [path, body] : testsite::FixtureSite()) web->AddFile(path, body);
      web->Start();
      start = web->Url("/a/index.html");
    }
    ::setenv(variable, archive.c_str(), 1);
    auto form = Create();
    form->URLEdit->setText(FromCp1252(start));
    dialogs.Answers = {TAnswer::Yes};
    form->GoBtn->click();
    ::unsetenv(variable);
    logs.push_back(Log(*form));
    Lines list;
    for (const WordEntry& entry : form->Words().Entries()) list.push_back(entry.Caption);
    words.push_back(list);
  }
  ASSERT_EQ(dialogs.Questions.size(), 2u);
  EXPECT_EQ(dialogs.Questions[0].Text, dialogs.Questions[1].Text);
  EXPECT_EQ(logs[0].back(), "Done! (8 html files found...)...");
  EXPECT_EQ(logs[1], logs[0]);
  EXPECT_EQ(words[1], words[0]);
}

// The window verifies always; a private CA is trusted through SSL_CERT_FILE.
TEST_F(CrawlWindowTest, HarvestsAnHttpsSiteAndAPlainSiteRelocatingToIt) {
  testsupport::NginxServer web;
  testsite::StartHttpsFixtureSite(web);
  ::setenv("SSL_CERT_FILE", testsupport::TestCertificates::Shared().CaFile().c_str(), 1);
  std::vector<Lines> logs;
  std::vector<size_t> counts;
  for (const std::string& root : {web.TlsUrl("/"), web.Url("/")}) {
    auto form = Create();
    form->Autosaug->setChecked(true);
    form->URLEdit->setText(FromCp1252(root + "a/index.html"));
    form->GoBtn->click();
    Lines log = Log(*form);
    // The plain site relocates to https: its pages are then the https ones.
    for (std::string& line : log) {
      for (const std::string& prefix : {web.TlsUrl("/"), web.Url("/")}) {
        if (line.starts_with(prefix)) line = "/" + line.substr(prefix.size());
      }
    }
    logs.push_back(log);
    counts.push_back(form->Words().WordCount());
    EXPECT_TRUE(form->Words().FindWord("Rahmen"));
  }
  ::unsetenv("SSL_CERT_FILE");
  EXPECT_EQ(logs[0], logs[1]);
  EXPECT_EQ(logs[0].back(), "Done! (7 html files found...)...");
  EXPECT_EQ(counts[0], counts[1]);
}

// The German words of a UTF-8 page are the words of its Windows-1252 twin,
// on screen and in the saved file.
TEST_F(CrawlWindowTest, GermanUtf8PageShowsAndSavesTheSameWordsAsItsWindows1252Twin) {
  testsupport::NginxServer web;
  testsite::ServeCharsetPages(web);
  web.Start();
  std::vector<std::string> screens, files;
  for (const char* page : {"/ohne.html", "/kopf.html", "/bom.html", "/roh.html"}) {
    auto form = Create();
    form->Autosaug->setChecked(true);
    form->URLEdit->setText(FromCp1252(web.Url(page)));
    form->GoBtn->click();
    QAbstractItemModel* model = form->ListView1->model();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount() == 14; }, 5000)) << page;
    QStringList shown;
    for (int row = 0; row < model->rowCount(); ++row)
      shown << model->index(row, 0).data().toString();
    screens.push_back(shown.join(QLatin1Char(' ')).toStdString());
    dialogs.Files = {dir.Path("saved.txt")};
    form->SaveBtn->click();
    files.push_back(dir.Read("saved.txt"));
  }
  EXPECT_EQ(screens[0],
            "Seite Wir k\u00F6nnen die Stra\u00DF"
            "e nicht \u00FC"
            "berm\u00E4\u00DFig sperren sagen "
            "B\u00E4ren \u201Eheute\u201C f\u00FCr 5 \u20AC");
  EXPECT_EQ(files[0],
            "Seite\r\nWir\r\nk\xF6nnen\r\ndie\r\nStra\xDF"
            "e\r\nnicht\r\n\xFC"
            "berm\xE4\xDFig\r\nsperren\r\n"
            "sagen\r\nB\xE4ren\r\n\x84heute\x93\r\nf\xFCr\r\n5\r\n\x80\r\n");
  for (size_t i = 1; i < screens.size(); ++i) {
    EXPECT_EQ(screens[i], screens[0]) << i;
    EXPECT_EQ(files[i], files[0]) << i;
  }
}

TEST_F(CrawlWindowTest, OpenReadsUtf8ListsAndSaveKeepsWindows1252) {
  auto form = Create();
  dir.Write("utf8.txt", "k\xC3\xB6nnen\n" + testsite::kForeignUtf8.substr(0, 6) + "\n");
  dialogs.Files = {dir.Path("utf8.txt"), dir.Path("saved.txt")};
  form->OpenBtn->click();
  EXPECT_EQ(ToCp1252(form->ListView1->model()->index(0, 0).data().toString()), "k\xF6nnen");
  form->SaveBtn->click();
  EXPECT_EQ(dir.Read("saved.txt"), "k\xF6nnen\r\n&#1084;&#1080;&#1088;\r\n");
}

}  // namespace
