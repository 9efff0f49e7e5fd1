#include "MainUnit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <filesystem>

#include "AboutBoxUnit.h"
#include "Cp1252.h"
#include "FileIO.h"
#include "FileSizeLimit.h"
#include "OptionsFile.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "WordListView.h"

namespace {

class MainFormTest : public ::testing::Test {
 protected:
  std::unique_ptr<TMainForm> Create() {
    return std::make_unique<TMainForm>(dir.Path("tirasel"), &dialogs);
  }
  std::string Options() const { return dir.Read("options.dat"); }
  void SetOptions(const std::string& bytes) const { dir.Write("options.dat", bytes); }
  static std::string Text(QLineEdit* edit) { return ToCp1252(edit->text()); }
  static std::vector<std::string> Captions(const WordList& words) {
    std::vector<std::string> captions;
    for (const WordEntry& entry : words.Entries()) captions.push_back(entry.Caption);
    return captions;
  }
  static void SelectRows(TMainForm& form, std::initializer_list<int> rows) {
    QItemSelectionModel* selection = form.ListView1->selectionModel();
    selection->clearSelection();
    for (int row : rows) {
      selection->select(form.ListView1->model()->index(row, 0),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }
  // Words added one by one reach the view in groups; this delivers them now.
  static void ShowAppended(TMainForm& form) { form.ListView1->WordModel()->FlushAppends(); }
  static std::vector<int> SelectedRows(TMainForm& form) {
    std::vector<int> rows;
    for (const QModelIndex& index : form.ListView1->selectionModel()->selectedRows())
      rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  TTempDir dir;
  TScriptedDialogs dialogs;
};

using Lines = std::vector<std::string>;

}  // namespace

TEST(ProgramDir, DirectoryOfTheExecutableWithOneSlash) {
  EXPECT_EQ(ProgramDirOf("/opt/tirasel/bin/tirasel"), "/opt/tirasel/bin/");
  EXPECT_EQ(ProgramDirOf("/tirasel"), "/");
  EXPECT_EQ(ProgramDirOf("tirasel"), "./");
}

TEST(WindowParallel, OnlyANumberFromTwoTo64FetchesAhead) {
  EXPECT_EQ(WindowParallel(nullptr), 1u);
  EXPECT_EQ(WindowParallel("8"), 8u);
  EXPECT_EQ(WindowParallel("2"), 2u);
  EXPECT_EQ(WindowParallel("64"), 64u);
  for (const char* ignored : {"", "1", "0", "65", "-4", "4x", " 4", "99999999999999999999999"}) {
    EXPECT_EQ(WindowParallel(ignored), 1u) << ignored;
  }
}

TEST_F(MainFormTest, ControlsAsDesigned) {
  auto form = Create();
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Brennick Web Tirasel 1.0"));
  EXPECT_EQ(form->size(), QSize(622, 519));
  struct Expected {
    QWidget* control;
    const char* text;
    QRect geometry;
    bool enabled;
  };
  std::vector<Expected> table = {
      {form->URLEdit, kMakerWebSite, {88, 8, 289, 21}, true},
      {form->ProxyEdit, "", {88, 32, 289, 21}, true},
      {form->GoBtn, "&Saugen...", {8, 88, 97, 25}, true},
      {form->Autosaug, "Automatisch Saugen, nie den Benutzer fragen...", {8, 56, 353, 17}, true},
      {form->BreakBtn, "Abbrechen", {112, 88, 97, 25}, false},
      {form->LocalBreak2Btn, "Aktuelle Datei abbrechen", {216, 88, 161, 25}, false},
      {form->OpenBtn,
       "Liste \xD6"
       "ffnen (weitersaugen)...",
       {8, 120, 185, 33},
       true},
      {form->SaveBtn, "Liste speichern...", {200, 120, 177, 33}, true},
      {form->NewBtn, "Liste neu...", {384, 120, 185, 33}, true},
      {form->DelBtn, "Markierte eintr\xE4ge l\xF6schen", {384, 160, 185, 33}, true},
      {form->EndeBtn, "Beenden", {384, 8, 185, 33}, true},
      {form->AboutBtn,
       "\xDC"
       "ber das Programm",
       {384, 48, 185, 33},
       true},
      {form->SortBtn, "Liste sortieren", {200, 160, 177, 33}, true},
  };
  for (const Expected& row : table) {
    QString text;
    if (auto* button = qobject_cast<QAbstractButton*>(row.control)) {
      text = button->text();
      if (qobject_cast<QPushButton*>(button)) {
        EXPECT_FALSE(button->icon().isNull()) << row.text;
      }
    } else {
      text = qobject_cast<QLineEdit*>(row.control)->text();
    }
    EXPECT_EQ(ToCp1252(text), row.text);
    EXPECT_EQ(row.control->geometry(), row.geometry) << row.text;
    EXPECT_EQ(row.control->isEnabled(), row.enabled) << row.text;
  }
  EXPECT_EQ(ToCp1252(form->Label1->text()), "Webadresse:");
  EXPECT_EQ(ToCp1252(form->Label2->text()), "Proxy (optional):");
  EXPECT_EQ(form->Label3->text(), QString());
  EXPECT_EQ(form->RxLabel2->text(), QStringLiteral("Statusmeldungen:"));
  EXPECT_FALSE(form->Autosaug->isChecked());
  EXPECT_FALSE(form->Memo1->isReadOnly());
  EXPECT_EQ(form->ListView1->model()->headerData(0, Qt::Horizontal).toString(),
            QStringLiteral("Wort"));
  EXPECT_EQ(form->ListView1->columnWidth(0), 500);
  EXPECT_EQ(form->ListView1->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(form->ListView1->selectionBehavior(), QAbstractItemView::SelectRows);
}

// Whatever fonts the machine has, a label's text ends before the control to
// its right, and the check box's text fits its box.
TEST_F(MainFormTest, LabelsEndBeforeTheControlBesideThem) {
  auto form = Create();
  form->Label3->setText(FromCp1252(WordCountLabel(999999999)));
  struct Row {
    QLabel* label;
    int nextLeft;
  };
  for (Row row : {Row{form->Label1, form->URLEdit->x()}, Row{form->Label2, form->ProxyEdit->x()},
                  Row{form->Label3, form->SortBtn->x()}}) {
    int textWidth = QFontMetrics(row.label->font()).horizontalAdvance(row.label->text());
    EXPECT_LT(row.label->x() + textWidth, row.nextLeft) << ToCp1252(row.label->text());
    EXPECT_LE(textWidth, row.label->width()) << ToCp1252(row.label->text());
    EXPECT_LT(row.label->geometry().right(), row.nextLeft) << ToCp1252(row.label->text());
  }
  EXPECT_LE(form->Autosaug->sizeHint().width(), form->Autosaug->width());
}

TEST_F(MainFormTest, PanelsFollowTheWindowSize) {
  auto form = Create();
  form->resize(900, 700);
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get(), 5000));
  EXPECT_EQ(form->Panel18->geometry(), QRect(0, 0, 900, 201));
  EXPECT_EQ(form->ListView1->geometry(), QRect(0, 201, 900, 700 - 201 - 109 - 19));
  EXPECT_EQ(form->Panel12->geometry(), QRect(0, 700 - 109 - 19, 900, 109));
  EXPECT_EQ(form->Memo1->geometry(), QRect(0, 41, 900, 68));
  EXPECT_EQ(form->StatusBar1->height(), 19);
}

TEST_F(MainFormTest, TabOrderRunsFromTheLogOverTheFieldsToTheList) {
  auto form = Create();
  std::vector<QWidget*> expected = {
      form->Memo1,    form->URLEdit,        form->ProxyEdit, form->GoBtn,   form->Autosaug,
      form->BreakBtn, form->LocalBreak2Btn, form->OpenBtn,   form->SaveBtn, form->NewBtn,
      form->DelBtn,   form->EndeBtn,        form->AboutBtn,  form->SortBtn, form->ListView1};
  std::vector<QWidget*> chain;
  QWidget* at = form->Memo1;
  for (int step = 0; step < 500 && chain.size() < expected.size(); ++step) {
    if (std::find(expected.begin(), expected.end(), at) != expected.end()) chain.push_back(at);
    at = at->nextInFocusChain();
  }
  EXPECT_EQ(chain, expected);
}

// Tab in the log moves on like everywhere else instead of typing a tab.
TEST_F(MainFormTest, TabLeavesTheLogBothWays) {
  auto form = Create();
  form->show();
  form->activateWindow();  // without a window manager nothing else does
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get(), 5000));
  form->Memo1->setPlainText(QStringLiteral("Zeile"));
  form->Memo1->setFocus();
  QTest::keyClick(form->Memo1, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), form->URLEdit);
  form->Memo1->setFocus();
  QTest::keyClick(form->Memo1, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), form->ListView1);  // the chain wraps round
  EXPECT_EQ(form->Memo1->toPlainText(), QStringLiteral("Zeile"));
}

