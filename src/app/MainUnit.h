// The main window "Brennick Web Tirasel 1.0": address and proxy fields, the
// automatic mode, the command buttons, the word list, the status log and the
// status bar. It owns the word list and keeps its three settings in
// options.dat, beside the program or in the user's configuration directory
// (SettingsLocation.h).
#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "CrawlRun.h"
#include "WarcRecorder.h"
#include "HttpProt.h"
#include "SettingsLocation.h"
#include "UserDialogs.h"
#include "WordList.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class TAboutBox;
class TProgressPanel;
class TWordListView;

// The directory part of the executable's path, up to and including its
// last '/' ("./" for a bare name).
std::string ProgramDirOf(const std::string& executablePath);

// The requests the window's run keeps in flight, from the environment
// variable TIRASEL_PARALLEL (its value, or nullptr when it is not set): a
// number from 2 to kMaxWindowParallel; anything else keeps the window's run
// at one request at a time.
constexpr size_t kMaxWindowParallel = 64;
size_t WindowParallel(const char* setting);

// The HTTP version of the window's requests, from the environment variable
// TIRASEL_HTTP: "1.1" (persistent connections and compressed answers, as
// the command line fetches), else "1.0", a connection per request.
std::string WindowHttpVersion(const char* setting);

// The web archives the window's runs take their pages from, from the
// environment variable TIRASEL_FROM_WARC (files separated by colons; empty
// or not set: none, the network).
std::vector<std::string> WindowArchives(const char* setting);

// The start address shown until the settings file says otherwise, and the
// maker's web site the about dialog opens.
inline constexpr const char* kMakerWebSite = "http://www.brennick.example/";

class TMainForm : public QWidget, public TCrawlEvents {
  Q_OBJECT
 public:
  // `executablePath` locates options.dat; `dialogs` answers the questions
  // (nullptr: real message boxes and file dialogs).
  explicit TMainForm(const std::string& executablePath, TUserDialogs* dialogs = nullptr);
  ~TMainForm() override;

  // Creates the hidden about dialog, once, after the window.
  void CreateAboutBox();
  WordList& Words() { return words_; }

  // TCrawlEvents: what the crawl run reports to the window and asks of it.
  // Busy(true) disables every button but the two that stop the run and
  // clears the log; Busy(false) turns the buttons back.
  void Busy(bool busy) override;
  void Log(const std::string& line) override;
  void WordAdded(size_t count) override;
  // The run's progress: the status bar's panels.
  void Progress(const TCrawlProgress& progress) override;
  std::string Proxy() override;
  bool AutomaticMode() override;
  bool AskYesNo(const std::string& caption, const std::string& text) override;
  void ProcessPendingEvents() override;
  // Shows the log lines, the count and the progress still waiting to be shown.
  void FlushDisplay();
  // What "&Saugen..." starts: the address, proxy and automatic mode of the
  // fields, the crawl's HTTP settings, and the environment's settings.
  TCrawlStart CrawlStart();

  // Controls, named as in the designed window.
  QWidget* Panel18;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLineEdit* URLEdit;
  QLineEdit* ProxyEdit;
  QPushButton* GoBtn;
  QCheckBox* Autosaug;
  QPushButton* BreakBtn;
  QPushButton* LocalBreak2Btn;
  QPushButton* OpenBtn;
  QPushButton* SaveBtn;
  QPushButton* NewBtn;
  QPushButton* DelBtn;
  QPushButton* EndeBtn;
  QPushButton* AboutBtn;
  QPushButton* SortBtn;
  TWordListView* ListView1;
  QWidget* Panel12;
  QWidget* Panel15;
  QLabel* RxLabel2;
  QPlainTextEdit* Memo1;
  QStatusBar* StatusBar1;
  TProgressPanel* PagesPanel;  // the status bar's first panel: pages fetched, queue left
  TProgressPanel* WordsPanel;  // the second: words in the list
  TAboutBox* AboutBox = nullptr;

  std::unique_ptr<TCrawlRun> CrawlRun;  // what "&Saugen..." does
  // The web archive every run's requests and answers go to, opened at the
  // first run when the environment variable TIRASEL_WARC names it.
  std::unique_ptr<TWarcWriter> Warc;
  std::unique_ptr<TWarcRecorder> WarcRecorder;
  // The cookies of the last run over HTTP/1.1 (TIRASEL_HTTP); each run
  // starts with none.
  std::unique_ptr<TCookieJar> Cookies;

  std::string ProgramDir;
  TSettingsPlace Settings;  // where options.dat is read and written, chosen at creation
  bool Loading = false;
  int ProgressPercent = 0;  // the status bar's bars; nothing changes it

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildPanel18();
  void BuildListView();
  void BuildPanel12();
  void BuildStatusBar();
  void SetTabOrder();
  void ConnectHandlers();
  // Runs a handler; a failure escaping it is shown in an error box and the
  // window stays usable.
  void Guarded(const std::function<void()>& handler);

  void FormCreate(const std::string& executablePath);
  bool FormCloseQuery();
  void URLEditChange();
  void ProxyEditChange();
  void AutosaugClick();
  void GoBtnClick();
  void BreakBtnClick();
  void BreakLocalBtnClick();
  void OpenBtnClick();
  void SaveBtnClick();
  void NewBtnClick();
  void DelBtnClick();
  void SortBtnClick();
  void EndeBtnClick();
  void AboutBtnClick();
  void OpenOptions();
  void SaveOptions();
  void SetButtonEnabled(QPushButton* button, bool enabled);
  void SetCountLabel(const std::string& text);
  void ClearLog();

  WordList words_;
  void ScheduleDisplay();

  static constexpr int kDisplayDelayMs = 50;
  QStringList pendingLog_;
  std::optional<QString> pendingCount_;
  std::optional<TCrawlProgress> pendingProgress_;
  bool displayScheduled_ = false;
  std::unique_ptr<TUserDialogs> ownDialogs_;
  TUserDialogs* dialogs_;
  bool centred_ = false;
};
