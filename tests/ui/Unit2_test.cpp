// The About window through the main window's "О программе" button: its
// controls, how it shows, hides and takes the focus, and its two links.

#include "ui/Unit2.h"

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWindow>

#include <algorithm>
#include <map>
#include <memory>

#include "qt_test_main.h"
#include "screenshot.h"
#include "ui/Unit1.h"
#include "ui/contrast.h"
#include "ui/error_box.h"
#include "ui/link_label.h"

namespace dupfind {

// Takes the addresses the desktop is asked to open, in place of a browser.
class UrlRecorder : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> opened;

 public slots:
  void Open(const QUrl& url) { opened.append(url); }
};

namespace {

// How many of `image`'s pixels are drawn in a blue, and the greatest contrast
// one of them has with the image's most common colour, its background.
std::pair<int, double> BluePixels(const QImage& image) {
  std::map<QRgb, int> counts;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x)
      ++counts[image.pixel(x, y)];
  }
  const QColor background(std::max_element(counts.begin(), counts.end(), [](auto a, auto b) {
                            return a.second < b.second;
                          })->first);
  int blue = 0;
  double contrast = 1;
  for (const auto& [rgb, count] : counts) {
    const QColor pixel(rgb);
    if (pixel.hsvSaturation() > 100 && pixel.hsvHue() >= 200 && pixel.hsvHue() <= 245) {
      blue += count;
      contrast = std::max(contrast, Contrast(pixel, background));
    }
  }
  return {blue, contrast};
}

// The hue of the most saturated pixel of `image`.
int StrongestBlueHue(const QImage& image) {
  QColor strongest(Qt::white);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixelColor(x, y).hsvSaturation() > strongest.hsvSaturation())
        strongest = image.pixelColor(x, y);
    }
  }
  return strongest.hsvHue();
}

}  // namespace

class AboutWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void controls_data();
  void controls();
  void window();
  void showsWithoutModalityOnce();
  void closingHidesAndKeepsContents();
  void focusReturnsToLastTextBox();
  void destroyedWhileTextBoxHasFocus();
  void minimisedWindowComesBackNormalAndActive();
  void links_data();
  void links();
  void linksAreDrawnReadableBlue_data();
  void linksAreDrawnReadableBlue();
  void textBoxesAreNamedByTheirLabels();
  void linkWithoutBrowserSaysSo();
  void screenshot();
  void screenshotDark();

 private:
  template <typename Widget>
  Widget* Child(QWidget* parent, const char* name) {
    auto* child = parent->findChild<Widget*>(QString::fromLatin1(name));
    if (child == nullptr) qFatal("no %s", name);
    return child;
  }
  void ClickAbout() {
    QTest::mouseClick(Child<QPushButton>(form1_.get(), "Button5"), Qt::LeftButton);
  }

  // A click delivered through the widget's window, as the window system's
  // are: it stops at a window a modal one blocks (QTest's widget clicks
  // bypass that check).
  static void ClickThroughWindow(QWidget* widget) {
    QWidget* window = widget->window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {},
                      widget->mapTo(window, widget->rect().center()));
  }

  std::unique_ptr<TForm1> form1_;
  std::unique_ptr<TForm2> form2_;
  UrlRecorder browser_;
  QStringList boxes_;  // the texts of the error boxes shown
};

void AboutWindowTest::init() {
  // Fresh windows for each case, as at start-up: the About window never shown.
  form1_ = std::make_unique<TForm1>();
  form2_ = std::make_unique<TForm2>();
  QCOMPARE(Form2, form2_.get());
  form1_->show();
  form1_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(form1_.get()));
  browser_.opened.clear();
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser_, "Open");
  boxes_.clear();
  SetErrorBoxPresenter([this](const QString&, const QString& text) { boxes_.append(text); });
}

void AboutWindowTest::cleanup() {
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  SetErrorBoxPresenter({});
  QVERIFY2(boxes_.isEmpty(), qPrintable(boxes_.join('|')));
  form2_.reset();
  form1_.reset();
}