TEST_F(MainFormTest, StartButtonFollowsTheAddressAndEachChangeSaves) {
  auto form = Create();
  EXPECT_FALSE(dir.Exists("options.dat"));  // nothing written at start
  form->URLEdit->clear();
  EXPECT_FALSE(form->GoBtn->isEnabled());
  EXPECT_EQ(Options(), std::string("\0\0\0", 3));
  form->URLEdit->setText(QStringLiteral("x"));
  EXPECT_TRUE(form->GoBtn->isEnabled());
  EXPECT_EQ(Options(), std::string("\0\1x\0", 4));
  form->URLEdit->setText(QStringLiteral("   "));
  EXPECT_TRUE(form->GoBtn->isEnabled());
}

TEST_F(MainFormTest, SettingsAreRewrittenOnEveryChangeAndComeBackAfterARestart) {
  {
    auto form = Create();
    form->Autosaug->setChecked(true);
    EXPECT_EQ(Options()[0], '\1');
    form->URLEdit->setText(QString(20, QLatin1Char('u')));
    form->ProxyEdit->setFocus();
    QTest::keyClicks(form->ProxyEdit, QStringLiteral("p:808"));
    std::string expected = std::string("\1\x14") + std::string(20, 'u') + "\5p:808";
    EXPECT_EQ(Options(), expected);
  }
  auto form = Create();
  EXPECT_TRUE(form->Autosaug->isChecked());
  EXPECT_EQ(Text(form->URLEdit), std::string(20, 'u'));
  EXPECT_EQ(Text(form->ProxyEdit), "p:808");
  EXPECT_FALSE(form->Loading);
  EXPECT_TRUE(dialogs.Errors.empty());
}

