#include "UserDialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <filesystem>
#include <functional>
#include <vector>

#include "Cp1252.h"
#include "TempDir.h"
#include "ToolkitTexts.h"

namespace {

// Waits (bounded) for the next modal message box and hands it to `act`;
// after 5 s any modal window is closed, so the test fails instead of hanging.
void WhenTheBoxOpens(std::function<void(QMessageBox&)> act) {
  auto* poll = new QTimer;
  auto tries = std::make_shared<int>(0);
  QObject::connect(poll, &QTimer::timeout, [poll, tries, act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      act(*box);
    } else if (++*tries <= 500) {
      return;
    } else if (modal) {
      modal->close();
    }
    poll->deleteLater();
  });
  poll->start(10);
}

// Takes the modal windows that open while it lives, in order: each step gets
// the topmost modal window and returns whether it was the one it waits for.
// A modal window no step takes is closed after 5 s, so that a test fails
// instead of hanging.
class TModalSteps {
 public:
  using TStep = std::function<bool(QWidget&)>;
  explicit TModalSteps(std::vector<TStep> steps) : steps_(std::move(steps)) {
    QObject::connect(&poll_, &QTimer::timeout, [this] { Poll(); });
    poll_.start(10);
  }
  bool AllTaken() const { return next_ == steps_.size(); }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    if (next_ < steps_.size() && steps_[next_](*modal)) {
      ++next_;
      tries_ = 0;
    } else if (++tries_ > 500) {
      modal->close();
      tries_ = 0;
    }
  }

  std::vector<TStep> steps_;
  size_t next_ = 0;
  int tries_ = 0;
  QTimer poll_;
};

QString Native(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

// Types `name` into the file dialog's name field in `directory` and presses
// Return, from the dialog's own event loop.
TModalSteps::TStep TypeIntoFileDialog(const std::string& directory, const QString& name) {
  return [directory, name](QWidget& modal) {
    auto* dialog = qobject_cast<QFileDialog*>(&modal);
    if (!dialog) return false;
    dialog->setDirectory(Native(directory));
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!edit) return false;
    edit->setText(name);
    QTimer::singleShot(0, edit, [edit] { QTest::keyClick(edit, Qt::Key_Return); });
    return true;
  };
}

// The names the dialog's list shows, once it shows `expected` or after 20 s.
QStringList ShownNames(QFileDialog& dialog, const QStringList& expected) {
  auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
  QStringList names;
  // The caller compares the names: a timeout shows there as a difference.
  (void)QTest::qWaitFor(
      [&] {
        names.clear();
        QAbstractItemModel* model = view->model();
        for (int row = 0; row < model->rowCount(view->rootIndex()); ++row) {
          names << model->index(row, 0, view->rootIndex()).data().toString();
        }
        names.sort();
        return names == expected;
      },
      20000);
  return names;
}

}  // namespace

TEST(QtDialogs, QuestionBoxShowsTheTextsAndReturnsTheButtonPressed) {
  TQtDialogs dialogs(nullptr);
  QString caption, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  WhenTheBoxOpens([&](QMessageBox& box) {
    caption = box.windowTitle();
    text = box.text();
    icon = box.icon();
    buttons = box.standardButtons();
    box.button(QMessageBox::No)->click();
  });
  EXPECT_EQ(dialogs.Ask("Neue Liste", "W\xF6rter?", TQuestionButtons::YesNoCancel), TAnswer::No);
  EXPECT_EQ(caption, QStringLiteral("Neue Liste"));
  EXPECT_EQ(ToCp1252(text), "W\xF6rter?");
  EXPECT_EQ(icon, QMessageBox::Question);
  EXPECT_EQ(buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);

  WhenTheBoxOpens([](QMessageBox& box) { box.reject(); });  // closed without a button
  EXPECT_EQ(dialogs.Ask("Beenden", "?", TQuestionButtons::YesNoCancel), TAnswer::Cancel);
  WhenTheBoxOpens([](QMessageBox& box) { box.reject(); });
  EXPECT_EQ(dialogs.Ask("Frage", "?", TQuestionButtons::YesNo), TAnswer::No);
  WhenTheBoxOpens([](QMessageBox& box) { box.button(QMessageBox::Yes)->click(); });
  EXPECT_EQ(dialogs.Ask("Frage", "?", TQuestionButtons::YesNo), TAnswer::Yes);
}

TEST(QtDialogs, WordListFileDialogs) {
  std::unique_ptr<QFileDialog> open(MakeOpenDialog(nullptr));
  std::unique_ptr<QFileDialog> save(MakeSaveDialog(nullptr));
  for (QFileDialog* dialog : {open.get(), save.get()}) {
    auto* filters = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    ASSERT_NE(filters, nullptr);
    ASSERT_EQ(filters->count(), 2);
    EXPECT_EQ(filters->itemText(0), QStringLiteral("Text Dateien (*.txt)"));
    EXPECT_EQ(filters->itemText(1), QStringLiteral("Alle Dateien (*.*)"));
    EXPECT_EQ(filters->currentIndex(), 0);
  }
  EXPECT_EQ(open->acceptMode(), QFileDialog::AcceptOpen);
  EXPECT_EQ(save->acceptMode(), QFileDialog::AcceptSave);
  EXPECT_EQ(save->defaultSuffix(), QStringLiteral("txt"));
  EXPECT_FALSE(save->testOption(QFileDialog::DontConfirmOverwrite));  // asks before overwriting
}