void AboutWindowTest::controls_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QRect>("geometry");
  QTest::addColumn<QString>("text");  // a prefix for the lines we fill in ourselves
  QTest::newRow("Label1") << "Label1" << QRect(8, 8, 68, 13) << "О программе";
  QTest::newRow("Label8") << "Label8" << QRect(336, 8, 55, 13) << "Версия 1.0";
  QTest::newRow("Memo1") << "Memo1" << QRect(8, 24, 385, 49)
                         << "Поиск идентичных файлов без учета имени файла";
  QTest::newRow("Label2") << "Label2" << QRect(8, 88, 109, 13) << "Автор: ";
  QTest::newRow("Label6") << "Label6" << QRect(240, 96, 149, 13) << "Дата обновления: 05.11.2012";
  QTest::newRow("Label3") << "Label3" << QRect(8, 104, 134, 13) << "E-mail: ";
  QTest::newRow("Label4") << "Label4" << QRect(8, 120, 26, 13) << "Web:";
  QTest::newRow("Label5") << "Label5" << QRect(40, 120, 110, 13) << "https://debian.org";
  QTest::newRow("Label7") << "Label7" << QRect(40, 136, 123, 13) << "https://rfc-editor.org";
  QTest::newRow("Label9") << "Label9" << QRect(8, 168, 119, 13) << "Поблагодарить автора:";
  QTest::newRow("Memo2") << "Memo2" << QRect(8, 184, 385, 89) << "";
}

void AboutWindowTest::controls() {
  QFETCH(QString, name);
  QFETCH(QRect, geometry);
  QFETCH(QString, text);
  ClickAbout();
  auto* widget = form2_->findChild<QWidget*>(name);
  QVERIFY(widget != nullptr);
  QCOMPARE(widget->parentWidget(), form2_.get());
  QCOMPARE(widget->geometry(), geometry);
  QVERIFY(widget->isVisible());
  if (auto* memo = qobject_cast<QPlainTextEdit*>(widget)) {
    QVERIFY(memo->toPlainText().startsWith(text));
    QVERIFY(!memo->isReadOnly());
    QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    if (name == "Memo1")
      QCOMPARE(memo->document()->blockCount(), 1);
    else
      QVERIFY(memo->document()->blockCount() > 1);  // several lines of how to help
    return;
  }
  auto* label = qobject_cast<QLabel*>(widget);
  QVERIFY(label != nullptr);
  QCOMPARE(qobject_cast<TLinkLabel*>(widget) != nullptr, name == "Label5" || name == "Label7");
  if (text.endsWith(' '))
    QVERIFY2(label->text().startsWith(text) && label->text().size() > text.size(),
             qPrintable(label->text()));
  else
    QCOMPARE(label->text(), text);
}

void AboutWindowTest::window() {
  TForm2& about = *form2_;
  QVERIFY(about.isHidden());  // created hidden, shown only by the button
  QCOMPARE(about.pos(), QPoint(508, 206));
  ClickAbout();
  QVERIFY(QTest::qWaitForWindowExposed(&about));
  QCOMPARE(about.windowTitle(), QString("О программе"));
  QCOMPARE(about.size(), QSize(398, 285));
  QCOMPARE(about.minimumSize(), QSize(398, 285));
  QCOMPARE(about.maximumSize(), QSize(398, 285));
  about.resize(500, 400);
  QCOMPARE(about.size(), QSize(398, 285));
  // The requested place is the frame's corner; the offscreen platform keeps it.
  QCOMPARE(about.pos(), QPoint(508, 206));
  QCOMPARE(about.frameGeometry().topLeft(), QPoint(508, 206));

  const Qt::WindowFlags flags = about.windowFlags();
  QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window);
  QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));  // else Qt adds its own buttons
  QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
  QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
  QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
  QVERIFY(about.testAttribute(Qt::WA_X11NetWmWindowTypeDialog));  // what X11 managers read
  // A window of its own, neither a child of the main window nor kept above it.
  QVERIFY(about.isWindow());
  QCOMPARE(about.parentWidget(), nullptr);
  QCOMPARE(about.windowHandle()->transientParent(), nullptr);
}

void AboutWindowTest::showsWithoutModalityOnce() {
  ClickAbout();
  QVERIFY(QTest::qWaitForWindowActive(form2_.get()));
  QVERIFY(!form2_->isModal());
  QCOMPARE(QApplication::activeModalWidget(), nullptr);

  // The main window still takes clicks while the About window is up.
  form1_->SetStatusText("before");
  ClickThroughWindow(Child<QPushButton>(form1_.get(), "Button3"));
  QCOMPARE(form1_->StatusText(), std::string("Форма очищена"));
  QVERIFY(form2_->isVisible());

  // Pressing again brings the same window back to the front: no second one.
  form1_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(form1_.get()));
  ClickAbout();
  QVERIFY(QTest::qWaitForWindowActive(form2_.get()));
  int about_windows = 0;
  for (QWidget* widget : QApplication::topLevelWidgets())
    about_windows += qobject_cast<TForm2*>(widget) != nullptr;
  QCOMPARE(about_windows, 1);
}

