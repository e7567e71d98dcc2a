#include "ui/error_box.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include "ui/normal_state.h"
#include "ui/shown_text.h"

namespace dupfind {
namespace {

void ShowModalBox(const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok,
                  QApplication::activeWindow());
  KeepNormalState(box);  // a box of fixed size, like the windows
  box.exec();
}

ErrorBoxPresenter& Presenter() {
  static ErrorBoxPresenter presenter = ShowModalBox;
  return presenter;
}

}  // namespace

QString ApplicationTitle(const QString& program_file_name) {
  const QString name = QFileInfo(program_file_name).fileName().section('.', 0, 0);
  return name.left(1) + name.mid(1).toLower();
}

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

void ShowErrorBox(const std::string& message) {
  Presenter()(ApplicationTitle(QCoreApplication::applicationFilePath()),
              ShownText(ErrorBoxText(message)));
}

void SetErrorBoxPresenter(ErrorBoxPresenter presenter) {
  Presenter() = presenter ? std::move(presenter) : ErrorBoxPresenter(ShowModalBox);
}

}  // namespace dupfind
