// Where errors stop: at the slot that runs a command, and, for anything else,
// at the application's guard around every event.

#include "ui/command.h"

#include <QPushButton>

#include <stdexcept>
#include <utility>
#include <vector>

#include "digest/error.h"
#include "qt_test_main.h"
#include "ui/error_box.h"

namespace dupfind {
namespace {

// An object whose every event raises an error.
class Raising : public QObject {
 public:
  bool event(QEvent*) override { throw Error("raised by an event"); }
};

}  // namespace

class CommandTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    SetErrorBoxPresenter([this](const QString& caption, const QString& text) {
      boxes_.emplace_back(caption, text);
    });
  }
  void cleanup() {
    SetErrorBoxPresenter({});
    boxes_.clear();
  }

  void commandErrorIsShownAtItsSlotAndTheSignalReturns() {
    QPushButton button;
    int runs = 0;
    std::vector<int> order;
    ConnectCommand(&button, &QPushButton::clicked, &button, [&] {
      ++runs;
      order.push_back(1);
      throw Error("Access denied");
    });
    // A second slot on the same signal still runs: the first returned normally.
    QObject::connect(&button, &QPushButton::clicked, &button, [&] { order.push_back(2); });
    button.click();
    QCOMPARE(runs, 1);
    QCOMPARE(order, (std::vector<int>{1, 2}));
    QCOMPARE(boxes_.size(), std::size_t{1});
    QCOMPARE(boxes_[0].first, QStringLiteral("command_test"));
    QCOMPARE(boxes_[0].second, QStringLiteral("Access denied."));
  }

  void anyErrorIsStopped_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("shown");
    QTest::newRow("program's error") << 0 << "List index out of bounds (-1)";
    QTest::newRow("standard library's") << 1 << "vector.";
    QTest::newRow("not an exception class") << 2 << "Unknown error.";
  }
  void anyErrorIsStopped() {
    QFETCH(int, kind);
    QFETCH(QString, shown);
    RunCommand([kind] {
      if (kind == 0) throw Error("List index out of bounds (-1)");
      if (kind == 1) throw std::length_error("vector");
      throw 7;
    });
    QCOMPARE(boxes_.size(), std::size_t{1});
    QCOMPARE(boxes_[0].second, shown);
  }

  void errorWhileTheBoxIsShownIsDropped() {
    SetErrorBoxPresenter([](const QString&, const QString&) { throw Error("no box"); });
    RunCommand([] { throw Error("first"); });  // returns, nothing escapes
  }

  void applicationGuardShowsWhatReachesIt() {
    auto& application = static_cast<TApplication&>(*QCoreApplication::instance());
    Raising raising;
    QEvent event(QEvent::User);
    QVERIFY(!application.TApplication::notify(&raising, &event));
    QCOMPARE(boxes_.size(), std::size_t{1});
    QCOMPARE(boxes_[0].second, QStringLiteral("raised by an event."));
  }

 private:
  std::vector<std::pair<QString, QString>> boxes_;  // caption, text
};

}  // namespace dupfind

DUPFIND_QTEST_MAIN(dupfind::CommandTest)
#include "command_test.moc"
