// The main window driven as a user would: typing, clicks and keys on the real
// widgets, with error boxes read through the presenter seam.

#include <sys/stat.h>

#include <qpa/qwindowsysteminterface.h>

#include <QAccessible>
#include <QCryptographicHash>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <linux/magic.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>

#include "qt_test_main.h"
#include "screenshot.h"
#include "tests/support/syscall_hooks.h"
#include "tests/support/temp_dir.h"
#include "ui/Unit1.h"
#include "ui/contrast.h"
#include "ui/error_box.h"

namespace dupfind {
namespace {

const QString kSearchDone = QStringLiteral("Поиск дублей завершен");
const QString kFormCleared = QStringLiteral("Форма очищена");

using test::Exists;

std::string DigestText(const std::string& content) {
  return QCryptographicHash::hash(QByteArray::fromStdString(content), QCryptographicHash::Md5)
      .toHex()
      .toUpper()
      .toStdString();
}

// The files beneath `folder` as the scan meets them: depth first, in the
// order the file system lists each folder.
void ScanOrder(const std::string& folder, std::vector<std::string>* paths) {
  for (const std::string& name : test::Listing(folder)) {
    struct stat status;
    QCOMPARE(::stat((folder + name).c_str(), &status), 0);
    if (S_ISDIR(status.st_mode))
      ScanOrder(folder + name + "/", paths);
    else
      paths->push_back(folder + name);
  }
}

// The most common colour of `image`, its background, and the greatest contrast
// any of its pixels has with it.
std::pair<QColor, double> BackgroundAndContrast(const QImage& image) {
  std::map<QRgb, int> counts;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x)
      ++counts[image.pixel(x, y)];
  }
  const QColor background(std::max_element(counts.begin(), counts.end(), [](auto a, auto b) {
                            return a.second < b.second;
                          })->first);
  double most = 1;
  for (const auto& [pixel, count] : counts)
    most = std::max(most, Contrast(QColor(pixel), background));
  return {background, most};
}

