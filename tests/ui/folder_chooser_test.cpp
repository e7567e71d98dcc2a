// The folder chooser behind the main window's "Выбрать папку" button: what it
// puts into the folder field, and the real dialog it opens.

#include "ui/folder_chooser.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qt_test_main.h"
#include "screenshot.h"
#include "ui/Unit1.h"
#include "ui/error_box.h"

namespace dupfind {
namespace {

namespace fs = std::filesystem;

// The three result columns, row by row.
std::vector<std::string> Results(TForm1& form) {
  std::vector<std::string> rows;
  for (int i = 0; i < form.ListBox7().Count(); ++i)
    rows.push_back(form.ListBox7().Get(i) + "|" + form.ListBox8().Get(i) + "|" +
                   form.ListBox9().Get(i));
  return rows;
}

}  // namespace

class FolderChooserTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void chosenFolderFillsField_data();
  void chosenFolderFillsField();
  void folderNameThatDoesNotLeadBackIsRefused();
  void cancelKeepsTypedFolder();
  void chosenAndTypedFolderSearchAlike();
  void realChooserIsModalFolderDialog();
  void realChooserReturnsConfirmedFolder();
  void realChooserSpeaksRussianAndShowsItsTitleAboveTheTree();
  void screenshot();

 private:
  // Answers the real dialog once it is up, from within its own event loop.
  void AnswerDialog(std::function<void(QFileDialog&)> answer);

  QPushButton* Button(const char* name) {
    return form_->findChild<QPushButton*>(QString::fromLatin1(name));
  }
  // A click on "Очистить форму" delivered through the main window, where the
  // window system's input is stopped while a modal window is up (QTest's
  // widget clicks bypass that check).
  void ClickClearAsWindowSystem() {
    QPushButton* button = Button("Button3");
    QTest::mouseClick(form_->windowHandle(), Qt::LeftButton, {},
                      button->mapTo(form_.get(), button->rect().center()));
  }
  QLineEdit* Edit1() { return form_->findChild<QLineEdit*>(QStringLiteral("Edit1")); }

  std::unique_ptr<TForm1> form_;
  QStringList titles_;  // every title the chooser was asked with
};

void FolderChooserTest::init() {
  form_ = std::make_unique<TForm1>();
  form_->show();
  form_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(form_.get()));
  titles_.clear();
}

void FolderChooserTest::cleanup() {
  SetFolderChooser({});
  form_.reset();
}

void FolderChooserTest::chosenFolderFillsField_data() {
  QTest::addColumn<QString>("name");  // a folder made in a temporary one, or "/"
  QTest::newRow("space") << "some folder";
  QTest::newRow("cyrillic") << "папка";
  QTest::newRow("root") << "/";
}

void FolderChooserTest::chosenFolderFillsField() {
  QFETCH(QString, name);
  QTemporaryDir temporary;
  QVERIFY(QDir(temporary.path()).mkpath(name));
  const QString chosen = name == "/" ? name : temporary.path() + "/" + name;
  SetFolderChooser([this, chosen](const QString& title) {
    titles_.append(title);
    return chosen;
  });
  QTest::keyClicks(Edit1(), "/old");
  QTest::mouseClick(Button("Button1"), Qt::LeftButton);
  QCOMPARE(titles_, QStringList{"Выберите папку"});
  QCOMPARE(Edit1()->text(), chosen);
  // The bytes the search reads: the file system's own encoding of the name.
  QCOMPARE(form_->FolderText(), chosen.toUtf8().toStdString());
}

void FolderChooserTest::folderNameThatDoesNotLeadBackIsRefused() {
  QTemporaryDir temporary;
  const std::string bytes = QFile::encodeName(temporary.path()).toStdString() + "/caf\xE9";
  fs::create_directory(bytes);
  const QString shown =
      QFile::decodeName(QByteArray::fromStdString(bytes));  // as the dialog has it
  SetFolderChooser([shown](const QString&) { return shown; });
  QStringList boxes;
  SetErrorBoxPresenter([&boxes](const QString&, const QString& text) { boxes.append(text); });
  QTest::keyClicks(Edit1(), "/old");

  QTest::mouseClick(Button("Button1"), Qt::LeftButton);
  SetErrorBoxPresenter({});
  QCOMPARE(boxes, QStringList{"Cannot open folder \"" + temporary.path() +
                              "/caf\uFFFD\". No such file or directory."});
  QCOMPARE(Edit1()->text(), QStringLiteral("/old"));
  QCOMPARE(form_->FolderText(), std::string("/old"));
}

void FolderChooserTest::cancelKeepsTypedFolder() {
  SetFolderChooser([this](const QString& title) {
    titles_.append(title);
    return QString();
  });
  QTest::keyClicks(Edit1(), "/typed/by hand");
  QTest::mouseClick(Button("Button1"), Qt::LeftButton);
  QCOMPARE(titles_.size(), 1);
  QCOMPARE(Edit1()->text(), QString("/typed/by hand"));
  QCOMPARE(form_->FolderText(), std::string("/typed/by hand"));
}

