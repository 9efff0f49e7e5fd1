#include "Application.h"

#include <QFile>
#include <QMessageBox>

#include "AboutBoxUnit.h"
#include "Cp1252.h"
#include "MainUnit.h"
#include "ToolkitTexts.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Web Pavrino"));
  InstallGermanToolkitTexts(*this);  // without the catalogue Qt's texts stay English
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& failure) {
    QMessageBox::critical(activeWindow(), applicationName(), FromCp1252(failure.what()));
  } catch (...) {
    QMessageBox::critical(activeWindow(), applicationName(), QStringLiteral("Unknown error"));
  }
  return false;
}

int RunProgram(int argc, char** argv) {
  TApplication application(argc, argv);
  TMainForm mainForm(QFile::encodeName(QApplication::applicationFilePath()).toStdString());
  mainForm.CreateAboutBox();
  mainForm.show();
  return application.exec();
}