// A dark desktop theme's palette, as Qt derives one from a dark button colour,
// with the dark text fields such themes have.
QPalette DarkPalette() {
  QPalette dark(QColor(0x35, 0x35, 0x35));
  for (const auto group : {QPalette::Active, QPalette::Inactive}) {
    dark.setColor(group, QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
    dark.setColor(group, QPalette::Text, Qt::white);
  }
  dark.setColor(QPalette::Disabled, QPalette::Base, QColor(0x35, 0x35, 0x35));
  dark.setColor(QPalette::Disabled, QPalette::Text, QColor(0x60, 0x60, 0x60));
  return dark;
}

QStringList Shown(const QListView* view) {
  QStringList rows;
  for (int i = 0; i < view->model()->rowCount(); ++i)
    rows << view->model()->data(view->model()->index(i, 0)).toString();
  return rows;
}

// Holds the open of the file named `name` where it happens, until released.
// Each wait is bounded, so that a fault makes the test fail rather than hang.
class HeldOpen {
 public:
  explicit HeldOpen(std::string name)
      : name_(std::move(name)), hook_([this](test::Call call, int, const char* path) {
          if (call == test::Call::kOpen && path == name_) Hold();
        }) {}

  // Whether the open has been reached (waiting for it a while).
  bool Reached() {
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_for(guard, std::chrono::seconds(10), [this] { return reached_; });
  }
  void Release() {
    const std::lock_guard<std::mutex> guard(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  void Hold() {
    std::unique_lock<std::mutex> guard(mutex_);
    reached_ = true;
    changed_.notify_all();
    changed_.wait_for(guard, std::chrono::seconds(10), [this] { return released_; });
  }

  const std::string name_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool reached_ = false, released_ = false;  // guarded by mutex_
  test::ScopedCallHook hook_;
};

}  // namespace

class Unit1Test : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void windowAndControlsAreLaidOut_data();
  void windowAndControlsAreLaidOut();
  void windowIsFixedInSizeWithoutMaximise();
  void tabOrderCyclesThroughTheInputControls();
  void searchShowsTheGroupsInTheThreeColumns();
  void clearEmptiesListsAndFolderField();
  void lockedFileEndsSearchWithOnePeriodAndWindowGoesOn();
  void enterRunsOnlyAFocusedButton();
  void clickedRowIsDeletedFromDiskAndFromAllColumns();
  void nonUtf8NameIsShownDecodedAndDeletedByItsBytes();
  void closeDuringSearchWaitsForTheSearchToEnd();
  void deleteReadsWhileTheWindowRunsTimersAndHoldsClicks();
  void closeDuringDeleteWaitsForTheDeleteToEnd();
  void commandsClickedDuringScanRunNestedAndScanGoesOn();
  void windowAnswersWhileTheFileItNeedsIsHeldUp();
  void failingCommandStopsAtItsButton();
  void columnsStayAlignedScrolledToTheLastRow();
  void folderCutKeepsItsEndAndRowsDrawTheSameAfterDeletions();
  void rowToolTipShowsWholeNameFolderAndDigest();
  void emptyFocusedListShowsTheFocus();
  void controlsAndRowsAreNamedForAssistiveTechnology();
  void statusLineKeepsTheFileNameInSight();
  void folderCutTellsTheCopiesOfAGroupApart();
  void greyedColumnsAreReadable_data();
  void greyedColumnsAreReadable();
  void screenshot();
  void screenshotScrolledToTheBottom();
  void screenshotLongPaths();
  void screenshotDark();

 private:
  template <typename T = QWidget>
  T* Child(const char* name) {
    T* child = form_->findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr) qFatal("no child %s", name);
    return child;
  }
  QListView* View(int number) {
    return Child<QListView>(("ListBox" + std::to_string(number)).c_str());
  }

  // A file in the temporary folder; `name` may hold a subfolder, created here.
  std::string Put(const std::string& name, const std::string& content) {
    return tmp_->File(name, content);
  }

  // Rows whose folders share a long beginning, and more rows than the
  // columns show at once: `groups` pairs of copies, one copy of each pair in
  // a folder of its own named by its number.
  void PutLongFolderGroups(int groups) {
    const std::string common = "a long common beginning of every folder/and one more level/";
    for (int i = 0; i < groups; ++i) {
      const std::string number = std::to_string(i);
      Put(common + "copy number " + number + "/file" + number + ".txt", "content " + number);
      Put("file" + number + ".txt", "content " + number);
    }
  }

  // Row `row` of column `number` as drawn.
  QImage DrawnRow(int number, int row) {
    QListView* view = View(number);
    return view->viewport()->grab(view->visualRect(view->model()->index(row, 0))).toImage();
  }

  // Every row stands at the same height in the three columns, once the
  // views have laid out their rows, as they do before they paint.
  void ExpectAligned() {
    QCoreApplication::processEvents();
    const int scrolled = View(7)->verticalScrollBar()->value();
    QCOMPARE(View(8)->verticalScrollBar()->value(), scrolled);
    QCOMPARE(View(9)->verticalScrollBar()->value(), scrolled);
    for (int row = 0; row < View(7)->model()->rowCount(); ++row) {
      const int top = View(7)->visualRect(View(7)->model()->index(row, 0)).top();
      QCOMPARE(View(8)->visualRect(View(8)->model()->index(row, 0)).top(), top);
      QCOMPARE(View(9)->visualRect(View(9)->model()->index(row, 0)).top(), top);
    }
  }

  void TypeFolderAndSearch() {
    QTest::keyClicks(Child<QLineEdit>("Edit1"), QString::fromStdString(dir_));
    QTest::mouseClick(Child("Button2"), Qt::LeftButton);
  }

  void ClickRow(int row) {
    QListView* view = View(7);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->model()->index(row, 0)).center());
  }

  // Searches two copies and selects the first row; returns its path.
  std::string SearchTwoCopiesAndSelectOne() {
    Put("a", "same");
    Put("b", "same");
    TypeFolderAndSearch();
    ClickRow(0);
    return form_->ListBox8().Get(0) + form_->ListBox7().Get(0);
  }

  // A click on `widget` as the window system brings it: queued, not sent.
  void QueueClick(QWidget* widget) {
    const QPoint local = widget->mapTo(form_.get(), widget->rect().center());
    const QPoint global = form_->mapToGlobal(local);
    using Queue = QWindowSystemInterface::AsynchronousDelivery;
    QWindowSystemInterface::handleMouseEvent<Queue>(form_->windowHandle(), local, global,
                                                    Qt::LeftButton, Qt::LeftButton,
                                                    QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<Queue>(form_->windowHandle(), local, global,
                                                    Qt::NoButton, Qt::LeftButton,
                                                    QEvent::MouseButtonRelease);
  }

  std::vector<std::pair<QString, QString>> TakeBoxes() { return std::exchange(boxes_, {}); }
  // Expects that one error box has come up since the last call, showing `text`.
  void ExpectOneBox(const QString& text) {
    const auto boxes = TakeBoxes();
    QCOMPARE(boxes.size(), std::size_t{1});
    QCOMPARE(boxes[0].first, QStringLiteral("Unit1_test"));
    QCOMPARE(boxes[0].second, text);
  }

  // The example: copies under folders that end alike and part only
  // where a long shared beginning is cut off; a third copy in a folder of its
  // own. Returns the rows of the group, as the columns hold them.
  std::vector<int> PutCopiesInLikeFolders() {
    const std::string common = "Домашняя папка пользователя/Документы и снимки/";
    Put(common + "Резервная копия/Фото/оригиналы/IMG_0001.jpg", "same photo");
    Put(common + "Фото/оригиналы/IMG_0001.jpg", "same photo");
    Put(common + "Фото/оригиналы (2)/IMG_0001 (copy).jpg", "same photo");
    TypeFolderAndSearch();
    std::vector<int> rows;
    for (int row = 0; row < form_->ListBox8().Count(); ++row) {
      if (form_->ListBox8().Get(row) != "---") rows.push_back(row);
    }
    return rows;
  }

  std::unique_ptr<test::TempDir> tmp_;
  std::string dir_;  // the temporary folder, ending in "/"
  std::unique_ptr<TForm1> form_;
  std::vector<std::pair<QString, QString>> boxes_;  // caption, text
};

void Unit1Test::init() {
  tmp_ = std::make_unique<test::TempDir>();
  dir_ = tmp_->folder();
  SetErrorBoxPresenter(
      [this](const QString& caption, const QString& text) { boxes_.emplace_back(caption, text); });
  form_ = std::make_unique<TForm1>();
  QCOMPARE(Form1, static_cast<MainForm*>(form_.get()));
  form_->show();
  form_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(form_.get()));
}

void Unit1Test::cleanup() {
  form_.reset();
  QCOMPARE(Form1, nullptr);
  SetErrorBoxPresenter({});
  tmp_.reset();
  QVERIFY2(boxes_.empty(), qPrintable(boxes_.empty() ? QString() : boxes_.front().second));
}