TEST_F(MainFormTest, EveryByteOfTheTextsIsKept) {
  std::string address, proxy;
  for (int byte = 1; byte < 256; ++byte) address += static_cast<char>(byte);  // 255 bytes
  for (int byte = 0; byte < 128; ++byte) proxy += static_cast<char>(byte ^ 0x80);
  {
    auto form = Create();
    form->URLEdit->setText(FromCp1252(address));
    form->ProxyEdit->setText(FromCp1252(proxy));
    EXPECT_EQ(Options(), std::string("\0", 1) + "\xFF" + address + "\x80" + proxy);
  }
  auto form = Create();
  EXPECT_EQ(Text(form->URLEdit), address);
  EXPECT_EQ(Text(form->ProxyEdit), proxy);
  // The field takes no more than the file holds.
  form->URLEdit->setText(QString(300, QLatin1Char('a')));
  EXPECT_EQ(form->URLEdit->text().size(), 255);
}

TEST_F(MainFormTest, LoadingSetsTheControlsWithoutWritingTheFile) {
  std::string stored = std::string("\x05\x00\x03p:1", 6) + "trailing bytes";
  SetOptions(stored);
  auto form = Create();
  EXPECT_TRUE(form->Autosaug->isChecked());  // any non-zero flag
  EXPECT_EQ(Text(form->URLEdit), "");
  EXPECT_FALSE(form->GoBtn->isEnabled());  // an empty loaded address
  EXPECT_EQ(Text(form->ProxyEdit), "p:1");
  EXPECT_EQ(Options(), stored);
  EXPECT_TRUE(dialogs.Errors.empty());
}

