#include "UserDialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>
#include <memory>

#include "Cp1252.h"

namespace {

// The filter entries as the dialogs show them: the text before the last
// parentheses, with HideNameFilterDetails. The last parentheses hold what an
// entry matches: "*.*" would hide every name without a dot outside Windows.
const char* const kTextFilesFilter = "Text Dateien (*.txt) (*.txt)";
const char* const kAllFilesFilter = "Alle Dateien (*.*) (*)";
const char* const kDefaultExtension = "txt";

// Qt's own dialog: the same on every desktop and under Xvfb.
void ConfigureFileDialog(QFileDialog& dialog) {
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  dialog.setNameFilters(
      {QString::fromLatin1(kTextFilesFilter), QString::fromLatin1(kAllFilesFilter)});
  dialog.selectNameFilter(QString::fromLatin1(kTextFilesFilter));
  dialog.setSizeGripEnabled(true);
}

// The open dialog finds the file itself (OpenedFileName): Qt's default
// suffix would turn a typed "liste" into "liste.txt" even where "liste"
// exists, and its existing-file mode would refuse a typed name that only
// the default extension completes. So it asks for any name and checks here.
class TOpenListDialog : public QFileDialog {
 public:
  explicit TOpenListDialog(QWidget* parent) : QFileDialog(parent) {
    setAcceptMode(AcceptOpen);
    setFileMode(AnyFile);
    ConfigureFileDialog(*this);
  }

  // Goes on (into a directory, or closing with the file) only when the
  // chosen name leads to something that exists; otherwise says so and stays.
  void accept() override {
    QStringList chosen = selectedFiles();
    if (chosen.size() == 1 && !QFileInfo::exists(OpenedFileName(chosen.first()))) {
      QString message = tr("%1\nFile not found.\nPlease verify the correct file name was given.");
      QString name = QFileInfo(chosen.first()).fileName();
      QMessageBox::warning(this, windowTitle(), message.arg(name));
      return;
    }
    QFileDialog::accept();
  }
};

}  // namespace

QFileDialog* MakeOpenDialog(QWidget* parent) { return new TOpenListDialog(parent); }

QFileDialog* MakeSaveDialog(QWidget* parent) {
  auto* dialog = new QFileDialog(parent);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  ConfigureFileDialog(*dialog);
  dialog->setDefaultSuffix(QString::fromLatin1(kDefaultExtension));
  dialog->setOption(QFileDialog::DontConfirmOverwrite, false);
  return dialog;
}

QString OpenedFileName(const QString& path) {
  if (QFileInfo::exists(path)) return path;
  QFileInfo info(path);
  if (info.fileName().isEmpty() || info.fileName().contains(QLatin1Char('.'))) return path;
  QString withExtension = path + QLatin1Char('.') + QString::fromLatin1(kDefaultExtension);
  return QFileInfo::exists(withExtension) ? withExtension : path;
}

TAnswer TQtDialogs::Ask(const std::string& caption, const std::string& text,
                        TQuestionButtons buttons) {
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

std::optional<QString> TQtDialogs::RunFileDialog(QFileDialog* dialog) {
  std::unique_ptr<QFileDialog> owned(dialog);
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return std::nullopt;
  return dialog->selectedFiles().first();
}

std::optional<std::string> TQtDialogs::ChooseFileToOpen() {
  std::optional<QString> chosen = RunFileDialog(MakeOpenDialog(parent_));
  if (!chosen) return std::nullopt;
  return QFile::encodeName(OpenedFileName(*chosen)).toStdString();
}

std::optional<std::string> TQtDialogs::ChooseFileToSave() {
  std::optional<QString> chosen = RunFileDialog(MakeSaveDialog(parent_));
  if (!chosen) return std::nullopt;
  return QFile::encodeName(*chosen).toStdString();
}

void TQtDialogs::ShowModal(QDialog& dialog) { dialog.exec(); }

void TQtDialogs::OpenWebAddress(const std::string& address) {
  QDesktopServices::openUrl(QUrl(FromCp1252(address)));
}
