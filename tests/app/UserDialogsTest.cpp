#include "UserDialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "Cp1252.h"

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
  EXPECT_EQ(caption, "Neue Liste");
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
    EXPECT_EQ(dialog->nameFilters(), (QStringList{"Text Dateien (*.txt)", "Alle Dateien (*.*)"}));
    EXPECT_EQ(dialog->selectedNameFilter(), "Text Dateien (*.txt)");
    EXPECT_EQ(dialog->defaultSuffix(), "txt");
  }
  EXPECT_EQ(open->acceptMode(), QFileDialog::AcceptOpen);
  EXPECT_EQ(open->fileMode(), QFileDialog::ExistingFile);
  EXPECT_EQ(save->acceptMode(), QFileDialog::AcceptSave);
  EXPECT_FALSE(save->testOption(QFileDialog::DontConfirmOverwrite));  // asks before overwriting
}
