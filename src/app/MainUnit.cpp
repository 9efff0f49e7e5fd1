#include "MainUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <charconv>
#include <cstdlib>
#include <string_view>

#include "AboutBoxUnit.h"
#include "Cp1252.h"
#include "FileIO.h"
#include "Fonts.h"
#include "Glyphs.h"
#include "HttpDefaults.h"
#include "Messages.h"
#include "OptionsFile.h"
#include "StatusPanels.h"
#include "WordListCommands.h"
#include "WordListFile.h"
#include "WordListView.h"

// The window's texts, Windows-1252.
namespace {
const char* const kCaption = "Brennick Web Tirasel 1.0";
const char* const kCloseCaption = "Beenden";
const char* const kCloseQuestion = "Wollen Sie das Programm beenden?";
const char* const kNewListCaption = "Neue Liste";
const char* const kNewListQuestion = "Wollen Sie die Liste mit den W\xF6rtern wirklich l\xF6schen?";

// An input/output failure on a file, as the error box shows it: which file,
// what was being done, and the system's reason. The name comes in the file
// system's encoding and is shown as the file dialog showed it.
EInOutError FileError(const std::string& path, const char* doing, const EInOutError& failure) {
  std::string name = ToCp1252(QFile::decodeName(QByteArray::fromStdString(path)));
  return EInOutError("Die Datei \"" + name + "\" konnte nicht " + doing + " werden:\n" +
                     failure.what());
}

// A label at a designed position whose text ends before `nextLeft`, where
// the control beside it begins.
QLabel* MakeLabel(QWidget* parent, const char* text, int left, int top, int nextLeft) {
  auto* label = new QLabel(FromCp1252(text), parent);
  label->setFont(NarrowedToFit(parent->font(), label->text(), nextLeft - left - 1));
  label->move(left, top);
  label->adjustSize();
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* text, TGlyph glyph, QRect geometry) {
  auto* button = new QPushButton(MakeGlyph(glyph), FromCp1252(text), parent);
  button->setGeometry(geometry);
  button->setAutoDefault(false);
  return button;
}

QLineEdit* MakeEdit(QWidget* parent, QRect geometry) {
  auto* edit = new QLineEdit(parent);
  edit->setGeometry(geometry);
  edit->setMaxLength(static_cast<int>(kMaxOptionText));  // what the settings file can hold
  return edit;
}

}  // namespace

std::string ProgramDirOf(const std::string& executablePath) {
  size_t slash = executablePath.rfind('/');
  if (slash == std::string::npos) return "./";
  return executablePath.substr(0, slash + 1);
}

size_t WindowParallel(const char* setting) {
  if (!setting) return 1;
  const std::string_view text(setting);
  size_t value = 0;
  auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || failure != std::errc() || end != text.data() + text.size()) return 1;
  return value >= 2 && value <= kMaxWindowParallel ? value : 1;
}

std::string WindowHttpVersion(const char* setting) {
  return setting && std::string_view(setting) == "1.1" ? "1.1" : "1.0";
}

std::vector<std::string> WindowArchives(const char* setting) {
  std::vector<std::string> files;
  if (!setting) return files;
  const std::string_view text(setting);
  for (size_t start = 0; start <= text.size();) {
    const size_t colon = std::min(text.find(':', start), text.size());
    if (colon > start) files.emplace_back(text.substr(start, colon - start));
    start = colon + 1;
  }
  return files;
}

TMainForm::TMainForm(const std::string& executablePath, TUserDialogs* dialogs) : dialogs_(dialogs) {
  CrawlRun = std::make_unique<TCrawlRun>(words_);
  if (!dialogs_) {
    ownDialogs_ = std::make_unique<TQtDialogs>(this);
    dialogs_ = ownDialogs_.get();
  }
  setWindowTitle(QString::fromLatin1(kCaption));
  setFont(WindowFont());
  setAutoFillBackground(true);
  resize(622, 519);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  BuildPanel18();
  BuildListView();
  BuildPanel12();
  BuildStatusBar();
  layout->addWidget(Panel18);
  layout->addWidget(ListView1, 1);
  layout->addWidget(Panel12);
  layout->addWidget(StatusBar1);
  SetTabOrder();
  ConnectHandlers();
  Guarded([&] { FormCreate(executablePath); });
}

