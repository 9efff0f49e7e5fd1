// The GUI tests' main: a QApplication (offscreen unless the caller chose a
// platform) around GoogleTest.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Web Pavrino"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