TEST_F(MainFormTest, ShortSettingsFileStopsAtTheIncompleteFieldAndSaysSoOnce) {
  struct Case {
    std::string bytes;
    bool ticked;
    std::string address;
  };
  std::vector<Case> cases = {
      {"", false, kMakerWebSite},  // empty file
      {std::string("\1\x0A"
                   "abc",
                   5),
       true, kMakerWebSite},                         // address cut short
      {std::string("\1\3abc\4pr", 8), true, "abc"},  // proxy cut short
      {std::string("\0\3abc", 5), false, "abc"},     // proxy length missing
  };
  for (const Case& c : cases) {
    SetOptions(c.bytes);
    dialogs.Errors.clear();
    auto form = Create();
    EXPECT_EQ(dialogs.Errors, Lines{"Read beyond end of file"});
    EXPECT_EQ(form->Autosaug->isChecked(), c.ticked);
    EXPECT_EQ(Text(form->URLEdit), c.address);
    EXPECT_EQ(Text(form->ProxyEdit), "");
    EXPECT_EQ(Options(), c.bytes);  // loading wrote nothing
    EXPECT_FALSE(form->Loading);
    form->ProxyEdit->setText(QStringLiteral("q"));  // later changes are saved again
    EXPECT_EQ(Options(), EncodeOptions(c.ticked, c.address, "q"));
  }
}

TEST_F(MainFormTest, SettingsFileThatCannotBeCreatedIsSkippedSilently) {
  std::filesystem::create_directory(
      dir.Path("options.dat"));  // neither readable nor writable as a file
  auto form = Create();
  EXPECT_EQ(Text(form->URLEdit), kMakerWebSite);
  form->URLEdit->setText(QStringLiteral("neu"));
  form->Autosaug->setChecked(true);
  EXPECT_TRUE(dialogs.Errors.empty());
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path("options.dat")));
}

TEST_F(MainFormTest, WriteErrorIsShownAndTheWindowStaysUsable) {
  auto form = Create();
  std::filesystem::create_symlink("/dev/full", dir.Path("options.dat"));
  form->URLEdit->setText(QStringLiteral("voll"));
  ASSERT_EQ(dialogs.Errors.size(), 1u);
  EXPECT_EQ(dialogs.Errors[0], "Die Datei \"" + dir.Path("options.dat") +
                                   "\" konnte nicht gespeichert werden:\n" + ErrorText(ENOSPC));
  EXPECT_TRUE(form->GoBtn->isEnabled());  // the handler's earlier step happened
  std::filesystem::remove(dir.Path("options.dat"));
  form->URLEdit->setText(QStringLiteral("wieder"));
  EXPECT_EQ(Options(), std::string("\0\6wieder\0", 9));
}

// ---------------------------------------------------------------------------
// Word list commands through their buttons

TEST_F(MainFormTest, OpenAppendsTheChosenFileAndCancelDoesNothing) {
  auto form = Create();
  dir.Write("list.txt", "eins\r\nzwei\r\n\r\ndrei");
  form->Words().AddWord("null");
  dialogs.Files = {dir.Path("list.txt"), std::nullopt, dir.Path("missing.txt")};
  form->OpenBtn->click();
  form->OpenBtn->click();
  form->OpenBtn->click();
  EXPECT_EQ(Captions(form->Words()), (Lines{"null", "eins", "zwei", "", "drei"}));
  EXPECT_EQ(form->ListView1->model()->rowCount(), 5);
  EXPECT_EQ(ToCp1252(form->ListView1->model()->index(4, 0).data().toString()), "drei");
  EXPECT_TRUE(dialogs.Errors.empty());
  EXPECT_EQ(form->Label3->text(), QString());  // the count label belongs to the harvest
}

