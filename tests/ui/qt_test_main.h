#pragma once

// main() for a Qt Test suite of the windows: the offscreen platform unless the
// environment names another, and the program's own application object with
// one change. Each command must stop its own errors where it runs; an error
// that still reaches the event loop's guard fails the running test.

#include <QTest>

#include "ui/application.h"

namespace dupfind::test {

class CommandBoundaryCheck : public TApplication {
 public:
  using TApplication::TApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
      QTest::qFail(qPrintable(QStringLiteral("an error reached the event loop: ") + error.what()),
                   __FILE__, __LINE__);
    } catch (...) {
      QTest::qFail("an error reached the event loop", __FILE__, __LINE__);
    }
    return false;
  }
};

}  // namespace dupfind::test

#define DUPFIND_QTEST_MAIN(TestClass)                            \
  int main(int argc, char** argv) {                              \
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {        \
      qputenv("QT_QPA_PLATFORM", "offscreen");                   \
    }                                                            \
    dupfind::test::CommandBoundaryCheck application(argc, argv); \
    TestClass test;                                              \
    return QTest::qExec(&test, argc, argv);                      \
  }