// The list view's model reports to the word list until it is gone: it goes first.
TMainForm::~TMainForm() { delete ListView1; }

void TMainForm::BuildPanel18() {
  Panel18 = new QWidget(this);
  Panel18->setFixedHeight(201);
  Label1 = MakeLabel(Panel18, "Webadresse:", 8, 8, 88);
  Label2 = MakeLabel(Panel18, "Proxy (optional):", 8, 32, 88);
  // The count label is as wide as its widest count from the start, and ends
  // before "Liste sortieren".
  QString widestCount = FromCp1252(WordCountLabel(999999999));
  Label3 = MakeLabel(Panel18, "", 8, 160, 200);
  Label3->setFont(NarrowedToFit(Panel18->font(), widestCount, 200 - 8 - 4));
  Label3->setFixedWidth(Label3->fontMetrics().horizontalAdvance(widestCount) + 4);
  URLEdit = MakeEdit(Panel18, QRect(88, 8, 289, 21));
  URLEdit->setText(QString::fromLatin1(kMakerWebSite));
  ProxyEdit = MakeEdit(Panel18, QRect(88, 32, 289, 21));
  GoBtn = MakeButton(Panel18, "&Saugen...", TGlyph::Go, QRect(8, 88, 97, 25));
  Autosaug = new QCheckBox(FromCp1252("Automatisch Saugen, nie den Benutzer fragen..."), Panel18);
  Autosaug->setGeometry(8, 56, 353, 17);
  BreakBtn = MakeButton(Panel18, "Abbrechen", TGlyph::Cancel, QRect(112, 88, 97, 25));
  LocalBreak2Btn =
      MakeButton(Panel18, "Aktuelle Datei abbrechen", TGlyph::Cancel, QRect(216, 88, 161, 25));
  OpenBtn = MakeButton(Panel18,
                       "Liste \xD6"
                       "ffnen (weitersaugen)...",
                       TGlyph::Open, QRect(8, 120, 185, 33));
  SaveBtn = MakeButton(Panel18, "Liste speichern...", TGlyph::Save, QRect(200, 120, 177, 33));
  NewBtn = MakeButton(Panel18, "Liste neu...", TGlyph::New, QRect(384, 120, 185, 33));
  DelBtn = MakeButton(Panel18, "Markierte eintr\xE4ge l\xF6schen", TGlyph::Cancel,
                      QRect(384, 160, 185, 33));
  EndeBtn = MakeButton(Panel18, "Beenden", TGlyph::Cancel, QRect(384, 8, 185, 33));
  AboutBtn = MakeButton(Panel18,
                        "\xDC"
                        "ber das Programm",
                        TGlyph::Help, QRect(384, 48, 185, 33));
  SortBtn = MakeButton(Panel18, "Liste sortieren", TGlyph::Retry, QRect(200, 160, 177, 33));
  BreakBtn->setEnabled(false);
  LocalBreak2Btn->setEnabled(false);
}

void TMainForm::BuildListView() {
  ListView1 = new TWordListView(words_, this);
  ListView1->setMinimumHeight(0);
}

void TMainForm::BuildPanel12() {
  Panel12 = new QWidget(this);
  Panel12->setFixedHeight(109);
  auto* fill = new QVBoxLayout(Panel12);
  fill->setContentsMargins(0, 0, 0, 0);
  Panel15 = new QWidget(Panel12);
  fill->addWidget(Panel15);

  RxLabel2 = new QLabel(QStringLiteral("Statusmeldungen:"), Panel15);
  RxLabel2->setGeometry(8, 2, 630, 23);
  RxLabel2->setFont(MakeFont({"Arial", "Liberation Sans", "DejaVu Sans"}, 13, true));

  Memo1 = new QPlainTextEdit(Panel15);
  Memo1->setFixedHeight(68);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setTabChangesFocus(true);  // Tab goes on along the tab order instead of typing a tab
  QFont fixed = MakeFont({"Courier New", "Liberation Mono", "DejaVu Sans Mono"}, 11);
  fixed.setStyleHint(QFont::TypeWriter);
  Memo1->setFont(fixed);
  QPalette info = Memo1->palette();
  info.setColor(QPalette::Base, info.color(QPalette::ToolTipBase));
  info.setColor(QPalette::Text, info.color(QPalette::ToolTipText));
  Memo1->setPalette(info);

  auto* bottom = new QVBoxLayout(Panel15);
  bottom->setContentsMargins(0, 0, 0, 0);
  bottom->addStretch(1);
  bottom->addWidget(Memo1);
}