void FolderChooserTest::chosenAndTypedFolderSearchAlike() {
  QTemporaryDir tmp;
  QVERIFY(tmp.isValid());
  const fs::path root = fs::path(QFile::encodeName(tmp.path()).toStdString()) / "выбор папки";
  fs::create_directories(root / "sub dir");
  std::ofstream(root / "a.txt") << "same";
  std::ofstream(root / "sub dir" / "b.txt") << "same";
  std::ofstream(root / "c.txt") << "other";
  const QString folder = QFile::decodeName(QByteArray::fromStdString(root.string()));

  SetFolderChooser([folder](const QString&) { return folder; });
  QTest::mouseClick(Button("Button1"), Qt::LeftButton);
  QTest::mouseClick(Button("Button2"), Qt::LeftButton);
  const std::vector<std::string> chosen = Results(*form_);

  QTest::mouseClick(Button("Button3"), Qt::LeftButton);
  QVERIFY(Edit1()->text().isEmpty());
  for (const QChar c : folder)  // keyClicks takes Latin-1 only
    QTest::sendKeyEvent(QTest::Click, Edit1(), Qt::Key_unknown, QString(c), Qt::NoModifier);
  QCOMPARE(Edit1()->text(), folder);
  QTest::mouseClick(Button("Button2"), Qt::LeftButton);
  const std::vector<std::string> typed = Results(*form_);

  QCOMPARE(chosen.size(), std::size_t{3});  // the two copies and the "---" after them
  QCOMPARE(typed, chosen);
}

void FolderChooserTest::AnswerDialog(std::function<void(QFileDialog&)> answer) {
  // Polls from the event loop the dialog runs until the dialog is up.
  auto* poll = new QTimer(this);
  connect(poll, &QTimer::timeout, this, [poll, answer, tries = 0]() mutable {
    if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      poll->stop();
      poll->deleteLater();
      answer(*dialog);
    } else if (++tries == 500) {
      qFatal("no modal folder dialog came up");
    }
  });
  poll->start(10);
}

void FolderChooserTest::realChooserIsModalFolderDialog() {
  QString title, directory;
  bool dirs_only = false, folder_mode = false, app_modal = false, other_blocked = false;
  ClickClearAsWindowSystem();  // reaches the button while nothing is modal
  QCOMPARE(form_->StatusText(), std::string("Форма очищена"));
  form_->SetStatusText("");
  AnswerDialog([&](QFileDialog& dialog) {
    title = dialog.windowTitle();
    directory = dialog.directory().absolutePath();
    folder_mode = dialog.fileMode() == QFileDialog::Directory;
    dirs_only = dialog.testOption(QFileDialog::ShowDirsOnly);
    app_modal = dialog.windowModality() == Qt::ApplicationModal;
    // Every other window is out of reach while the chooser is up.
    ClickClearAsWindowSystem();
    other_blocked = form_->StatusText() != "Форма очищена";
    dialog.reject();
  });
  QCOMPARE(AskForFolder(QStringLiteral("Выберите папку")), std::string());
  QCOMPARE(title, QString("Выберите папку"));
  QCOMPARE(directory, QString("/"));
  QVERIFY(folder_mode);
  QVERIFY(dirs_only);
  QVERIFY(app_modal);
  QVERIFY(other_blocked);
  QCOMPARE(QApplication::activeModalWidget(), nullptr);  // gone once answered
}

void FolderChooserTest::realChooserReturnsConfirmedFolder() {
  QTemporaryDir tmp;
  QVERIFY(tmp.isValid());
  const fs::path folder = fs::path(QFile::encodeName(tmp.path()).toStdString()) / "папка";
  fs::create_directory(folder);
  AnswerDialog([&](QFileDialog& dialog) {
    dialog.setDirectory(QFile::decodeName(QByteArray::fromStdString(folder.string())));
    static_cast<QDialog&>(dialog).accept();  // as the dialog's own button does
  });
  const std::string chosen = AskForFolder(QStringLiteral("Выберите папку"));
  QCOMPARE(chosen, folder.string());
}

void FolderChooserTest::realChooserSpeaksRussianAndShowsItsTitleAboveTheTree() {
  QStringList buttons, labels;
  QString title;
  int title_bottom = -1, tree_top = -1;
  AnswerDialog([&](QFileDialog& dialog) {
    for (QAbstractButton* button : dialog.findChild<QDialogButtonBox*>()->buttons())
      buttons << button->text();
    for (const char* name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
      labels << dialog.findChild<QLabel*>(QString::fromLatin1(name))->text();
    const auto* shown = dialog.findChild<QLabel*>(QStringLiteral("title"));
    if (shown != nullptr && shown->isVisible()) {
      title = shown->text();
      title_bottom = shown->mapTo(&dialog, shown->rect().bottomLeft()).y();
    }
    const auto* tree = dialog.findChild<QAbstractItemView*>(QStringLiteral("treeView"));
    tree_top = tree->mapTo(&dialog, QPoint(0, 0)).y();
    dialog.reject();
  });
  AskForFolder(QStringLiteral("Выберите папку"));
  // Qt's own texts come from its Russian translation, whatever the locale.
  QCOMPARE(buttons, QStringList({"&Выбрать", "Отмена"}));
  QCOMPARE(labels, QStringList({"Перейти к:", "Каталог:", "Типы файлов:"}));
  QCOMPARE(title, QStringLiteral("Выберите папку"));
  QVERIFY2(title_bottom < tree_top, qPrintable(QString::number(title_bottom)));
}

void FolderChooserTest::screenshot() {
  AnswerDialog([](QFileDialog& dialog) {
    SaveScreenshot(dialog, "folder_chooser.png");
    dialog.reject();
  });
  AskForFolder(QStringLiteral("Выберите папку"));
}

}  // namespace dupfind

DUPFIND_QTEST_MAIN(dupfind::FolderChooserTest)
#include "folder_chooser_test.moc"