void Unit1Test::windowAndControlsAreLaidOut_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QRect>("geometry");
  const auto row = [](const char* name, const char* text, int left, int top, int width,
                      int height) {
    QTest::newRow(name) << QString::fromUtf8(text) << QRect(left, top, width, height);
  };
  row("Label1", "Выберите папку:", 8, 8, 85, 13);
  row("Edit1", "", 8, 24, 177, 21);
  row("Button1", "Выбрать папку", 192, 24, 177, 25);
  row("Button2", "Найти", 376, 24, 177, 25);
  row("Label3", "Имя файла", 8, 56, 57, 13);
  row("Label4", "Путь", 192, 56, 24, 13);
  row("Label5", "Хэш", 376, 56, 21, 13);
  row("ListBox7", "", 8, 72, 177, 97);
  row("ListBox8", "", 192, 72, 177, 97);
  row("ListBox9", "", 376, 72, 177, 97);
  row("Button4", "Удалить выделеное", 8, 176, 177, 25);
  row("Button3", "Очистить форму", 192, 176, 177, 25);
  row("Button5", "О программе", 376, 176, 177, 25);
  row("StatusBar1", "", 0, 206, 561, 19);
}

void Unit1Test::windowAndControlsAreLaidOut() {
  QFETCH(QString, text);
  QFETCH(QRect, geometry);
  const QByteArray name = QTest::currentDataTag();
  QWidget* control = Child(name.constData());
  QCOMPARE(control->geometry(), geometry);
  QVERIFY(control->isVisible());
  if (auto* label = qobject_cast<QLabel*>(control)) QCOMPARE(label->text(), text);
  if (auto* button = qobject_cast<QPushButton*>(control)) {
    QCOMPARE(button->text(), text);
    QVERIFY(!button->isDefault() && !button->autoDefault());
  }
  if (auto* edit = qobject_cast<QLineEdit*>(control)) QCOMPARE(edit->text(), text);
  if (auto* bar = qobject_cast<QStatusBar*>(control)) {
    QCOMPARE(bar->currentMessage(), text);
    QVERIFY(!bar->isSizeGripEnabled());
  }
  QCOMPARE(control->isEnabled(), name != "ListBox8" && name != "ListBox9");
}

void Unit1Test::windowIsFixedInSizeWithoutMaximise() {
  QCOMPARE(form_->windowTitle(), QStringLiteral("Поиск дубликатов файлов"));
  QCOMPARE(form_->size(), QSize(561, 225));
  QCOMPARE(form_->minimumSize(), QSize(561, 225));
  QCOMPARE(form_->maximumSize(), QSize(561, 225));
  const Qt::WindowFlags flags = form_->windowFlags();
  QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));  // else Qt adds its own buttons
  QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
  QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
  QCOMPARE(form_->font().pixelSize(), 11);
  // Only the three result columns are list widgets; the working lists are not shown.
  QCOMPARE(form_->findChildren<QListView*>().size(), 3);
}

