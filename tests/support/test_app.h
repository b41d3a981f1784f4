// An application object for one widget test, on Qt's offscreen platform unless
// the environment names another.  Each test makes its own and takes with it
// whatever windows and timers it left.
#pragma once

#include <QApplication>
#include <QByteArray>

class TestApp {
 private:
  bool platform = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
  }();
  int argc = 1;
  char name[16] = "quillnet-test";
  char* argv[2] = {name, nullptr};
  QApplication app{argc, argv};
};
