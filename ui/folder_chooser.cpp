#include "ui/folder_chooser.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>

namespace dupfind {
namespace {

QString ChooseInDialog(const QString& title) {
  QFileDialog dialog(QApplication::activeWindow(), title, QStringLiteral("/"));
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

FolderChooser& Chooser() {
  static FolderChooser chooser = ChooseInDialog;
  return chooser;
}

}  // namespace

std::string AskForFolder(const QString& title) {
  // The one place a chosen path becomes bytes: the file system's encoding.
  return QFile::encodeName(Chooser()(title)).toStdString();
}

void SetFolderChooser(FolderChooser chooser) {
  Chooser() = chooser ? std::move(chooser) : FolderChooser(ChooseInDialog);
}

}  // namespace dupfind