void TMainForm::BuildStatusBar() {
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setFixedHeight(19);
  StatusBar1->setSizeGripEnabled(true);
  PagesPanel = new TProgressPanel(ProgressPercent, StatusBar1);
  WordsPanel = new TProgressPanel(ProgressPercent, StatusBar1);
  StatusBar1->addWidget(PagesPanel);
  StatusBar1->addWidget(WordsPanel);
}

// The log first, then the fields and buttons, then the word list.
void TMainForm::SetTabOrder() {
  QWidget* chain[] = {Memo1,    URLEdit,        ProxyEdit, GoBtn,   Autosaug,
                      BreakBtn, LocalBreak2Btn, OpenBtn,   SaveBtn, NewBtn,
                      DelBtn,   EndeBtn,        AboutBtn,  SortBtn, ListView1};
  for (size_t i = 0; i + 1 < std::size(chain); ++i) setTabOrder(chain[i], chain[i + 1]);
  for (QLabel* label : {Label1, Label2, Label3, RxLabel2}) label->setFocusPolicy(Qt::NoFocus);
}

void TMainForm::ConnectHandlers() {
  auto bind = [this](QPushButton* button, void (TMainForm::*handler)()) {
    connect(button, &QPushButton::clicked, this,
            [this, handler] { Guarded([&] { (this->*handler)(); }); });
  };
  bind(GoBtn, &TMainForm::GoBtnClick);
  bind(BreakBtn, &TMainForm::BreakBtnClick);
  bind(LocalBreak2Btn, &TMainForm::BreakLocalBtnClick);
  bind(OpenBtn, &TMainForm::OpenBtnClick);
  bind(SaveBtn, &TMainForm::SaveBtnClick);
  bind(NewBtn, &TMainForm::NewBtnClick);
  bind(DelBtn, &TMainForm::DelBtnClick);
  bind(SortBtn, &TMainForm::SortBtnClick);
  bind(EndeBtn, &TMainForm::EndeBtnClick);
  bind(AboutBtn, &TMainForm::AboutBtnClick);
  connect(URLEdit, &QLineEdit::textChanged, this, [this] { Guarded([&] { URLEditChange(); }); });
  connect(ProxyEdit, &QLineEdit::textChanged, this,
          [this] { Guarded([&] { ProxyEditChange(); }); });
  connect(Autosaug, &QCheckBox::toggled, this, [this] { Guarded([&] { AutosaugClick(); }); });
}

void TMainForm::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& failure) {
    dialogs_->ShowError(failure.what());
  } catch (...) {
    dialogs_->ShowError("Unknown error");
  }
}

void TMainForm::CreateAboutBox() {
  if (!AboutBox)
    AboutBox = new TAboutBox(
        this, [this](const std::string& address) { dialogs_->OpenWebAddress(address); });
}

// ---------------------------------------------------------------------------
// Window handlers