TEST_F(MainFormTest, SaveWritesTheListAndReportsAFileThatCannotBeWritten) {
  auto form = Create();
  for (const char* word : {"Stra\xDF"
                           "e",
                           "Weg"})
    form->Words().AddWord(word);
  dialogs.Files = {dir.Path("out.txt"), dir.Path("no/dir/out.txt"), std::nullopt};
  form->SaveBtn->click();
  EXPECT_EQ(dir.Read("out.txt"),
            "Stra\xDF"
            "e\r\nWeg\r\n");
  form->SaveBtn->click();
  EXPECT_EQ(dialogs.Errors.size(), 1u);
  form->SaveBtn->click();  // cancelled
  EXPECT_EQ(form->Words().WordCount(), 2u);
  EXPECT_TRUE(form->SortBtn->isEnabled());
}

TEST_F(MainFormTest, NewClearsOnlyOnYes) {
  auto form = Create();
  form->Words().AddWord("a");
  dialogs.Answers = {TAnswer::No, TAnswer::Cancel, TAnswer::Yes};
  form->NewBtn->click();
  form->NewBtn->click();
  EXPECT_EQ(form->Words().WordCount(), 1u);
  form->NewBtn->click();
  EXPECT_EQ(form->Words().WordCount(), 0u);
  EXPECT_EQ(form->ListView1->model()->rowCount(), 0);
  ASSERT_EQ(dialogs.Questions.size(), 3u);
  EXPECT_EQ(dialogs.Questions[0].Caption, "Neue Liste");
  EXPECT_EQ(dialogs.Questions[0].Text,
            "Wollen Sie die Liste mit den W\xF6rtern wirklich l\xF6schen?");
  EXPECT_EQ(dialogs.Questions[0].Buttons, TQuestionButtons::YesNoCancel);
}

TEST_F(MainFormTest, SelectionIsTheMarkAndDeleteRemovesTheMarkedRows) {
  auto form = Create();
  for (const char* word : {"a", "b", "c", "d", "e"}) form->Words().AddWord(word);
  ShowAppended(*form);
  SelectRows(*form, {0, 2, 4});
  EXPECT_TRUE(form->Words().IsMarked(2));
  EXPECT_FALSE(form->Words().IsMarked(1));
  SelectRows(*form, {0, 4});
  EXPECT_FALSE(form->Words().IsMarked(2));
  form->DelBtn->click();
  EXPECT_EQ(Captions(form->Words()), (Lines{"b", "c", "d"}));
  EXPECT_EQ(form->ListView1->model()->rowCount(), 3);
  EXPECT_TRUE(SelectedRows(*form).empty());
  form->ListView1->selectAll();
  form->DelBtn->click();
  EXPECT_EQ(form->Words().WordCount(), 0u);
}

TEST_F(MainFormTest, SortKeepsTheMarksWhereTheyWereAndTheViewShowsThem) {
  auto form = Create();
  for (const char* word : {"d", "B", "a", "C"}) form->Words().AddWord(word);
  ShowAppended(*form);
  SelectRows(*form, {1, 2});
  form->SortBtn->click();
  EXPECT_EQ(Captions(form->Words()), (Lines{"a", "B", "C", "d"}));
  EXPECT_EQ(SelectedRows(*form), (std::vector<int>{1, 2}));
  EXPECT_TRUE(form->Words().IsMarked(1));
  EXPECT_FALSE(form->Words().InBatch());
  EXPECT_TRUE(form->ListView1->updatesEnabled());
}

