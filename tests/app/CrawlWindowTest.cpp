// The whole program as a person uses it: the main window crawls a loopback
// site when "&Saugen..." is pressed; questions are answered by a script.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "Cp1252.h"
#include "MainUnit.h"
#include "FixtureSite.h"
#include "ScriptedDialogs.h"
#include "ServerFixtures.h"
#include "SiteServer.h"
#include "TempDir.h"
#include "WordListView.h"

namespace {

using testpeer::SiteServer;
using Lines = std::vector<std::string>;
using Pages = std::map<std::string, std::string>;

Pages Site() {
  return {{"/s/index.html", "<p>Hallo Welt</p><a href=\"two.html\">zwei</a><a href=\"/other/x.html\">fremd</a>"},
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
    for (const QString& line : form.Memo1->toPlainText().split('\n')) lines.push_back(ToCp1252(line));
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
  for (QPushButton* on : {form->EndeBtn, form->AboutBtn, form->DelBtn, form->SaveBtn, form->OpenBtn, form->NewBtn,
                          form->SortBtn}) {
    EXPECT_TRUE(on->isEnabled());
  }
  EXPECT_FALSE(form->BreakBtn->isEnabled());
  form->URLEdit->setText(form->URLEdit->text() + "x");
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
  EXPECT_EQ(dialogs.Questions[0].Text, "Soll der Link zu \"" + site.Root() + "\" weiterverfolgt werden?");
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
  SiteServer site(Pages{{"/1.html", "<p>eins</p><a href=2.html>2</a><a href=3.html>3</a>"}, {"/3.html", "<p>drei</p>"}},
                  "/2.html");
  auto form = Create();
  form->Autosaug->setChecked(true);
  form->URLEdit->setText(FromCp1252(site.Root() + "1.html"));
  std::vector<bool> during;
  QTimer::singleShot(300, [&] {
    for (QPushButton* button : {form->GoBtn, form->EndeBtn, form->AboutBtn, form->DelBtn, form->SaveBtn, form->OpenBtn,
                                form->NewBtn, form->SortBtn, form->BreakBtn, form->LocalBreak2Btn}) {
      during.push_back(button->isEnabled());
    }
    form->URLEdit->setText(form->URLEdit->text() + "x");  // does not enable the start button now
    during.push_back(form->GoBtn->isEnabled());
    form->BreakBtn->click();
  });
  form->GoBtn->click();
  site.Release();
  EXPECT_EQ(during, (std::vector<bool>{false, false, false, false, false, false, false, false, true, true, false}));
  EXPECT_EQ(Log(*form), (Lines{site.Root() + "1.html", site.Root() + "2.html", "HTTP Fehler: 3", "Error...",
                               "Done! (1 html files found...)..."}));
  EXPECT_FALSE(form->Words().FindWord("drei"));
  EXPECT_TRUE(form->Words().FindWord("eins"));
}

TEST_F(CrawlWindowTest, ConfirmedCloseDuringARunStopsIt) {
  SiteServer site(Pages{{"/1.html", "<a href=2.html>2</a><a href=3.html>3</a>"}, {"/3.html", "<p>drei</p>"}}, "/2.html");
  auto form = Create();
  form->Autosaug->setChecked(true);
  form->URLEdit->setText(FromCp1252(site.Root() + "1.html"));
  QTimer::singleShot(300, [&] {
    dialogs.Answers = {TAnswer::Yes};
    form->close();
  });
  form->GoBtn->click();
  site.Release();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(Log(*form).back(), "Done! (1 html files found...)...");
  EXPECT_FALSE(form->Words().FindWord("drei"));
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
  EXPECT_EQ(dialogs.Questions[0].Text, "Soll der Link zu \"" + web.Url("/") + "\" weiterverfolgt werden?");
  EXPECT_EQ(Log(*form).back(), "Done! (8 html files found...)...");
  EXPECT_TRUE(form->Words().FindWord("Ausland"));
  EXPECT_TRUE(form->Words().FindWord("Rahmen"));
}

}  // namespace
