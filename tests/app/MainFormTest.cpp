#include "MainUnit.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>

#include "AboutBoxUnit.h"
#include "Cp1252.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "WordListView.h"

namespace {

class MainFormTest : public ::testing::Test {
 protected:
  std::unique_ptr<TMainForm> Create() { return std::make_unique<TMainForm>(dir.Path("tirasel"), &dialogs); }
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
  static std::vector<int> SelectedRows(TMainForm& form) {
    std::vector<int> rows;
    for (const QModelIndex& index : form.ListView1->selectionModel()->selectedRows()) rows.push_back(index.row());
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

TEST_F(MainFormTest, ControlsAsDesigned) {
  auto form = Create();
  EXPECT_EQ(form->windowTitle(), "Brennick Web Tirasel 1.0");
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
      {form->OpenBtn, "Liste \xD6""ffnen (weitersaugen)...", {8, 120, 185, 33}, true},
      {form->SaveBtn, "Liste speichern...", {200, 120, 177, 33}, true},
      {form->NewBtn, "Liste neu...", {384, 120, 185, 33}, true},
      {form->DelBtn, "Markierte eintr\xE4ge l\xF6schen", {384, 160, 185, 33}, true},
      {form->EndeBtn, "Beenden", {384, 8, 185, 33}, true},
      {form->AboutBtn, "\xDC""ber das Programm", {384, 48, 185, 33}, true},
      {form->SortBtn, "Liste sortieren", {200, 160, 177, 33}, true},
  };
  for (const Expected& row : table) {
    QString text;
    if (auto* button = qobject_cast<QAbstractButton*>(row.control)) {
      text = button->text();
      EXPECT_FALSE(button->icon().isNull()) << row.text;
    } else {
      text = qobject_cast<QLineEdit*>(row.control)->text();
    }
    EXPECT_EQ(ToCp1252(text), row.text);
    EXPECT_EQ(row.control->geometry(), row.geometry) << row.text;
    EXPECT_EQ(row.control->isEnabled(), row.enabled) << row.text;
  }
  EXPECT_EQ(ToCp1252(form->Label1->text()), "Webadresse:");
  EXPECT_EQ(ToCp1252(form->Label2->text()), "Proxy (optional):");
  EXPECT_EQ(form->Label3->text(), "");
  EXPECT_EQ(form->RxLabel2->text(), "Statusmeldungen:");
  EXPECT_FALSE(form->Autosaug->isChecked());
  EXPECT_FALSE(form->Memo1->isReadOnly());
  EXPECT_EQ(form->ListView1->model()->headerData(0, Qt::Horizontal).toString(), "Wort");
  EXPECT_EQ(form->ListView1->columnWidth(0), 500);
  EXPECT_EQ(form->ListView1->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(form->ListView1->selectionBehavior(), QAbstractItemView::SelectRows);
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
  std::vector<QWidget*> expected = {form->Memo1,   form->URLEdit,  form->ProxyEdit,      form->GoBtn,
                                    form->Autosaug, form->BreakBtn, form->LocalBreak2Btn, form->OpenBtn,
                                    form->SaveBtn, form->NewBtn,   form->DelBtn,         form->EndeBtn,
                                    form->AboutBtn, form->SortBtn, form->ListView1};
  std::vector<QWidget*> chain;
  QWidget* at = form->Memo1;
  for (int step = 0; step < 500 && chain.size() < expected.size(); ++step) {
    if (std::find(expected.begin(), expected.end(), at) != expected.end()) chain.push_back(at);
    at = at->nextInFocusChain();
  }
  EXPECT_EQ(chain, expected);
}

TEST_F(MainFormTest, StartButtonFollowsTheAddressAndEachChangeSaves) {
  auto form = Create();
  EXPECT_FALSE(dir.Exists("options.dat"));  // nothing written at start
  form->URLEdit->clear();
  EXPECT_FALSE(form->GoBtn->isEnabled());
  EXPECT_EQ(Options(), std::string("\0\0\0", 3));
  form->URLEdit->setText("x");
  EXPECT_TRUE(form->GoBtn->isEnabled());
  EXPECT_EQ(Options(), std::string("\0\1x\0", 4));
  form->URLEdit->setText("   ");
  EXPECT_TRUE(form->GoBtn->isEnabled());
}

TEST_F(MainFormTest, DuringACrawlTheStartButtonStaysOffUntilTheAddressChangesAfterIt) {
  auto form = Create();
  form->EnterCrawlState();
  for (QPushButton* off : {form->GoBtn, form->EndeBtn, form->AboutBtn, form->DelBtn, form->SaveBtn, form->OpenBtn,
                           form->NewBtn, form->SortBtn}) {
    EXPECT_FALSE(off->isEnabled());
  }
  EXPECT_TRUE(form->BreakBtn->isEnabled());
  EXPECT_TRUE(form->LocalBreak2Btn->isEnabled());
  form->URLEdit->setText("http://a/");
  EXPECT_FALSE(form->GoBtn->isEnabled());
  EXPECT_EQ(Options(), std::string("\0\x09http://a/\0", 12));  // still saved
  form->LeaveCrawlState();
  EXPECT_FALSE(form->GoBtn->isEnabled());
  EXPECT_FALSE(form->BreakBtn->isEnabled());
  EXPECT_TRUE(form->SortBtn->isEnabled());
  form->URLEdit->setText("http://b/");
  EXPECT_TRUE(form->GoBtn->isEnabled());
}

TEST_F(MainFormTest, SettingsAreRewrittenOnEveryChangeAndComeBackAfterARestart) {
  {
    auto form = Create();
    form->Autosaug->setChecked(true);
    EXPECT_EQ(Options()[0], '\1');
    form->URLEdit->setText(QString(20, 'u'));
    form->ProxyEdit->setFocus();
    QTest::keyClicks(form->ProxyEdit, "p:808");
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
  form->URLEdit->setText(QString(300, 'a'));  // the field takes no more than the file holds
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
      {"", false, kMakerWebSite},                                   // empty file
      {std::string("\1\x0A" "abc", 5), true, kMakerWebSite},        // address cut short
      {std::string("\1\3abc\4pr", 8), true, "abc"},                 // proxy cut short
      {std::string("\0\3abc", 5), false, "abc"},                    // proxy length missing
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
    form->ProxyEdit->setText("q");  // later changes are saved again
    EXPECT_EQ(Options(), EncodeOptionsForTest(c.ticked, c.address, "q"));
  }
}