void AboutWindowTest::closingHidesAndKeepsContents() {
  ClickAbout();
  QVERIFY(QTest::qWaitForWindowActive(form2_.get()));
  auto* memo2 = Child<QPlainTextEdit>(form2_.get(), "Memo2");
  memo2->moveCursor(QTextCursor::End);
  QTest::keyClicks(memo2, " typed");
  const QString text = memo2->toPlainText();
  QVERIFY(text.endsWith(" typed"));

  QPointer<QPlainTextEdit> alive = memo2;
  QVERIFY(form2_->close());
  QVERIFY(!form2_->isVisible());
  QVERIFY(form1_->isVisible());  // closing the About window ends nothing else
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // a deleteLater would run
  QVERIFY(!alive.isNull());

  ClickAbout();
  QVERIFY(form2_->isVisible());
  QCOMPARE(memo2->toPlainText(), text);
}

void AboutWindowTest::focusReturnsToLastTextBox() {
  auto* memo1 = Child<QPlainTextEdit>(form2_.get(), "Memo1");
  auto* memo2 = Child<QPlainTextEdit>(form2_.get(), "Memo2");
  ClickAbout();
  QVERIFY(QTest::qWaitForWindowActive(form2_.get()));
  QCOMPARE(QApplication::focusWidget(), memo1);
  QTest::keyClick(memo1, Qt::Key_Tab);  // Memo2 is next in the tab order
  QCOMPARE(QApplication::focusWidget(), memo2);

  // Back to the main window, then the About window closed and shown again.
  form1_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(form1_.get()));
  Child<QWidget>(form1_.get(), "Edit1")->setFocus();
  form2_->close();
  ClickAbout();
  QVERIFY(QTest::qWaitForWindowActive(form2_.get()));
  QCOMPARE(QApplication::focusWidget(), memo2);

  // And back to Memo1 when it was the last to hold the focus.
  memo1->setFocus();
  form2_->close();
  ClickAbout();
  QVERIFY(QTest::qWaitForWindowActive(form2_.get()));
  QCOMPARE(QApplication::focusWidget(), memo1);
}

void AboutWindowTest::destroyedWhileTextBoxHasFocus() {
  // At the program's end the About window goes while a text box of it may
  // hold the focus; the focus moves on while its controls are being deleted.
  ClickAbout();
  QVERIFY(QTest::qWaitForWindowActive(form2_.get()));
  Child<QWidget>(form2_.get(), "Memo2")->setFocus();
  QCOMPARE(QApplication::focusWidget()->objectName(), QString("Memo2"));
  form2_.reset();
  QCOMPARE(Form2, nullptr);
  QVERIFY(QApplication::focusWidget() == nullptr ||
          QApplication::focusWidget()->window() == form1_.get());
}

void AboutWindowTest::links_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("other");
  QTest::addColumn<QString>("address");
  QTest::newRow("Label5") << "Label5"
                          << "Label7"
                          << "https://debian.org/";
  QTest::newRow("Label7") << "Label7"
                          << "Label5"
                          << "https://rfc-editor.org/";
}

void AboutWindowTest::links() {
  QFETCH(QString, name);
  QFETCH(QString, other);
  QFETCH(QString, address);
  ClickAbout();
  QVERIFY(QTest::qWaitForWindowExposed(form2_.get()));
  auto* link = form2_->findChild<QLabel*>(name);
  auto* other_link = form2_->findChild<QLabel*>(other);
  QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
  QVERIFY(!link->font().underline() && !link->font().bold() && !link->font().italic());

  // Moving over it: underline alone, on this link only.
  QFont styled = link->font();
  styled.setBold(true);
  styled.setItalic(true);
  link->setFont(styled);
  // The offscreen platform turns QTest::mouseMove into enter and leave only,
  // so the move the label would get from the window system is sent to it.
  const QPointF inside = link->rect().center();
  QMouseEvent move(QEvent::MouseMove, inside, link->mapToGlobal(inside), Qt::NoButton, Qt::NoButton,
                   {});
  QApplication::sendEvent(link, &move);
  QVERIFY(link->font().underline());
  QVERIFY(!link->font().bold());
  QVERIFY(!link->font().italic());
  QVERIFY(!other_link->font().underline());

  // Leaving: the underline goes, any other style stays.
  styled = link->font();
  styled.setItalic(true);
  link->setFont(styled);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(link, &leave);
  QVERIFY(!link->font().underline());
  QVERIFY(link->font().italic());

  // A press and release inside opens the label's address with a "/" added.
  QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
  QCOMPARE(browser_.opened.size(), 1);
  QCOMPARE(browser_.opened.first().toString(), address);

  // Pressed inside, released outside, or another button: nothing opens.
  const QPointF outside(link->width() + 5, link->height() / 2);
  QMouseEvent press(QEvent::MouseButtonPress, inside, link->mapToGlobal(inside), Qt::LeftButton,
                    Qt::LeftButton, {});
  QMouseEvent release(QEvent::MouseButtonRelease, outside, link->mapToGlobal(outside),
                      Qt::LeftButton, Qt::NoButton, {});
  QApplication::sendEvent(link, &press);
  QApplication::sendEvent(link, &release);
  QTest::mouseClick(link, Qt::RightButton, {}, link->rect().center());
  QCOMPARE(browser_.opened.size(), 1);
}

