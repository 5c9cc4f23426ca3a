// The one QApplication of a Qt test program, created on first use (never
// during test discovery) on the offscreen platform unless one is chosen.
#pragma once

#include <QApplication>

namespace marrowick::testing {

inline QApplication& TestApplication() {
  if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return *existing;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "app_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  // Closing a test's window must not end anything.
  QApplication::setQuitOnLastWindowClosed(false);
  return *app;
}

}  // namespace marrowick::testing