TEST(QtDialogs, AlleDateienShowsNamesWithoutADot) {
  TTempDir dir;
  for (const char* name : {"liste", "a.txt", "b.dat"}) dir.Write(name, "w\r\n");
  for (auto make : {MakeOpenDialog, MakeSaveDialog}) {
    std::unique_ptr<QFileDialog> dialog(make(nullptr));
    dialog->setDirectory(Native(dir.Path()));
    dialog->show();
    EXPECT_EQ(ShownNames(*dialog, {QStringLiteral("a.txt")}), QStringList{QStringLiteral("a.txt")});
    dialog->selectNameFilter(dialog->nameFilters().at(1));
    QStringList all = {QStringLiteral("a.txt"), QStringLiteral("b.dat"), QStringLiteral("liste")};
    EXPECT_EQ(ShownNames(*dialog, all), all);
  }
}

TEST(QtDialogs, OpenedFileNameTakesTheNameAsTypedAndElseWithTheDefaultExtension) {
  TTempDir dir;
  for (const char* name : {"liste", "liste2.txt", "beide", "beide.txt", "x.y.txt"}) {
    dir.Write(name, "");
  }
  std::filesystem::create_directory(dir.Path("ordner"));
  auto opened = [&](const char* typed) {
    return QFile::encodeName(OpenedFileName(Native(dir.Path(typed)))).toStdString();
  };
  EXPECT_EQ(opened("liste"), dir.Path("liste"));  // no extension, and none added
  EXPECT_EQ(opened("liste2"), dir.Path("liste2.txt"));
  EXPECT_EQ(opened("liste2.txt"), dir.Path("liste2.txt"));
  EXPECT_EQ(opened("beide"), dir.Path("beide"));  // the name as typed comes first
  EXPECT_EQ(opened("x.y"), dir.Path("x.y"));      // has an extension: none added
  EXPECT_EQ(opened("fehlt"), dir.Path("fehlt"));
  EXPECT_EQ(opened("*"), dir.Path("*"));
  EXPECT_EQ(opened("ordner"), dir.Path("ordner"));
}

TEST(QtDialogs, OpenDialogOpensTheTypedNameAndSaysWhenNothingIsThere) {
  TTempDir dir;
  for (const char* name : {"liste", "liste2.txt"}) dir.Write(name, "");
  TQtDialogs dialogs(nullptr);
  struct Case {
    const char* typed;
    const char* opened;
  };
  for (Case c :
       {Case{"liste", "liste"}, Case{"liste2", "liste2.txt"}, Case{"liste2.txt", "liste2.txt"}}) {
    TModalSteps steps({TypeIntoFileDialog(dir.Path(), QLatin1String(c.typed))});
    EXPECT_EQ(dialogs.ChooseFileToOpen(), dir.Path(c.opened)) << c.typed;
  }

  // A name that leads nowhere is reported under the name typed (no ".txt"
  // added), and the dialog stays open.
  for (const char* typed : {"fehlt", "*"}) {
    QString warning;
    auto closeBoxThenDialog = [&](QWidget& modal) {
      auto* box = qobject_cast<QMessageBox*>(&modal);
      if (!box) return false;
      warning = box->text();
      auto* fileDialog = qobject_cast<QFileDialog*>(box->parentWidget());
      box->accept();
      if (fileDialog) QTimer::singleShot(0, fileDialog, [fileDialog] { fileDialog->reject(); });
      return true;
    };
    TModalSteps steps({TypeIntoFileDialog(dir.Path(), QLatin1String(typed)), closeBoxThenDialog});
    EXPECT_EQ(dialogs.ChooseFileToOpen(), std::nullopt);
    EXPECT_TRUE(steps.AllTaken()) << typed;
    EXPECT_TRUE(warning.startsWith(QLatin1String(typed) + QLatin1Char('\n')))
        << warning.toStdString();
  }
}

TEST(ToolkitTexts, MessageBoxesAndFileDialogsSpeakGerman) {
  QTranslator* german = InstallGermanToolkitTexts(*QCoreApplication::instance());
  ASSERT_NE(german, nullptr) << "Qt's German catalogue (qt6-translations-l10n) is missing";
  {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Beenden"), QStringLiteral("?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text(), QStringLiteral("&Ja"));
    EXPECT_EQ(box.button(QMessageBox::No)->text(), QStringLiteral("&Nein"));
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("Abbrechen"));
    std::unique_ptr<QFileDialog> save(MakeSaveDialog(nullptr));
    EXPECT_EQ(save->labelText(QFileDialog::FileName), QStringLiteral("Datei&name:"));
    std::unique_ptr<QFileDialog> open(MakeOpenDialog(nullptr));
    EXPECT_EQ(open->labelText(QFileDialog::Accept), FromCp1252("&\xD6"
                                                               "ffnen"));
    // The open dialog's own "not found" message.
    const char* notFound = "%1\nFile not found.\nPlease verify the correct file name was given.";
    EXPECT_NE(QFileDialog::tr(notFound), QLatin1String(notFound));
  }
  QCoreApplication::removeTranslator(german);
  delete german;
}
