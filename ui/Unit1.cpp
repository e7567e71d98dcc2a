#include "ui/Unit1.h"

#include <QAbstractEventDispatcher>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>

#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "search/delete_command.h"
#include "search/search_command.h"
#include "ui/Unit2.h"
#include "ui/button.h"
#include "ui/command.h"
#include "ui/folder_chooser.h"
#include "ui/folder_cut.h"
#include "ui/list_box.h"
#include "ui/shown_text.h"
#include "ui/status_bar.h"
#include "ui/window_style.h"

namespace dupfind {
namespace {

// Row `position` of the folders column, cut to `width` among the folders of
// its group: the rows between the separators around it.
QString ShownFolder(const TListBox& folders, int position, const QFontMetrics& metrics, int width) {
  const auto separator = [&](int row) {
    const std::optional<std::string_view> text = folders.RowView(row);
    return text && *text == "---";
  };
  if (separator(position)) return QStringLiteral("---");
  int first = position, last = position;
  while (first > 0 && !separator(first - 1))
    --first;
  while (last + 1 < folders.Count() && !separator(last + 1))
    ++last;
  // Folder texts are kept as text, so the group is read without copies (a
  // group of many files is read again for each row painted).
  std::deque<std::string> copies;  // of any row that is not
  std::vector<std::string_view> group;
  group.reserve(static_cast<std::size_t>(last - first + 1));
  for (int row = first; row <= last; ++row) {
    const std::optional<std::string_view> text = folders.RowView(row);
    group.push_back(text ? *text : std::string_view(copies.emplace_back(folders.Row(row))));
  }
  return CutFolder(group, static_cast<std::size_t>(position - first), metrics, width);
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      dispatcher_(QAbstractEventDispatcher::instance()) {
  SetUpWindow(*this, "Form1", QStringLiteral("Поиск дубликатов файлов"), QRect(426, 240, 561, 225));

  Label1 = Place(new QLabel(QStringLiteral("Выберите папку:"), this), "Label1", 8, 8, 85, 13);
  Edit1 = Place(new QLineEdit(this), "Edit1", 8, 24, 177, 21);
  Button1 = Place(new TButton(QStringLiteral("Выбрать папку"), this), "Button1", 192, 24, 177, 25);
  Button2 = Place(new TButton(QStringLiteral("Найти"), this), "Button2", 376, 24, 177, 25);
  Label3 = Place(new QLabel(QStringLiteral("Имя файла"), this), "Label3", 8, 56, 57, 13);
  Label4 = Place(new QLabel(QStringLiteral("Путь"), this), "Label4", 192, 56, 24, 13);
  Label5 = Place(new QLabel(QStringLiteral("Хэш"), this), "Label5", 376, 56, 21, 13);
  ListBox7_ = Place(new TListBox(this), "ListBox7", 8, 72, 177, 97);
  ListBox8_ = Place(new TListBox(this), "ListBox8", 192, 72, 177, 97);
  ListBox9_ = Place(new TListBox(this), "ListBox9", 376, 72, 177, 97);
  Button4 =
      Place(new TButton(QStringLiteral("Удалить выделеное"), this), "Button4", 8, 176, 177, 25);
  Button3 =
      Place(new TButton(QStringLiteral("Очистить форму"), this), "Button3", 192, 176, 177, 25);
  Button5 = Place(new TButton(QStringLiteral("О программе"), this), "Button5", 376, 176, 177, 25);
  StatusBar1 = Place(new TStatusBar(this), "StatusBar1", 0, 206, 561, 19);

  // Only the names column takes input; the other two are shown greyed and
  // follow its scrolling, so a row's folder and digest stand beside its name.
  // A folder cut short still tells the copies of a group apart.
  ListBox8_->setEnabled(false);
  ListBox9_->setEnabled(false);
  ListBox8_->FollowScrolling(*ListBox7_);
  ListBox9_->FollowScrolling(*ListBox7_);
  ListBox8_->SetCut([this](int position, const QFontMetrics& metrics, int width) {
    return ShownFolder(*ListBox8_, position, metrics, width);
  });
  for (TListBox* column : {ListBox7_, ListBox8_, ListBox9_}) {
    column->SetRowData(
        [this, column](int position, int role) { return RowData(column, position, role); });
  }

  // Each label names the control below it for assistive technology; none of
  // their texts has a shortcut.
  Label1->setBuddy(Edit1);
  Label3->setBuddy(ListBox7_);
  Label4->setBuddy(ListBox8_);
  Label5->setBuddy(ListBox9_);
  for (QLabel* label : {Label3, Label4, Label5}) {
    label->buddy()->setAccessibleName(label->text());  // item views do not read buddies
  }

  for (QWidget* widget :
       {static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label4),
        static_cast<QWidget*>(Label5), static_cast<QWidget*>(StatusBar1)}) {
    widget->setFocusPolicy(Qt::NoFocus);
  }
  setTabOrder(Edit1, Button1);
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, Button3);
  setTabOrder(Button3, Button4);
  setTabOrder(Button4, ListBox7_);
  setTabOrder(ListBox7_, Button5);
  Edit1->setFocus();

