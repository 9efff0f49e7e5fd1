#include "UserDialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>
#include <memory>

#include "Cp1252.h"

namespace {

const char* const kFileFilter = "Text Dateien (*.txt);;Alle Dateien (*.*)";

QFileDialog* MakeFileDialog(QWidget* parent, QFileDialog::AcceptMode mode) {
  auto* dialog = new QFileDialog(parent);
  dialog->setAcceptMode(mode);
  dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog->setNameFilter(QString::fromLatin1(kFileFilter));
  dialog->selectNameFilter(QStringLiteral("Text Dateien (*.txt)"));
  dialog->setDefaultSuffix(QStringLiteral("txt"));
  // Qt's own dialog: the same on every desktop and under Xvfb.
  dialog->setOption(QFileDialog::DontUseNativeDialog, true);
  dialog->setOption(QFileDialog::DontConfirmOverwrite, false);
  dialog->setSizeGripEnabled(true);
  return dialog;
}

}  // namespace

QFileDialog* MakeOpenDialog(QWidget* parent) { return MakeFileDialog(parent, QFileDialog::AcceptOpen); }
QFileDialog* MakeSaveDialog(QWidget* parent) { return MakeFileDialog(parent, QFileDialog::AcceptSave); }

TAnswer TQtDialogs::Ask(const std::string& caption, const std::string& text, TQuestionButtons buttons) {
  bool withCancel = buttons == TQuestionButtons::YesNoCancel;
  QMessageBox box(QMessageBox::Question, FromCp1252(caption), FromCp1252(text),
                  withCancel ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel
                             : QMessageBox::Yes | QMessageBox::No,
                  parent_);
  box.setEscapeButton(withCancel ? QMessageBox::Cancel : QMessageBox::No);
  int pressed = box.exec();
  if (pressed == QMessageBox::Yes) return TAnswer::Yes;
  if (pressed == QMessageBox::No) return TAnswer::No;
  return withCancel ? TAnswer::Cancel : TAnswer::No;
}

void TQtDialogs::ShowError(const std::string& text) {
  QMessageBox::critical(parent_, QApplication::applicationName(), FromCp1252(text));
}

std::optional<std::string> TQtDialogs::RunFileDialog(QFileDialog* dialog) {
  std::unique_ptr<QFileDialog> owned(dialog);
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return std::nullopt;
  return QFile::encodeName(dialog->selectedFiles().first()).toStdString();
}

std::optional<std::string> TQtDialogs::ChooseFileToOpen() { return RunFileDialog(MakeOpenDialog(parent_)); }
std::optional<std::string> TQtDialogs::ChooseFileToSave() { return RunFileDialog(MakeSaveDialog(parent_)); }

void TQtDialogs::ShowModal(QDialog& dialog) { dialog.exec(); }

void TQtDialogs::OpenWebAddress(const std::string& address) {
  QDesktopServices::openUrl(QUrl(FromCp1252(address)));
}
