// The window under a real window manager on a real X server (run by
// UnderWindowManager.sh): keys come through the X server by xdotool, the
// close box is pressed through the window manager by wmctrl, and the
// questions are the real message boxes. Nothing here activates a window by
// itself: that is the window manager's part.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "Cp1252.h"
#include "MainUnit.h"
#include "SiteServer.h"
#include "TempDir.h"

namespace {

using testpeer::SiteServer;
using Lines = std::vector<std::string>;
using Pages = std::map<std::string, std::string>;

constexpr int kBoundMs = 60000;  // for a loaded machine; the conditions come far sooner

// Keys typed on the X server's keyboard: they reach the window that the
// window manager gave the focus.
void TypeKeys(const QString& keys) {
  ASSERT_TRUE(QProcess::startDetached(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}));
}

// The close box: the window manager asks the window to close.
void PressCloseBox(QWidget& window) {
  QString id = QStringLiteral("0x") + QString::number(window.winId(), 16);
  ASSERT_TRUE(QProcess::startDetached(QStringLiteral("wmctrl"),
                                      {QStringLiteral("-i"), QStringLiteral("-c"), id}));
}

// The message box that has the window manager's focus, if one has.
QWidget* ActiveQuestionBox() {
  QWidget* box = QApplication::activeModalWidget();
  return box && box->isActiveWindow() ? box : nullptr;
}

// Whether the X server sends the keyboard to `window`: Qt may see its window
// activated a moment before the window manager's last focus change lands.
bool HasKeyboardFocus(QWidget& window) {
  QProcess focus;
  focus.start(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")});
  if (!focus.waitForFinished(kBoundMs)) return false;
  return focus.readAllStandardOutput().trimmed().toULongLong() == window.winId();
}

// The window manager has made `window` the active one, with the keyboard.
bool WaitUntilFocused(QWidget& window) {
  return QTest::qWaitForWindowActive(&window, kBoundMs) &&
         QTest::qWaitFor([&] { return HasKeyboardFocus(window); }, kBoundMs);
}

std::string LastLogLine(TMainForm& form) {
  QStringList lines = form.Memo1->toPlainText().split(QLatin1Char('\n'));
  return ToCp1252(lines.last());
}

class WindowManagerTest : public ::testing::Test {
 protected:
  // With the program's own message boxes and file dialogs.
  std::unique_ptr<TMainForm> Create(const std::string& address, bool automatic) {
    auto form = std::make_unique<TMainForm>(dir.Path("tirasel"));
    form->Autosaug->setChecked(automatic);
    form->URLEdit->setText(FromCp1252(address));
    form->show();
    return form;
  }

  TTempDir dir;
};

}  // namespace

TEST_F(WindowManagerTest, TheNewWindowHasTheFocusAndAltSStartsTheRun) {
  SiteServer site(Pages{{"/1.html", "<p>eins zwei</p>"}});
  auto form = Create(site.Root() + "1.html", true);
  ASSERT_TRUE(WaitUntilFocused(*form));
  TypeKeys(QStringLiteral("alt+s"));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return LastLogLine(*form) == "Done! (1 html files found...)..."; }, kBoundMs));
  EXPECT_EQ(site.Requested(), Lines{"/1.html"});
  EXPECT_TRUE(form->Words().FindWord("zwei"));
}

// The question comes in the middle of the run; once it is answered the main
// window has the focus again, in the field that had it, and the next key
// goes there.
TEST_F(WindowManagerTest, AfterTheQuestionBoxTheKeysGoToTheMainWindowAgain) {
  SiteServer site(Pages{{"/s/index.html", "<p>Hallo</p><a href=\"/other/x.html\">fremd</a>"},
                        {"/other/x.html", "<p>Ausland</p>"}});
  auto form = Create(site.Root() + "s/index.html", false);
  ASSERT_TRUE(WaitUntilFocused(*form));
  form->URLEdit->setFocus();  // where the address was typed
  QString question;
  QTimer watching;  // looks for the box the window manager has focused
  QObject::connect(&watching, &QTimer::timeout, [&] {
    QWidget* box = question.isEmpty() ? ActiveQuestionBox() : nullptr;
    if (!box) return;
    question = box->windowTitle();
    TypeKeys(QStringLiteral("Return"));  // "Ja", the box's default button
  });
  watching.start(5);
  TypeKeys(QStringLiteral("alt+s"));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return LastLogLine(*form) == "Done! (2 html files found...)..."; }, kBoundMs));
  watching.stop();
  EXPECT_EQ(question, QStringLiteral("Frage"));
  EXPECT_TRUE(form->Words().FindWord("Ausland"));
  ASSERT_TRUE(WaitUntilFocused(*form));
  EXPECT_EQ(QApplication::focusWidget(), form->URLEdit);
  TypeKeys(QStringLiteral("Tab"));
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return QApplication::focusWidget() == form->ProxyEdit; }, kBoundMs));
}

// The close box during a run asks first; "Ja" stops the run and closes.
TEST_F(WindowManagerTest, TheCloseBoxDuringARunAsksThenStopsTheRun) {
  SiteServer site(
      Pages{{"/1.html", "<a href=2.html>2</a><a href=3.html>3</a>"}, {"/3.html", "<p>drei</p>"}},
      "/2.html");
  auto form = Create(site.Root() + "1.html", true);
  ASSERT_TRUE(WaitUntilFocused(*form));
  bool closing = false;
  QString question;
  QTimer watching;  // looks at what the server has seen and which box is up, not at the clock
  QObject::connect(&watching, &QTimer::timeout, [&] {
    if (!closing && site.Requested().size() >= 2) {
      closing = true;
      PressCloseBox(*form);
    } else if (closing && question.isEmpty()) {
      if (QWidget* box = ActiveQuestionBox()) {
        question = box->windowTitle();
        TypeKeys(QStringLiteral("Return"));
      }
    }
  });
  watching.start(5);
  form->GoBtn->click();
  watching.stop();
  site.Release();
  EXPECT_EQ(question, QStringLiteral("Beenden"));
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(LastLogLine(*form), "Done! (1 html files found...)...");
  EXPECT_FALSE(form->Words().FindWord("drei"));
}