  ConnectCommand(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  ConnectCommand(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  ConnectCommand(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  ConnectCommand(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
  ConnectCommand(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);

  if (Form1 == nullptr) Form1 = this;  // the first main window created is the one
}

TForm1::~TForm1() {
  if (Form1 == this) Form1 = nullptr;
}

TextList& TForm1::ListBox7() {
  return *ListBox7_;
}
TextList& TForm1::ListBox8() {
  return *ListBox8_;
}
TextList& TForm1::ListBox9() {
  return *ListBox9_;
}

std::string TForm1::FolderText() const {
  return PathBytes(Edit1->text());  // typed or chosen, the field holds the folder
}

void TForm1::SetFolderText(const std::string& text) {
  Edit1->setText(ShownText(text));
}

QVariant TForm1::RowData(const TListBox* column, int position, int role) const {
  // Asked from the view's own frames: nothing here may fail on a row that
  // another column does not hold yet.
  const TListBox* columns[] = {ListBox7_, ListBox8_, ListBox9_};
  QStringList texts;
  for (const TListBox* each : columns) {
    if (position >= each->Count()) return {};
    texts << ShownText(each->Row(position));
  }
  const bool separator = texts.count(QStringLiteral("---")) == 3;
  switch (role) {
    case Qt::ToolTipRole:
      if (separator) return {};
      return Label3->text() + ": " + texts[0] + "\n" + Label4->text() + ": " + texts[1] + "\n" +
             Label5->text() + ": " + texts[2];
    case Qt::AccessibleTextRole:
      if (separator) return QStringLiteral("Конец группы");
      return {};
    case Qt::AccessibleDescriptionRole:
      if (separator || column != ListBox7_) return {};
      return Label4->text() + ": " + texts[1] + ", " + Label5->text() + ": " + texts[2];
    default:
      return {};
  }
}

std::string TForm1::StatusText() const {
  return StatusBar1->Text();
}

void TForm1::SetStatusText(const std::string& text) {
  StatusBar1->SetText(text);
}

void TForm1::ProcessMessages() {
  QCoreApplication::processEvents();
}

void TForm1::AwaitMessages(UserInput input) {
  // Held input stays in Qt's queue; repaints, timers and the window
  // manager's pings are still answered.
  QEventLoop::ProcessEventsFlags flags = QEventLoop::WaitForMoreEvents;
  if (input == UserInput::kHold) flags |= QEventLoop::ExcludeUserInputEvents;
  QCoreApplication::processEvents(flags);
}

void TForm1::WakeUp() {
  dispatcher_->wakeUp();  // thread-safe, and remembered until the next wait
}

void TForm1::Button1Click() {
  const std::string folder = AskForFolder(QStringLiteral("Выберите папку"));
  if (!folder.empty()) SetFolderText(folder);
}

// A close asked for while a search or a delete runs waits for the outermost
// of them to end.
class TForm1::Running {
 public:
  explicit Running(TForm1& form) : form_(form) { ++form_.commands_running_; }
  ~Running() {
    if (--form_.commands_running_ == 0 && form_.close_requested_) form_.close();
  }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;

 private:
  TForm1& form_;
};

void TForm1::Button2Click() {
  const Running running(*this);
  SearchDuplicates();
}

void TForm1::Button3Click() {
  ClearLists(*this);
  SetFolderText("");
  SetStatusText("Форма очищена");
}

void TForm1::Button4Click() {
  const Running running(*this);
  DeleteSelected();
}

void TForm1::Button5Click() {
  if (Form2) Form2->ShowAbout();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (commands_running_ > 0) {
    close_requested_ = true;
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

}  // namespace dupfind