void Unit1Test::tabOrderCyclesThroughTheInputControls() {
  const std::vector<QWidget*> order = {Child("Edit1"),   Child("Button1"), Child("Button2"),
                                       Child("Button3"), Child("Button4"), Child("ListBox7"),
                                       Child("Button5"), Child("Edit1")};
  QCOMPARE(form_->focusWidget(), order[0]);
  QCOMPARE(QApplication::focusWidget(), order[0]);
  for (std::size_t i = 1; i < order.size(); ++i) {
    QTest::keyClick(form_->focusWidget(), Qt::Key_Tab);
    QCOMPARE(form_->focusWidget()->objectName(), order[i]->objectName());
  }
  for (std::size_t i = order.size() - 1; i > 0; --i) {
    QTest::keyClick(form_->focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(form_->focusWidget()->objectName(), order[i - 1]->objectName());
  }
}

void Unit1Test::searchShowsTheGroupsInTheThreeColumns() {
  // Three groups (one of them in two folders, one of empty files) and two
  // files without a partner.
  const char* const files[][2] = {{"a.txt", "x"},   {"b.txt", "x"},    {"c.txt", "yy"},
                                  {"d.txt", "zzz"}, {"e.txt", "x"},    {"sub/f.txt", "yy"},
                                  {"g.txt", ""},    {"sub/h.txt", ""}, {"i.txt", "w"}};
  std::map<std::string, std::string> content;  // path -> content
  for (const auto& [name, text] : files)
    content[Put(name, text)] = text;
  TypeFolderAndSearch();

  // Groups of equal content, the latest scanned row first in each group and
  // the group whose latest row was scanned last first.
  std::vector<std::string> scanned;
  ScanOrder(dir_, &scanned);
  QCOMPARE(scanned.size(), content.size());
  std::vector<std::vector<std::string>> groups;
  for (auto path = scanned.rbegin(); path != scanned.rend(); ++path) {
    auto group = std::find_if(groups.begin(), groups.end(),
                              [&](const auto& g) { return content[g.front()] == content[*path]; });
    if (group == groups.end())
      groups.push_back({*path});
    else
      group->push_back(*path);
  }
  QStringList names, folders, digests;
  for (const auto& group : groups) {
    if (group.size() < 2) continue;
    for (const std::string& path : group) {
      names << QString::fromStdString(path.substr(path.rfind('/') + 1));
      folders << QString::fromStdString(path.substr(0, path.rfind('/') + 1));
      digests << QString::fromStdString(DigestText(content[path]));
    }
    names << "---";
    folders << "---";
    digests << "---";
  }
  QCOMPARE(names.size(), 3 + 2 + 2 + 3);
  QCOMPARE(Shown(View(7)), names);
  QCOMPARE(Shown(View(8)), folders);
  QCOMPARE(Shown(View(9)), digests);
  QCOMPARE(form_->ListBox7().Count(), names.size());
  QCOMPARE(form_->ListBox7().ItemIndex(), -1);

  QCOMPARE(QString::fromStdString(form_->StatusText()), kSearchDone);
  QTRY_COMPARE(Child<QStatusBar>("StatusBar1")->currentMessage(), kSearchDone);
}

void Unit1Test::clearEmptiesListsAndFolderField() {
  Put("a", "1");
  Put("b", "1");
  Put("c", "2");
  TypeFolderAndSearch();
  QCOMPARE(View(7)->model()->rowCount(), 3);
  QVERIFY(form_->ListBox1().Count() > 0);  // c stays in the working lists

  QTest::mouseClick(Child("Button3"), Qt::LeftButton);
  for (TextList* list : {&form_->ListBox1(), &form_->ListBox2(), &form_->ListBox3(),
                         &form_->ListBox4(), &form_->ListBox5(), &form_->ListBox6(),
                         &form_->ListBox7(), &form_->ListBox8(), &form_->ListBox9()}) {
    QCOMPARE(list->Count(), 0);
  }
  for (int number : {7, 8, 9})
    QCOMPARE(View(number)->model()->rowCount(), 0);
  QCOMPARE(Child<QLineEdit>("Edit1")->text(), QString());
  QCOMPARE(form_->FolderText(), std::string());
  QCOMPARE(QString::fromStdString(form_->StatusText()), kFormCleared);
  QTRY_COMPARE(Child<QStatusBar>("StatusBar1")->currentMessage(), kFormCleared);
}

void Unit1Test::lockedFileEndsSearchWithOnePeriodAndWindowGoesOn() {
  Put("a.txt", "same");
  Put("b.txt", "same");
  const std::string locked = Put("locked.txt", "other");
  {
    const test::FileLock lock(locked);
    TypeFolderAndSearch();
  }
  ExpectOneBox(QString::fromStdString(test::LockedError(locked) + "."));
  QCOMPARE(form_->ListBox7().Count(), 0);
  QVERIFY(QString::fromStdString(form_->StatusText()) != kSearchDone);

  // Unlocked, the same window searches again.
  QTest::mouseClick(Child("Button2"), Qt::LeftButton);
  QCOMPARE(Shown(View(7)).size(), 3);
  QCOMPARE(QString::fromStdString(form_->StatusText()), kSearchDone);
}

void Unit1Test::enterRunsOnlyAFocusedButton() {
  Put("a", "1");
  Put("b", "1");
  TypeFolderAndSearch();
  QCOMPARE(form_->ListBox7().Count(), 3);
  QCOMPARE(form_->focusWidget(), Child("Button2"));  // a clicked button takes the focus

  // Enter on the focused button searches again and finds the new copy.
  Put("c", "1");
  form_->SetStatusText("idle");
  QTest::keyClick(Child("Button2"), Qt::Key_Return);
  QCOMPARE(form_->ListBox7().Count(), 4);
  QCOMPARE(form_->StatusText(), kSearchDone.toStdString());
  Put("d", "1");
  form_->SetStatusText("idle");
  QTest::keyClick(Child("Button2"), Qt::Key_Enter, Qt::KeypadModifier);
  QCOMPARE(form_->ListBox7().Count(), 5);

  // Nowhere else does Enter or Esc start a command: not in the folder field,
  // not in the list with a row selected, and Esc not even on a button.
  Put("e", "1");
  ClickRow(0);
  QCOMPARE(form_->ListBox7().ItemIndex(), 0);
  form_->SetStatusText("idle");
  const std::string first = form_->ListBox8().Get(0) + form_->ListBox7().Get(0);
  for (const char* name : {"Edit1", "ListBox7"}) {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
      QTest::keyClick(Child(name), key);
  }
  for (const char* name : {"Button2", "Button3", "Button4"})
    QTest::keyClick(Child(name), Qt::Key_Escape);
  QCOMPARE(form_->StatusText(), std::string("idle"));
  QCOMPARE(form_->ListBox7().Count(), 5);
  QVERIFY(Exists(first));
}

void Unit1Test::clickedRowIsDeletedFromDiskAndFromAllColumns() {
  Put("a", "1");
  Put("b", "1");
  Put("c", "1");
  TypeFolderAndSearch();
  QCOMPARE(form_->ListBox7().Count(), 4);

  ClickRow(1);
  QCOMPARE(form_->ListBox7().ItemIndex(), 1);
  const std::string gone = form_->ListBox8().Get(1) + form_->ListBox7().Get(1);
  const QStringList before = Shown(View(7));
  QTest::mouseClick(Child("Button4"), Qt::LeftButton);
  QVERIFY(!Exists(gone));
  QStringList after = before;
  after.removeAt(1);
  QCOMPARE(Shown(View(7)), after);
  QCOMPARE(View(8)->model()->rowCount(), 3);
  QCOMPARE(View(9)->model()->rowCount(), 3);
  QCOMPARE(form_->ListBox7().ItemIndex(), -1);

  // With nothing selected, a second press shows the list's error unchanged and
  // touches nothing.
  QTest::mouseClick(Child("Button4"), Qt::LeftButton);
  ExpectOneBox(QStringLiteral("List index out of bounds (-1)"));
  QCOMPARE(Shown(View(7)), after);
}

void Unit1Test::nonUtf8NameIsShownDecodedAndDeletedByItsBytes() {
  const std::string raw = Put("caf\xE9.txt", "same");
  const std::string plain = Put("cafe.txt", "same");
  TypeFolderAndSearch();
  QCOMPARE(form_->ListBox7().Count(), 3);
  const int row = form_->ListBox7().Get(0) == "caf\xE9.txt" ? 0 : 1;
  QCOMPARE(form_->ListBox7().Get(row), std::string("caf\xE9.txt"));
  QCOMPARE(Shown(View(7)).at(row), QStringLiteral("caf\uFFFD.txt"));

  ClickRow(row);
  QTest::mouseClick(Child("Button4"), Qt::LeftButton);
  QVERIFY(!Exists(raw));
  QVERIFY(Exists(plain));
  QCOMPARE(Shown(View(7)), QStringList({"cafe.txt", "---"}));
}

void Unit1Test::closeDuringSearchWaitsForTheSearchToEnd() {
  for (int i = 0; i < 5; ++i)
    Put("f" + std::to_string(i), i < 2 ? "dup" : std::to_string(i));
  bool visible_after_close = false;
  std::string status_at_close;
  // Delivered while the scan waits for the first file, or after it.
  QTimer::singleShot(0, form_.get(), [&] {
    status_at_close = form_->StatusText();
    form_->close();
    visible_after_close = form_->isVisible();
  });
  TypeFolderAndSearch();
  QVERIFY(status_at_close.empty() || status_at_close.starts_with(dir_));  // the scan was running
  QVERIFY(visible_after_close);
  QCOMPARE(QString::fromStdString(form_->StatusText()), kSearchDone);
  QCOMPARE(form_->ListBox7().Count(), 3);
  QVERIFY(!form_->isVisible());
}

// The delete reads its file on a thread of its own; meanwhile the window runs
// its timers, and a click waits until the delete has ended.
void Unit1Test::deleteReadsWhileTheWindowRunsTimersAndHoldsClicks() {
  const std::string deleted = SearchTwoCopiesAndSelectOne();
  bool delete_ended = false, timer_ran_during_read = false;
  bool cleared = false, cleared_after_delete = false;
  // Connected after the command: runs once it has returned.
  connect(Child<QPushButton>("Button4"), &QPushButton::clicked, [&] { delete_ended = true; });
  connect(Child<QPushButton>("Button3"), &QPushButton::clicked, [&] {
    cleared = true;
    cleared_after_delete = delete_ended;
  });
  HeldOpen held(form_->ListBox7().Get(0));
  QTimer::singleShot(0, form_.get(), [&] {
    timer_ran_during_read = held.Reached() && !delete_ended;
    QueueClick(Child("Button3"));
    held.Release();
  });
  QTest::mouseClick(Child("Button4"), Qt::LeftButton);
  QVERIFY(delete_ended);
  QVERIFY(timer_ran_during_read);
  QVERIFY(!Exists(deleted));
  QCoreApplication::processEvents();
  QVERIFY(cleared);
  QVERIFY(cleared_after_delete);
  QCOMPARE(form_->ListBox7().Count(), 0);
}

void Unit1Test::closeDuringDeleteWaitsForTheDeleteToEnd() {
  const std::string deleted = SearchTwoCopiesAndSelectOne();
  bool visible_after_close = false;
  HeldOpen held(form_->ListBox7().Get(0));
  QTimer::singleShot(0, form_.get(), [&] {
    held.Reached();
    form_->close();
    visible_after_close = form_->isVisible();
    held.Release();
  });
  QTest::mouseClick(Child("Button4"), Qt::LeftButton);
  QVERIFY(visible_after_close);
  QVERIFY(!Exists(deleted));
  QCOMPARE(form_->ListBox7().Count(), 2);
  QVERIFY(!form_->isVisible());
}

void Unit1Test::commandsClickedDuringScanRunNestedAndScanGoesOn() {
  const int files = 6;
  for (int i = 0; i < files; ++i)
    Put("f" + std::to_string(i), std::to_string(i));
  int scanned_before_clear = -1;
  bool cleared_at_once = false;
  QTimer::singleShot(0, form_.get(), [&] {
    scanned_before_clear = form_->ListBox1().Count();
    QTest::mouseClick(Child("Button3"), Qt::LeftButton);
    cleared_at_once =
        form_->ListBox1().Count() == 0 && form_->StatusText() == kFormCleared.toStdString();
  });
  // A failing command inside the scan ends alone.
  QTimer::singleShot(0, Child<QPushButton>("Button4"), &QPushButton::click);
  TypeFolderAndSearch();
  QVERIFY(scanned_before_clear >= 0 && scanned_before_clear < files);
  QVERIFY(cleared_at_once);
  QCOMPARE(TakeBoxes().size(), std::size_t{1});
  // The outer scan went on after the clear, with the rest of the files.
  QCOMPARE(form_->ListBox1().Count(), files - scanned_before_clear);
  QCOMPARE(QString::fromStdString(form_->StatusText()), kSearchDone);
  QCOMPARE(Child<QLineEdit>("Edit1")->text(), QString());
}

// The scan's file is held up in the system: the window goes on handling its
// events meanwhile, and a command started then sees the rows of the files
// before it; the scan goes on after it.
void Unit1Test::windowAnswersWhileTheFileItNeedsIsHeldUp() {
  for (int i = 0; i < 3; ++i)
    Put("f" + std::to_string(i), std::to_string(i));
  const std::vector<std::string> listed = test::Listing(dir_);
  const test::ScopedFileSystemType remote(FUSE_SUPER_MAGIC);  // read by the helpers
  std::mutex mutex;
  std::condition_variable released;
  bool release = false, posted = false;
  int rows_then = -1;
  std::string status_then;
  test::ScopedCallHook hook([&](test::Call call, int fd, const char*) {
    if (call != test::Call::kRead) return;
    std::error_code error;
    if (std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error).filename() !=
        listed[1]) {
      return;
    }
    std::unique_lock<std::mutex> lock(mutex);
    if (posted) return;
    posted = true;
    // Runs on the window thread once the file before is shown.
    std::function<void()> act = [&] {
      if (form_->ListBox1().Count() == 0) return QTimer::singleShot(0, form_.get(), act);
      rows_then = form_->ListBox1().Count();
      status_then = form_->StatusText();
      QTest::mouseClick(Child("Button3"), Qt::LeftButton);  // clear, run nested
      const std::lock_guard<std::mutex> guard(mutex);
      release = true;
      released.notify_all();
    };
    QMetaObject::invokeMethod(form_.get(), act);
    // A window that waited for the read itself would never get there.
    released.wait_for(lock, std::chrono::seconds(10), [&] { return release; });
  });
  TypeFolderAndSearch();
  QCOMPARE(rows_then, 1);
  QCOMPARE(status_then, dir_ + listed[0]);
  // The clear emptied the first row; the scan went on with the others.
  QCOMPARE(form_->ListBox1().Count(), 2);
  QCOMPARE(QString::fromStdString(form_->StatusText()), kSearchDone);
}

