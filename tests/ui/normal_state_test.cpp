// The windows refuse the maximised and full-screen states on a platform that
// grants them (offscreen, as a Wayland compositor would), whoever asks.

#include "ui/normal_state.h"

#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>

#include "qt_test_main.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"
#include "ui/error_box.h"

namespace dupfind {
namespace {

// Every size the window took; whether its size limit let it take them; and
// whether it left the large size while the window system still held it large,
// which a Wayland compositor ends the program for.
class SizeLog : public QObject {
 public:
  explicit SizeLog(QWidget& window) : window_(window) { window.installEventFilter(this); }
  QList<QSize> sizes;
  bool refused_a_size = false;
  bool left_large_size_while_large = false;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Resize) {
      sizes << window_.size();
      const QSize limit = window_.maximumSize();
      refused_a_size |= window_.width() > limit.width() || window_.height() > limit.height();
      const bool large =
          window_.windowHandle()->windowStates() & (Qt::WindowMaximized | Qt::WindowFullScreen);
      if (large && !large_.isValid()) large_ = window_.size();
      left_large_size_while_large |= large && window_.size() != large_;
    }
    return false;
  }

 private:
  QSize large_;

 private:
  QWidget& window_;
};

}  // namespace

class NormalStateTest : public QObject {
  Q_OBJECT

 private slots:
  void largeStatesAreRefused_data();
  void largeStatesAreRefused();
  void errorBoxRefusesMaximise();

 private:
  // Asks `window` for `state` the way `how` names, then expects it back in
  // its normal state at its fixed size, having taken the large size it was
  // given without a limit in its way.
  void ExpectRefused(QWidget& window, Qt::WindowState state, const QString& how);
};

void NormalStateTest::ExpectRefused(QWidget& window, Qt::WindowState state, const QString& how) {
  const QSize fixed = window.size();
  QCOMPARE(window.minimumSize(), fixed);
  QCOMPARE(window.maximumSize(), fixed);
  SizeLog log(window);
  if (how == "native")  // as a title bar that Qt draws asks
    window.windowHandle()->setWindowStates(state);
  else
    window.setWindowState(state);
  // The platform did make it large.
  QTRY_VERIFY(std::any_of(log.sizes.begin(), log.sizes.end(),
                          [&](QSize size) { return size.width() > fixed.width(); }));
  QTRY_COMPARE(window.windowHandle()->windowStates(), Qt::WindowNoState);
  QTRY_COMPARE(window.size(), fixed);
  QTRY_COMPARE(window.maximumSize(), fixed);
  QCOMPARE(window.windowState(), Qt::WindowNoState);
  QCOMPARE(window.minimumSize(), fixed);
  QVERIFY(!log.refused_a_size);
  QVERIFY(!log.left_large_size_while_large);
}

void NormalStateTest::largeStatesAreRefused_data() {
  QTest::addColumn<QString>("window");
  QTest::addColumn<Qt::WindowState>("state");
  QTest::addColumn<QString>("how");
  for (const char* window : {"Form1", "Form2"}) {
    QTest::addRow("%s maximised by its title bar", window)
        << window << Qt::WindowMaximized << "native";
    QTest::addRow("%s full screen by its title bar", window)
        << window << Qt::WindowFullScreen << "native";
    QTest::addRow("%s maximised by the program", window)
        << window << Qt::WindowMaximized << "widget";
  }
}

void NormalStateTest::largeStatesAreRefused() {
  QFETCH(QString, window);
  QFETCH(Qt::WindowState, state);
  QFETCH(QString, how);
  TForm1 form1;
  TForm2 form2;
  QWidget& shown = window == "Form1" ? static_cast<QWidget&>(form1) : form2;
  shown.show();
  QVERIFY(QTest::qWaitForWindowExposed(&shown));
  ExpectRefused(shown, state, how);
  // And again: the watch outlives its first refusal.
  ExpectRefused(shown, state, how);
}

void NormalStateTest::errorBoxRefusesMaximise() {
  TForm1 form;
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  SetErrorBoxPresenter({});  // the real modal box
  bool checked = false;
  QTimer::singleShot(0, this, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    QVERIFY(box != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(box));
    ExpectRefused(*box, Qt::WindowMaximized, "native");
    checked = true;
    box->accept();
  });
  ShowErrorBox("Failed");
  QVERIFY(checked);
}

}  // namespace dupfind

DUPFIND_QTEST_MAIN(dupfind::NormalStateTest)
#include "normal_state_test.moc"