void AboutWindowTest::minimisedWindowComesBackNormalAndActive() {
  ClickAbout();
  QVERIFY(QTest::qWaitForWindowActive(form2_.get()));
  form2_->showMinimized();
  QTRY_VERIFY(form2_->isMinimized());
  form1_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(form1_.get()));

  ClickAbout();
  QCOMPARE(form2_->windowState(), Qt::WindowNoState);
  QVERIFY(form2_->isVisible());
  QVERIFY(QTest::qWaitForWindowActive(form2_.get()));
  QCOMPARE(QApplication::focusWidget()->objectName(), QString("Memo1"));
}

void AboutWindowTest::linksAreDrawnReadableBlue_data() {
  QTest::addColumn<bool>("dark");
  QTest::newRow("light") << false;
  QTest::newRow("dark") << true;
}

void AboutWindowTest::linksAreDrawnReadableBlue() {
  QFETCH(bool, dark);
  const QPalette before = QApplication::palette();
  if (dark) {
    // A dark theme whose own link colour is too dark to read there.
    QPalette palette(QColor(0x35, 0x35, 0x35));
    palette.setColor(QPalette::Link, QColor(0x1d, 0x60, 0xc0));
    QApplication::setPalette(palette);
    form2_.reset();  // the About window as started under that theme
    form2_ = std::make_unique<TForm2>();
  }
  ClickAbout();
  QVERIFY(QTest::qWaitForWindowExposed(form2_.get()));
  for (const char* name : {"Label5", "Label7"}) {
    const QImage drawn = Child<QLabel>(form2_.get(), name)->grab().toImage();
    const auto [blue, contrast] = BluePixels(drawn);
    QVERIFY2(blue > 20, name);
    QVERIFY2(contrast >= kReadableContrast, qPrintable(QString::number(contrast)));
    // Pure blue where the background is light.
    QCOMPARE(drawn.pixelColor(0, 0).lightness() > 128, !dark);
    if (!dark) QCOMPARE(StrongestBlueHue(drawn), QColor(Qt::blue).hsvHue());
  }
  // The plain labels beside them are not blue.
  QCOMPARE(BluePixels(Child<QLabel>(form2_.get(), "Label4")->grab().toImage()).first, 0);
  QApplication::setPalette(before);
}

void AboutWindowTest::textBoxesAreNamedByTheirLabels() {
  const auto name = [this](const char* box) {
    return QAccessible::queryAccessibleInterface(Child<QWidget>(form2_.get(), box))
        ->text(QAccessible::Name);
  };
  QCOMPARE(name("Memo1"), QStringLiteral("О программе"));
  QCOMPARE(name("Memo2"), QStringLiteral("Поблагодарить автора:"));
}

void AboutWindowTest::linkWithoutBrowserSaysSo() {
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));  // the offscreen desktop has none
  ClickAbout();
  QVERIFY(QTest::qWaitForWindowExposed(form2_.get()));
  auto* link = Child<QLabel>(form2_.get(), "Label7");
  QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
  QCOMPARE(boxes_, QStringList{QStringLiteral(
                       "Не удалось открыть ссылку \"https://rfc-editor.org/\" в браузере.")});
  boxes_.clear();
  QVERIFY(form2_->isVisible());
}

void AboutWindowTest::screenshot() {
  ClickAbout();
  QVERIFY(QTest::qWaitForWindowExposed(form2_.get()));
  SaveScreenshot(*form2_, "about.png");
}

void AboutWindowTest::screenshotDark() {
  const QPalette before = QApplication::palette();
  if (qEnvironmentVariableIsEmpty("DUPFIND_THEME_PALETTE"))
    QApplication::setPalette(QPalette(QColor(0x35, 0x35, 0x35)));
  form2_.reset();
  form2_ = std::make_unique<TForm2>();
  ClickAbout();
  QVERIFY(QTest::qWaitForWindowExposed(form2_.get()));
  SaveScreenshot(*form2_, "about_dark.png");
  QApplication::setPalette(before);
}

}  // namespace dupfind

DUPFIND_QTEST_MAIN(dupfind::AboutWindowTest)
#include "Unit2_test.moc"