void Unit1Test::failingCommandStopsAtItsButton() {
  // A click that reaches the button without an event, as a shortcut's or a
  // timer's would: the command's error must stop in the slot, not come out
  // of QAbstractButton::click (nor reach the event loop's guard).
  auto* button = Child<QPushButton>("Button4");
  button->click();
  ExpectOneBox(QStringLiteral("List index out of bounds (-1)"));
  QTest::keyClick(button, Qt::Key_Return);  // the window still takes input
  ExpectOneBox(QStringLiteral("List index out of bounds (-1)"));
}

void Unit1Test::columnsStayAlignedScrolledToTheLastRow() {
  PutLongFolderGroups(6);
  TypeFolderAndSearch();
  QCOMPARE(form_->ListBox7().Count(), 6 * 3);
  ClickRow(0);
  QTest::keyClick(View(7), Qt::Key_End);  // to the last row, as a user would
  QVERIFY(View(7)->verticalScrollBar()->value() > 0);
  ExpectAligned();

  // Deleting the last copy while scrolled to the bottom: the columns move up together.
  QTest::keyClick(View(7), Qt::Key_Up);
  const int last = form_->ListBox7().Count() - 2;
  QCOMPARE(form_->ListBox7().ItemIndex(), last);
  const int before = View(7)->verticalScrollBar()->value();
  QTest::mouseClick(Child("Button4"), Qt::LeftButton);
  QCOMPARE(form_->ListBox7().Count(), 6 * 3 - 1);
  QCOMPARE(View(7)->verticalScrollBar()->value(), before - 1);
  ExpectAligned();

  // Dragging the names column's scroll bar back to the top; then a new search.
  View(7)->verticalScrollBar()->setValue(0);
  ExpectAligned();
  View(7)->verticalScrollBar()->setValue(3);
  QTest::mouseClick(Child("Button2"), Qt::LeftButton);
  ExpectAligned();
}

