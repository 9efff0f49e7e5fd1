// Program start: the application named "Web Pavrino", the main window, the
// hidden about dialog and the event loop.
#pragma once

#include <QApplication>

// A failure escaping any event handler is shown in an error box; the
// program keeps running.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

int RunProgram(int argc, char** argv);
