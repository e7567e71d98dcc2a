#include "ui/Unit2.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPlainTextEdit>

#include "digest/error.h"
#include "ui/command.h"
#include "ui/contrast.h"
#include "ui/link_label.h"
#include "ui/window_style.h"

namespace dupfind {

TForm2* Form2 = nullptr;

namespace {

// The addresses the links open: each label's text followed by "/".
const char kLabel5Text[] = "https://debian.org";
const char kLabel5Address[] = "https://debian.org/";
const char kLabel7Text[] = "https://rfc-editor.org";
const char kLabel7Address[] = "https://rfc-editor.org/";

QPlainTextEdit* Memo(const QString& text, QWidget* parent) {
  auto* memo = new QPlainTextEdit(text, parent);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setTabChangesFocus(true);
  return memo;
}

TLinkLabel* Link(const char* text, QWidget* parent) {
  auto* label = new TLinkLabel(QString::fromLatin1(text), parent);
  label->setFont(WindowFont());  // a font of its own: its style changes alone
  // On the button-face background a label writes in ButtonText unless told
  // otherwise; a link writes in the link colour: blue, light enough to read
  // on a dark theme's background.
  QPalette palette = label->palette();
  for (const auto group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::Link,
                     ReadableLink(palette.color(group, parent->backgroundRole()),
                                  palette.color(group, QPalette::Link)));
  }
  label->setPalette(palette);
  label->setForegroundRole(QPalette::Link);
  return label;
}

// Hands `address` to the desktop's browser. When none can be found, the user
// is told so, rather than the click doing nothing.
void OpenLink(const char* address) {
  if (!QDesktopServices::openUrl(QUrl(QString::fromLatin1(address))))
    throw Error(std::string("Не удалось открыть ссылку \"") + address + "\" в браузере");
}

void SetUnderlineAlone(QLabel* label) {
  QFont font = label->font();
  font.setBold(false);
  font.setItalic(false);
  font.setStrikeOut(false);
  font.setUnderline(true);
  label->setFont(font);
}

void RemoveUnderline(QLabel* label) {
  QFont font = label->font();
  font.setUnderline(false);
  label->setFont(font);
}

}  // namespace

TForm2::TForm2(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  SetUpWindow(*this, "Form2", QStringLiteral("О программе"), QRect(508, 206, 398, 285));
  setAttribute(Qt::WA_QuitOnClose, false);  // closing it only hides it
  // The window manager reads the buttons it may offer from the window's
  // Motif hints (the flags above: no minimise, no maximise) and its type: a
  // dialog, yet a window of its own, where Qt::Dialog would make it transient
  // for the program. Qt sets the type from the flags when it creates the
  // native window, so the type is asked for once that window exists.
  winId();
  setAttribute(Qt::WA_X11NetWmWindowTypeDialog);

  Label1 = Place(new QLabel(QStringLiteral("О программе"), this), "Label1", 8, 8, 68, 13);
  Label8 =
      Place(new QLabel(QStringLiteral("Версия " DUPFIND_VERSION), this), "Label8", 336, 8, 55, 13);
  Memo1 = Place(Memo(QStringLiteral("Поиск идентичных файлов без учета имени файла"), this),
                "Memo1", 8, 24, 385, 49);
  Label2 = Place(new QLabel(QStringLiteral("Автор: dupfind"), this), "Label2", 8, 88, 109, 13);
  Label6 = Place(new QLabel(QStringLiteral("Дата обновления: 05.11.2012"), this), "Label6", 240, 96,
                 149, 13);
  Label3 = Place(new QLabel(QStringLiteral("E-mail: не указан"), this), "Label3", 8, 104, 134, 13);
  Label4 = Place(new QLabel(QStringLiteral("Web:"), this), "Label4", 8, 120, 26, 13);
  Label5 = Place(Link(kLabel5Text, this), "Label5", 40, 120, 110, 13);
  Label7 = Place(Link(kLabel7Text, this), "Label7", 40, 136, 123, 13);
  Label9 =
      Place(new QLabel(QStringLiteral("Поблагодарить автора:"), this), "Label9", 8, 168, 119, 13);
  Memo2 = Place(Memo(QStringLiteral("Спасибо, что пользуетесь программой!\n"
                                    "Помочь проекту можно так:\n"
                                    "- сообщите об ошибке или предложите улучшение;\n"
                                    "- пришлите исправление вместе с тестом;\n"
                                    "- расскажите о программе тем, кому она пригодится."),
                     this),
                "Memo2", 8, 184, 385, 89);
  setTabOrder(Memo1, Memo2);
  // The labels above the text boxes name them for assistive technology.
  Label1->setBuddy(Memo1);
  Label9->setBuddy(Memo2);

  ConnectCommand(Label5, &TLinkLabel::MouseMove, this, &TForm2::Label5MouseMove);
  ConnectCommand(Label5, &TLinkLabel::MouseLeave, this, &TForm2::Label5MouseLeave);
  ConnectCommand(Label5, &TLinkLabel::Click, this, &TForm2::Label5Click);
  ConnectCommand(Label7, &TLinkLabel::MouseMove, this, &TForm2::Label7MouseMove);
  ConnectCommand(Label7, &TLinkLabel::MouseLeave, this, &TForm2::Label7MouseLeave);
  ConnectCommand(Label7, &TLinkLabel::Click, this, &TForm2::Label7Click);
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (now == Memo1 || now == Memo2) last_text_box_ = now;
  });

  if (Form2 == nullptr) Form2 = this;
}

TForm2::~TForm2() {
  // The focus leaves the text boxes while QWidget's destructor deletes them,
  // after this class's members are gone: the focus watcher must not see it.
  QObject::disconnect(qApp, &QApplication::focusChanged, this, nullptr);
  if (Form2 == this) Form2 = nullptr;
}

void TForm2::ShowAbout() {
  showNormal();  // a minimised window comes back too
  raise();
  activateWindow();
  (last_text_box_ ? last_text_box_.data() : Memo1)->setFocus();
}

void TForm2::Label5MouseMove() {
  SetUnderlineAlone(Label5);
}
void TForm2::Label5MouseLeave() {
  RemoveUnderline(Label5);
}
void TForm2::Label5Click() {
  OpenLink(kLabel5Address);
}
void TForm2::Label7MouseMove() {
  SetUnderlineAlone(Label7);
}
void TForm2::Label7MouseLeave() {
  RemoveUnderline(Label7);
}
void TForm2::Label7Click() {
  OpenLink(kLabel7Address);
}

}  // namespace dupfind