void Unit1Test::folderCutKeepsItsEndAndRowsDrawTheSameAfterDeletions() {
  PutLongFolderGroups(2);
  TypeFolderAndSearch();
  std::vector<int> long_rows;  // the two rows whose folders differ only at their end
  for (int row = 0; row < form_->ListBox8().Count(); ++row) {
    if (form_->ListBox8().Get(row).find("copy number") != std::string::npos)
      long_rows.push_back(row);
  }
  QCOMPARE(long_rows.size(), std::size_t{2});
  QVERIFY(View(8)->fontMetrics().horizontalAdvance(QString::fromStdString(
              form_->ListBox8().Get(long_rows[0]))) > View(8)->viewport()->width());
  QVERIFY(DrawnRow(8, long_rows[0]) != DrawnRow(8, long_rows[1]));

  // No column scrolls sideways, and deleting rows, the last one first (the
  // closing "---", then the copy above it), changes how none is drawn.
  const QImage folder = DrawnRow(8, 0), digest = DrawnRow(9, 0);
  for (int deleted = 0; deleted <= 4; ++deleted) {
    QCoreApplication::processEvents();
    for (int number : {7, 8, 9}) {
      QVERIFY(!View(number)->horizontalScrollBar()->isVisible());
      QCOMPARE(View(number)->horizontalScrollBar()->maximum(), 0);
    }
    QCOMPARE(DrawnRow(8, 0), folder);
    QCOMPARE(DrawnRow(9, 0), digest);
    if (deleted == 4) break;
    form_->ListBox7().SetItemIndex(form_->ListBox7().Count() - 1);
    QTest::mouseClick(Child("Button4"), Qt::LeftButton);
  }
  QCOMPARE(form_->ListBox7().Count(), 2);
}