void TMainForm::FormCreate(const std::string& executablePath) {
  ProgramDir = ProgramDirOf(executablePath);
  Settings = LocateSettings(ProgramDir);
  OpenOptions();
}

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (centred_) return;
  centred_ = true;
  if (QScreen* screen = this->screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

void TMainForm::closeEvent(QCloseEvent* event) {
  bool close = false;
  Guarded([&] { close = FormCloseQuery(); });
  if (!close) {
    event->ignore();
    return;
  }
  // A run must not go on behind a closed window: it stops as by "Abbrechen".
  if (CrawlRun->Running()) Guarded([&] { BreakBtnClick(); });
  event->accept();
}

bool TMainForm::FormCloseQuery() {
  return dialogs_->Ask(kCloseCaption, kCloseQuestion, TQuestionButtons::YesNoCancel) ==
         TAnswer::Yes;
}

void TMainForm::EndeBtnClick() { close(); }

void TMainForm::URLEditChange() {
  if (!CrawlRun->Running()) GoBtn->setEnabled(!URLEdit->text().isEmpty());
  SaveOptions();
}

void TMainForm::ProxyEditChange() { SaveOptions(); }
void TMainForm::AutosaugClick() { SaveOptions(); }

void TMainForm::GoBtnClick() {
  if (URLEdit->text().isEmpty() || CrawlRun->Running()) return;
  CrawlRun->Run(CrawlStart(), *this);
  FlushDisplay();  // the whole run's log and count are on screen when the handler returns
  if (WarcRecorder) WarcRecorder->Flush();
  if (WarcRecorder && !WarcRecorder->Failure().empty()) {
    throw FileError(std::getenv("TIRASEL_WARC") ? std::getenv("TIRASEL_WARC") : "", "geschrieben",
                    EInOutError(WarcRecorder->Failure()));
  }
}
void TMainForm::BreakBtnClick() { CrawlRun->Stop(); }
void TMainForm::BreakLocalBtnClick() { CrawlRun->SkipPage(); }

// The archive of TIRASEL_WARC is opened once and kept for every run of the
// window; one that cannot be written is an error shown before any request.
TCrawlStart TMainForm::CrawlStart() {
  TCrawlStart start;
  start.Address = ToCp1252(URLEdit->text());
  start.Http.Proxy = ToCp1252(ProxyEdit->text());
  start.Http.RequestVersion = WindowHttpVersion(std::getenv("TIRASEL_HTTP"));
  if (start.Http.RequestVersion == "1.1") {
    start.Http.AcceptEncoding = kDefaultAcceptEncoding;
    Cookies = std::make_unique<TCookieJar>();
    start.Http.Cookies = Cookies.get();
  }
  start.Options.Parallel = WindowParallel(std::getenv("TIRASEL_PARALLEL"));
  start.Archives = WindowArchives(std::getenv("TIRASEL_FROM_WARC"));
  const char* warc = std::getenv("TIRASEL_WARC");
  if (warc && *warc && !start.Address.empty()) {
    if (!Warc) {
      Warc = std::make_unique<TWarcWriter>(warc);
      Warc->WriteInfo(TiraselWarcInfo({}));
      WarcRecorder = std::make_unique<TWarcRecorder>(*Warc);
    }
    start.Recorder = WarcRecorder.get();
  }
  return start;
}

void TMainForm::AboutBtnClick() {
  CreateAboutBox();
  dialogs_->ShowModal(*AboutBox);
}

// ---------------------------------------------------------------------------
// Word list commands

void TMainForm::OpenBtnClick() {
  std::optional<std::string> path = dialogs_->ChooseFileToOpen();
  if (!path) return;
  try {
    AppendWordListFile(*path, words_);
  } catch (const EInOutError& failure) {
    throw FileError(*path, "ganz gelesen", failure);
  }
}

void TMainForm::SaveBtnClick() {
  std::optional<std::string> path = dialogs_->ChooseFileToSave();
  if (!path) return;
  try {
    WriteWordListFile(*path, words_);
  } catch (const EInOutError& failure) {
    throw FileError(*path, "gespeichert", failure);
  }
}

void TMainForm::NewBtnClick() {
  if (dialogs_->Ask(kNewListCaption, kNewListQuestion, TQuestionButtons::YesNoCancel) ==
      TAnswer::Yes) {
    words_.ClearWords();
  }
}

void TMainForm::DelBtnClick() { DeleteMarkedWords(words_); }
void TMainForm::SortBtnClick() { SortWords(words_); }

// ---------------------------------------------------------------------------
// Settings file. Setting the controls fires their change handlers, whose
// saving `Loading` turns off; a field the file does not complete stops the
// loading there with "Read beyond end of file".

void TMainForm::OpenOptions() {
  struct TLoadingScope {
    bool& loading;
    explicit TLoadingScope(bool& flag) : loading(flag) { loading = true; }
    ~TLoadingScope() { loading = false; }
  } scope(Loading);
  std::optional<std::string> bytes = ReadOptionsBytes(Settings.File);
  if (!bytes && !Settings.FallbackFile.empty()) bytes = ReadOptionsBytes(Settings.FallbackFile);
  if (!bytes) return;
  TOptionsReader reader(std::move(*bytes));
  Autosaug->setChecked(reader.ReadFlag());
  URLEdit->setText(FromCp1252(reader.ReadString()));
  ProxyEdit->setText(FromCp1252(reader.ReadString()));
}

void TMainForm::SaveOptions() {
  if (Loading) return;
  std::string contents =
      EncodeOptions(Autosaug->isChecked(), ToCp1252(URLEdit->text()), ToCp1252(ProxyEdit->text()));
  PrepareSettingsDir(Settings);
  try {
    WriteOptionsFile(Settings.File, contents);
  } catch (const EInOutError& failure) {
    throw FileError(Settings.File, "gespeichert", failure);
  }
}

// ---------------------------------------------------------------------------
// What the crawl run uses

std::string TMainForm::Proxy() { return ToCp1252(ProxyEdit->text()); }
bool TMainForm::AutomaticMode() { return Autosaug->isChecked(); }

bool TMainForm::AskYesNo(const std::string& caption, const std::string& text) {
  return dialogs_->Ask(caption, text, TQuestionButtons::YesNo) == TAnswer::Yes;
}

// Called at every link of a page: a click is still handled within 10 ms.
void TMainForm::ProcessPendingEvents() { ProcessMessagesAtMostEvery(10); }

// The count changes with every harvested word; the label shows the latest
// count at most kDisplayDelayMs later instead of being redrawn per word.
void TMainForm::SetCountLabel(const std::string& text) {
  pendingCount_ = FromCp1252(text);
  ScheduleDisplay();
}

void TMainForm::WordAdded(size_t count) { SetCountLabel(WordCountLabel(count)); }

void TMainForm::ClearLog() {
  pendingLog_.clear();
  Memo1->clear();
}

// Lines reach the memo in groups, at most every kDisplayDelayMs: appending
// and repainting once per fetched page would cost the run more than the page.
void TMainForm::Log(const std::string& line) {
  pendingLog_.push_back(FromCp1252(line));
  ScheduleDisplay();
}

void TMainForm::ScheduleDisplay() {
  if (displayScheduled_) return;
  displayScheduled_ = true;
  QTimer::singleShot(kDisplayDelayMs, this, [this] { FlushDisplay(); });
}

// Reported after every queue entry; shown with the log lines.
void TMainForm::Progress(const TCrawlProgress& progress) {
  pendingProgress_ = progress;
  ScheduleDisplay();
}

void TMainForm::FlushDisplay() {
  displayScheduled_ = false;
  if (pendingProgress_) {
    PagesPanel->SetText(FromCp1252(PagesPanelText(*pendingProgress_)));
    WordsPanel->SetText(FromCp1252(WordsPanelText(pendingProgress_->Words)));
    pendingProgress_.reset();
  }
  if (!pendingLog_.isEmpty()) {
    Memo1->appendPlainText(pendingLog_.join(QLatin1Char('\n')));
    pendingLog_.clear();
  }
  if (pendingCount_) {
    Label3->setText(*pendingCount_);  // wide enough from the start: no layout per change
    pendingCount_.reset();
  }
}

// While a run is busy only the two buttons that stop it are usable, in this
// order: the word list's and the program's buttons, "&Saugen...", then the
// stop buttons; the log starts anew.
void TMainForm::Busy(bool busy) {
  QPushButton* const others[] = {EndeBtn, AboutBtn, DelBtn, SaveBtn, OpenBtn, NewBtn, SortBtn};
  if (busy) {
    for (QPushButton* button : others) SetButtonEnabled(button, false);
    SetButtonEnabled(GoBtn, false);
    SetButtonEnabled(BreakBtn, true);
    SetButtonEnabled(LocalBreak2Btn, true);
    ClearLog();
    return;
  }
  SetButtonEnabled(BreakBtn, false);
  SetButtonEnabled(LocalBreak2Btn, false);
  for (QPushButton* button : others) SetButtonEnabled(button, true);
}

void TMainForm::SetButtonEnabled(QPushButton* button, bool enabled) {
  // A disabled button hands its focus to the next in the tab order, which for
  // "&Saugen..." is the check box: the next Space would switch the automatic
  // mode mid-run. The log takes the focus instead, where keys do no harm.
  if (!enabled && focusWidget() == button) Memo1->setFocus();
  button->setEnabled(enabled);
}
