// The GUI tests' main: a QApplication (offscreen unless the caller chose a
// platform) around GoogleTest. The user's configuration directory is a fresh
// one, so that settings the machine's user keeps never reach a test.
#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

#include "TempDirectory.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  testsupport::TempDirectory config("tirasel-config");
  setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Web Pavrino"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