TEST_F(MainFormTest, BatchReachesTheViewAsOneReset) {
  auto form = Create();
  std::string contents;
  for (int i = 0; i < 1000; ++i) contents += "w" + std::to_string(i) + "\r\n";
  dir.Write("list.txt", contents);
  form->Words().AddWord("first");
  ShowAppended(*form);
  SelectRows(*form, {0});
  QSignalSpy inserted(form->ListView1->model(), &QAbstractItemModel::rowsInserted);
  QSignalSpy reset(form->ListView1->model(), &QAbstractItemModel::modelReset);
  dialogs.Files = {dir.Path("list.txt")};
  form->OpenBtn->click();
  EXPECT_EQ(inserted.count(), 0);
  EXPECT_EQ(reset.count(), 1);
  EXPECT_EQ(form->ListView1->model()->rowCount(), 1001);
  EXPECT_EQ(SelectedRows(*form), std::vector<int>{0});  // the mark survives the reset
  // Outside a batch, words added one by one arrive as one insertion soon after.
  for (int i = 0; i < 100; ++i) form->Words().AddWord("single" + std::to_string(i));
  EXPECT_EQ(inserted.count(), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return inserted.count() == 1; }, 5000));
  EXPECT_EQ(form->ListView1->model()->rowCount(), 1101);
  QTest::qWait(2 * TWordListModel::kAppendDelayMs);
  EXPECT_EQ(inserted.count(), 1);
}

TEST_F(MainFormTest, InPlaceEditWritesTheCaptionBack) {
  auto form = Create();
  form->Words().AddWord("alt\x81");
  form->Words().AddWord("zwei");
  ShowAppended(*form);
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get(), 5000));
  QModelIndex first = form->ListView1->model()->index(0, 0);
  form->ListView1->setCurrentIndex(first);
  form->ListView1->edit(first);
  auto* editor = form->ListView1->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(ToCp1252(editor->text()), "alt\x81");  // a byte without a character shows and stays
  editor->setText(FromCp1252("B\xE4ume\x81"));
  QTest::keyClick(editor, Qt::Key_Return);  // commits through a queued call
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->Words().WordAt(0) != "alt\x81"; }, 5000));
  EXPECT_EQ(form->Words().WordAt(0), "B\xE4ume\x81");
  EXPECT_EQ(form->Words().FindWord("b\xC4UME\x81"), 0u);
  EXPECT_EQ(form->Words().WordAt(1), "zwei");
}

// ---------------------------------------------------------------------------
// Closing, failures, crawl hooks, about

TEST_F(MainFormTest, ClosingAsksAndClosesOnlyOnYes) {
  auto form = Create();
  form->Words().AddWord("bleibt");
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get(), 5000));
  dialogs.Answers = {TAnswer::No, TAnswer::Cancel, TAnswer::Yes};
  form->EndeBtn->click();
  EXPECT_TRUE(form->isVisible());
  form->close();  // the close box, Alt+F4: the same close event
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->Words().WordCount(), 1u);
  form->close();
  EXPECT_FALSE(form->isVisible());
  ASSERT_EQ(dialogs.Questions.size(), 3u);
  EXPECT_EQ(dialogs.Questions[1].Caption, "Beenden");
  EXPECT_EQ(dialogs.Questions[1].Text, "Wollen Sie das Programm beenden?");
  EXPECT_EQ(dialogs.Questions[1].Buttons, TQuestionButtons::YesNoCancel);
}

// Records the order in which buttons change their enabled state.
class EnabledChanges : public QObject {
 public:
  std::vector<std::string> changes;

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::EnabledChange) {
      auto* button = static_cast<QPushButton*>(watched);
      changes.push_back((button->isEnabled() ? "+" : "-") + button->objectName().toStdString());
    }
    return false;
  }
};

