#include "ui/Unit2.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>

#include "ui/link_label.h"
#include "ui/url_opener.h"
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
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, Qt::blue);
  label->setPalette(palette);
  return label;
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

  connect(Label5, &TLinkLabel::MouseMove, this, &TForm2::Label5MouseMove);
  connect(Label5, &TLinkLabel::MouseLeave, this, &TForm2::Label5MouseLeave);
  connect(Label5, &TLinkLabel::Click, this, &TForm2::Label5Click);
  connect(Label7, &TLinkLabel::MouseMove, this, &TForm2::Label7MouseMove);
  connect(Label7, &TLinkLabel::MouseLeave, this, &TForm2::Label7MouseLeave);
  connect(Label7, &TLinkLabel::Click, this, &TForm2::Label7Click);
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
  show();
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
  OpenUrl(QUrl(QString::fromLatin1(kLabel5Address)));
}
void TForm2::Label7MouseMove() {
  SetUnderlineAlone(Label7);
}
void TForm2::Label7MouseLeave() {
  RemoveUnderline(Label7);
}
void TForm2::Label7Click() {
  OpenUrl(QUrl(QString::fromLatin1(kLabel7Address)));
}

}  // namespace dupfind