void Unit1Test::rowToolTipShowsWholeNameFolderAndDigest() {
  PutLongFolderGroups(1);
  TypeFolderAndSearch();
  QCOMPARE(form_->ListBox7().Count(), 3);
  QListView* names = View(7);
  const auto hover = [names](int row) {
    const QPoint at = names->visualRect(names->model()->index(row, 0)).center();
    QHelpEvent help(QEvent::ToolTip, at, names->viewport()->mapToGlobal(at));
    QApplication::sendEvent(names->viewport(), &help);
  };
  QStringList tips;
  for (int row : {0, 1}) {
    hover(row);
    const QString expected =
        QStringLiteral("Имя файла: ") + QString::fromStdString(form_->ListBox7().Get(row)) +
        QStringLiteral("\nПуть: ") + QString::fromStdString(form_->ListBox8().Get(row)) +
        QStringLiteral("\nХэш: ") + QString::fromStdString(DigestText("content 0"));
    QTRY_COMPARE(QToolTip::text(), expected);
    tips << QToolTip::text();
  }
  // Whichever row the file system listed first, one folder is the long one, whole.
  QVERIFY(tips.join('\n').contains(QStringLiteral("a long common beginning")));
  QToolTip::hideText();
  hover(2);  // the separator has none
  QVERIFY(names->model()->data(names->model()->index(2, 0), Qt::ToolTipRole).isNull());

  // The greyed columns tell the whole row too.
  for (int number : {8, 9}) {
    QListView* column = View(number);
    QToolTip::hideText();
    QTRY_VERIFY(!QToolTip::isVisible());
    const QPoint at = column->visualRect(column->model()->index(1, 0)).center();
    QHelpEvent help(QEvent::ToolTip, at, column->viewport()->mapToGlobal(at));
    QApplication::sendEvent(column->viewport(), &help);
    QTRY_VERIFY(QToolTip::isVisible());
    QVERIFY(QToolTip::text().startsWith(QStringLiteral("Имя файла: ") +
                                        QString::fromStdString(form_->ListBox7().Get(1))));
    QVERIFY(column->model()->data(column->model()->index(2, 0), Qt::ToolTipRole).isNull());
  }
}

void Unit1Test::emptyFocusedListShowsTheFocus() {
  QListView* names = View(7);
  QCOMPARE(names->model()->rowCount(), 0);
  const QImage unfocused = names->grab().toImage();
  for (const char* name : {"Edit1", "Button1", "Button2", "Button3", "Button4"})
    QTest::keyClick(Child(name), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), names);
  QVERIFY(names->grab().toImage() != unfocused);
  QTest::keyClick(names, Qt::Key_Tab);
  QCOMPARE(names->grab().toImage(), unfocused);
}

void Unit1Test::controlsAndRowsAreNamedForAssistiveTechnology() {
  const auto name = [](QObject* object) {
    return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name);
  };
  QCOMPARE(name(Child("Edit1")), QStringLiteral("Выберите папку:"));
  QCOMPARE(name(View(7)), QStringLiteral("Имя файла"));
  QCOMPARE(name(View(8)), QStringLiteral("Путь"));
  QCOMPARE(name(View(9)), QStringLiteral("Хэш"));
  for (const char* label : {"Label1", "Label3", "Label4", "Label5"})
    QVERIFY(!Child<QLabel>(label)->text().contains('&'));  // no shortcut came with the link

  Put("a.txt", "same");
  Put("sub/b.txt", "same");
  TypeFolderAndSearch();
  QCOMPARE(form_->ListBox7().Count(), 3);
  QAccessibleInterface* names = QAccessible::queryAccessibleInterface(View(7));
  QCOMPARE(names->childCount(), 3);
  for (int row : {0, 1}) {
    QAccessibleInterface* cell = names->child(row);
    QCOMPARE(cell->text(QAccessible::Name), QString::fromStdString(form_->ListBox7().Get(row)));
    QCOMPARE(cell->text(QAccessible::Description),
             QStringLiteral("Путь: ") + QString::fromStdString(form_->ListBox8().Get(row)) +
                 QStringLiteral(", Хэш: ") + QString::fromStdString(DigestText("same")));
  }
  for (int number : {7, 8, 9}) {
    QAccessibleInterface* separator = QAccessible::queryAccessibleInterface(View(number))->child(2);
    QCOMPARE(separator->text(QAccessible::Name), QStringLiteral("Конец группы"));
    QCOMPARE(separator->text(QAccessible::Description), QString());
  }
  // The status line reads as its text.
  QTRY_COMPARE(name(Child("StatusBar1")), kSearchDone);
}