TEST_F(MainFormTest, CrawlReachesTheWindowThroughItsInterface) {
  auto form = Create();
  TCrawlEvents& window = *form;
  form->Memo1->setPlainText(QStringLiteral("alt"));
  window.Log("vorher");
  EnabledChanges spy;
  const std::pair<QPushButton*, const char*> buttons[] = {
      {form->GoBtn, "Go"},     {form->BreakBtn, "Break"}, {form->LocalBreak2Btn, "LocalBreak"},
      {form->EndeBtn, "Ende"}, {form->AboutBtn, "About"}, {form->DelBtn, "Del"},
      {form->SaveBtn, "Save"}, {form->OpenBtn, "Open"},   {form->NewBtn, "New"},
      {form->SortBtn, "Sort"}};
  for (const auto& [button, name] : buttons) {
    button->setObjectName(QString::fromLatin1(name));
    button->installEventFilter(&spy);
  }
  window.Busy(true);
  window.Log("http://www.example.org/ \xFC");
  window.WordAdded(1);
  form->FlushDisplay();
  EXPECT_EQ(ToCp1252(form->Memo1->toPlainText()), "http://www.example.org/ \xFC");
  EXPECT_EQ(ToCp1252(form->Label3->text()), "W\xF6rtner in der Liste: 1");
  form->ProxyEdit->setText(FromCp1252("proxy\xE9"));
  EXPECT_EQ(window.Proxy(), "proxy\xE9");
  form->Autosaug->setChecked(true);
  EXPECT_TRUE(window.AutomaticMode());
  dialogs.Answers = {TAnswer::Yes};
  EXPECT_TRUE(window.AskYesNo("Frage", "?"));
  EXPECT_EQ(dialogs.Questions.back().Buttons, TQuestionButtons::YesNo);
  EXPECT_FALSE(window.AskYesNo("Frage", "?"));
  window.Busy(false);
  const std::vector<std::string> expected = {
      "-Ende", "-About", "-Del",        "-Save",  "-Open",       "-New",  "-Sort",
      "-Go",   "+Break", "+LocalBreak", "-Break", "-LocalBreak", "+Ende", "+About",
      "+Del",  "+Save",  "+Open",       "+New",   "+Sort"};
  EXPECT_EQ(spy.changes, expected);
  // "&Saugen..." waits for the address field, as before the run.
  EXPECT_FALSE(form->GoBtn->isEnabled());
}

TEST_F(MainFormTest, AboutButtonShowsTheOneAboutBox) {
  auto form = Create();
  form->CreateAboutBox();
  TAboutBox* box = form->AboutBox;
  ASSERT_NE(box, nullptr);
  QString copyright = box->Copyright->text();
  form->AboutBtn->click();
  form->AboutBtn->click();
  EXPECT_EQ(dialogs.ModalDialogs, 2);
  EXPECT_EQ(form->AboutBox, box);
  EXPECT_EQ(box->Copyright->text(), copyright);
  box->BitBtnXP1->click();
  EXPECT_EQ(dialogs.OpenedAddresses, Lines{kMakerWebSite});
}

// A save that fails on a full disk names the file and leaves the old file
// whole: the word list's and the settings file's alike.
TEST_F(MainFormTest, FailedSavesNameTheFileAndKeepTheOldOne) {
  auto form = Create();
  form->URLEdit->setText(QStringLiteral("http://alt/"));
  const std::string oldOptions = Options();
  dir.Write("list.txt", "alt\r\n");
  for (int i = 0; i < 10'000; ++i) form->Words().AddWord("Wort" + std::to_string(i));
  dialogs.Files = {dir.Path("list.txt"), dir.Path("no/dir/out.txt")};
  {
    TFileSizeLimit limit(8);  // less than either file needs
    form->SaveBtn->click();
    form->URLEdit->setText(QStringLiteral("http://neu/"));
  }
  EXPECT_EQ(dir.Read("list.txt"), "alt\r\n");
  EXPECT_EQ(Options(), oldOptions);
  ASSERT_EQ(dialogs.Errors.size(), 2u);
  EXPECT_EQ(dialogs.Errors[0], "Die Datei \"" + dir.Path("list.txt") +
                                   "\" konnte nicht gespeichert werden:\nFile too large");
  EXPECT_EQ(dialogs.Errors[1], "Die Datei \"" + dir.Path("options.dat") +
                                   "\" konnte nicht gespeichert werden:\nFile too large");
  form->SaveBtn->click();
  ASSERT_EQ(dialogs.Errors.size(), 3u);
  EXPECT_EQ(dialogs.Errors[2],
            "Die Datei \"" + dir.Path("no/dir/out.txt") +
                "\" konnte nicht gespeichert werden:\nNo such file or directory");
}
