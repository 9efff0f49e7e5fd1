// Everything the windows ask of a person: questions, error boxes, file
// choices, modal dialogs and the browser. The program uses TQtDialogs; tests
// put an answering script in its place.
#pragma once

#include <QString>
#include <optional>
#include <string>

class QDialog;
class QFileDialog;
class QWidget;

enum class TAnswer { Yes, No, Cancel };

enum class TQuestionButtons {
  YesNoCancel,  // before destructive or final actions
  YesNo,        // the link question of a crawl
};

class TUserDialogs {
 public:
  virtual ~TUserDialogs() = default;
  // A modal message box with the question icon. Closing it counts as Cancel
  // (YesNoCancel) or No (YesNo).
  virtual TAnswer Ask(const std::string& caption, const std::string& text,
                      TQuestionButtons buttons) = 0;
  // A modal error box with the failure's text.
  virtual void ShowError(const std::string& text) = 0;
  // The chosen file's path (local 8-bit bytes), nullopt when cancelled.
  virtual std::optional<std::string> ChooseFileToOpen() = 0;
  virtual std::optional<std::string> ChooseFileToSave() = 0;
  // Shows the dialog modally and returns when it is closed.
  virtual void ShowModal(QDialog& dialog) = 0;
  // Hands a web address to the desktop's browser; failures are not reported.
  virtual void OpenWebAddress(const std::string& address) = 0;
};

// The word list file dialogs: filter "Text Dateien (*.txt)" and
// "Alle Dateien (*.*)", which matches every file, names without a dot too;
// default extension txt. The open dialog takes a name that names no file
// only as OpenedFileName finds it, and otherwise says the file is not there;
// the save dialog asks before overwriting.
QFileDialog* MakeOpenDialog(QWidget* parent);
QFileDialog* MakeSaveDialog(QWidget* parent);

// The file the open dialog opens for the chosen or typed `path`: the path
// itself when it exists, else the path with the default extension ".txt"
// when its name has no extension and that file exists, else the path as it
// is (which names nothing).
QString OpenedFileName(const QString& path);

// The real dialogs, owned by `parent`'s window.
class TQtDialogs : public TUserDialogs {
 public:
  explicit TQtDialogs(QWidget* parent) : parent_(parent) {}
  TAnswer Ask(const std::string& caption, const std::string& text,
              TQuestionButtons buttons) override;
  void ShowError(const std::string& text) override;
  std::optional<std::string> ChooseFileToOpen() override;
  std::optional<std::string> ChooseFileToSave() override;
  void ShowModal(QDialog& dialog) override;
  void OpenWebAddress(const std::string& address) override;

 private:
  // The chosen path, nullopt when cancelled.
  static std::optional<QString> RunFileDialog(QFileDialog* dialog);
  QWidget* parent_;
};
