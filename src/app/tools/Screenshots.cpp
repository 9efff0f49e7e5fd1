// Takes the screenshots of the main window and the about dialog for the
// documentation. Run under an X server (xvfb-run); writes
// <dir>/main-window.png and <dir>/about-dialog.png.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include "AboutBoxUnit.h"
#include "MainUnit.h"
#include "ToolkitTexts.h"
#include "WordListView.h"

namespace {

bool Shoot(QWidget& window, const QString& path) {
  window.show();
  if (!QTest::qWaitForWindowExposed(&window, 10000)) return false;
  QTest::qWait(300);  // bounded: lets the first paint reach the X server
  QPixmap shot = window.screen()->grabWindow(window.winId());
  return !shot.isNull() && shot.save(path);
}

void FillExample(TMainForm& form) {
  const char* words[] = {"Willkommen",
                         "bei",
                         "Brennick",
                         "Web",
                         "Programme",
                         "f\xFCr",
                         "W\xF6rter",
                         "und",
                         "Listen",
                         "Sprache",
                         "Stra\xDF"
                         "e",
                         "\xC4pfel",
                         "Wortschatz"};
  for (const char* word : words) form.Words().AddWord(word);
  form.SetCountLabel(WordCountLabel(std::size(words)));
  form.AppendLog("http://www.brennick.example/");
  form.AppendLog("http://www.brennick.example/programme.html");
  form.AppendLog("Done! (2 html files found...)...");
  form.ListView1->WordModel()->FlushAppends();  // the rows exist before one is selected
  QItemSelectionModel* selection = form.ListView1->selectionModel();
  selection->select(form.ListView1->model()->index(6, 0),
                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tirasel_screenshots <output directory>\n");
    return 2;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Web Pavrino"));
  InstallGermanToolkitTexts(application);
  QString outDir = QString::fromLocal8Bit(argv[1]);
  QTemporaryDir programDir;  // a settings file of its own
  TMainForm form(QFile::encodeName(programDir.filePath(QStringLiteral("tirasel"))).toStdString());
  FillExample(form);
  form.CreateAboutBox();
  bool ok = Shoot(form, QDir(outDir).filePath(QStringLiteral("main-window.png")));
  ok = Shoot(*form.AboutBox, QDir(outDir).filePath(QStringLiteral("about-dialog.png"))) && ok;
  form.AboutBox->hide();
  if (!ok) std::fprintf(stderr, "screenshots failed\n");
  return ok ? 0 : 1;
}