void Unit1Test::statusLineKeepsTheFileNameInSight() {
  auto* bar = Child<QStatusBar>("StatusBar1");
  const QString name = QStringLiteral("IMG_0001 (copy).jpg");
  QString path = QString::fromStdString(dir_);
  while (bar->fontMetrics().horizontalAdvance(path) < 2 * bar->width())
    path += QStringLiteral("Резервная копия/");
  path += name;
  form_->SetStatusText(path.toStdString());
  QTRY_VERIFY(bar->currentMessage().endsWith(QStringLiteral("/") + name));
  const QString shown = bar->currentMessage();
  QVERIFY(shown.startsWith(QStringLiteral("…")));
  QVERIFY(bar->fontMetrics().horizontalAdvance(shown) <= bar->contentsRect().width() - 18);
  QCOMPARE(bar->toolTip(), path);
  QCOMPARE(QAccessible::queryAccessibleInterface(bar)->text(QAccessible::Name), path);
  // And as it is drawn: the name's end reaches the text's right end, unclipped.
  const QImage drawn = bar->grab().toImage();
  const int right = bar->contentsRect().width() - 12;
  int last_ink = 0;
  for (int x = 0; x < drawn.width(); ++x) {
    for (int y = 0; y < drawn.height(); ++y) {
      if (Contrast(drawn.pixelColor(x, y), drawn.pixelColor(0, y)) > 3) last_ink = x;
    }
  }
  QVERIFY2(last_ink < right && last_ink > right - 40, qPrintable(QString::number(last_ink)));

  // A text that fits is shown as it is.
  form_->SetStatusText("Форма очищена");
  QTRY_COMPARE(bar->currentMessage(), kFormCleared);
  QCOMPARE(bar->toolTip(), kFormCleared);
}

void Unit1Test::folderCutTellsTheCopiesOfAGroupApart() {
  const std::vector<int> rows = PutCopiesInLikeFolders();
  QCOMPARE(rows.size(), std::size_t{3});
  for (int row : rows) {
    const QString folder = QString::fromStdString(form_->ListBox8().Get(row));
    QVERIFY(View(8)->fontMetrics().horizontalAdvance(folder) > View(8)->viewport()->width());
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (std::size_t j = i + 1; j < rows.size(); ++j)
      QVERIFY2(DrawnRow(8, rows[i]) != DrawnRow(8, rows[j]),
               qPrintable(QString("%1 %2").arg(i).arg(j)));
  }
}

void Unit1Test::greyedColumnsAreReadable_data() {
  QTest::addColumn<bool>("dark");
  QTest::newRow("light") << false;
  QTest::newRow("dark") << true;
}

void Unit1Test::greyedColumnsAreReadable() {
  QFETCH(bool, dark);
  // The measure itself, at two points the guidelines give.
  QCOMPARE(Contrast(Qt::black, Qt::white), 21.0);
  QCOMPARE(qRound(Contrast(QColor(0x77, 0x77, 0x77), Qt::white) * 100), 448);
  const QPalette before = QApplication::palette();
  if (dark) QApplication::setPalette(DarkPalette());
  Put("a", "1");
  Put("b", "1");
  TypeFolderAndSearch();
  QCoreApplication::processEvents();
  const auto [names_ground, names] = BackgroundAndContrast(DrawnRow(7, 0));
  for (int number : {8, 9}) {
    const auto [ground, contrast] = BackgroundAndContrast(DrawnRow(number, 0));
    QVERIFY2(contrast >= kReadableContrast, qPrintable(QString::number(contrast)));
    // Still greyed: fainter than the names beside them.
    QVERIFY2(contrast < names / 2, qPrintable(QString("%1 %2").arg(contrast).arg(names)));
    QCOMPARE(ground.lightness() > 128, !dark);
  }
  QApplication::setPalette(before);
}

// Not checks but pictures of the window, kept beside the build (or in the
// folder DUPFIND_SCREENSHOTS names) for anyone to look at.
void Unit1Test::screenshot() {
  Put("Documents/report.pdf", "%PDF-1.4 quarterly report");
  Put("Documents/notes.txt", "call the plumber");
  Put("Photos/photo.jpg", "JFIF holiday photo");
  Put("Photos/photo (copy).jpg", "JFIF holiday photo");
  Put("Music/song.mp3", "ID3 song");
  Put("Backup/report.pdf", "%PDF-1.4 quarterly report");
  Put("Backup/photo.jpg", "JFIF holiday photo");
  TypeFolderAndSearch();
  QCOMPARE(form_->ListBox7().Count(), 7);
  QTRY_COMPARE(Child<QStatusBar>("StatusBar1")->currentMessage(), kSearchDone);
  SaveScreenshot(*form_, "screenshot.png");
}

void Unit1Test::screenshotScrolledToTheBottom() {
  PutLongFolderGroups(5);
  TypeFolderAndSearch();
  ClickRow(0);
  QTest::keyClick(View(7), Qt::Key_End);
  QTest::keyClick(View(7), Qt::Key_Up);
  QTRY_COMPARE(Child<QStatusBar>("StatusBar1")->currentMessage(), kSearchDone);
  SaveScreenshot(*form_, "columns_scrolled.png");
}

// The like folders cut apart, and the status line as a scan shows a long path.
void Unit1Test::screenshotLongPaths() {
  PutCopiesInLikeFolders();
  form_->SetStatusText(form_->ListBox8().Get(0) + form_->ListBox7().Get(0));
  QTRY_VERIFY(Child<QStatusBar>("StatusBar1")->currentMessage().endsWith("jpg"));
  SaveScreenshot(*form_, "long_paths.png");
}

void Unit1Test::screenshotDark() {
  const QPalette before = QApplication::palette();
  if (qEnvironmentVariableIsEmpty("DUPFIND_THEME_PALETTE")) QApplication::setPalette(DarkPalette());
  PutCopiesInLikeFolders();
  ClickRow(0);
  QTRY_COMPARE(Child<QStatusBar>("StatusBar1")->currentMessage(), kSearchDone);
  SaveScreenshot(*form_, "dark.png");
  QApplication::setPalette(before);
}

}  // namespace dupfind

DUPFIND_QTEST_MAIN(dupfind::Unit1Test)
#include "Unit1_test.moc"
