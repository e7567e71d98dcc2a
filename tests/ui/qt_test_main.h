#pragma once

// main() for a Qt Test suite of the windows: the offscreen platform unless the
// environment names another, and the program's own application object, so
// that errors raised by commands reach the error box as in the program.

#include <QTest>

#include "ui/application.h"

#define DUPFIND_QTEST_MAIN(TestClass)                     \
  int main(int argc, char** argv) {                       \
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) { \
      qputenv("QT_QPA_PLATFORM", "offscreen");            \
    }                                                     \
    dupfind::TApplication application(argc, argv);        \
    TestClass test;                                       \
    return QTest::qExec(&test, argc, argv);               \
  }
