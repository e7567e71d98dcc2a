#include "ui/folder_chooser.h"

#include <sys/stat.h>

#include <QApplication>
#include <QFile>
#include <QFileDialog>

#include <cerrno>

#include "digest/file_error.h"

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
  const QString chosen = Chooser()(title);
  if (chosen.isEmpty()) return {};
  // The one place a chosen path becomes bytes: the file system's encoding.
  // The dialog hands names over already decoded, and a name that is not
  // valid UTF-8 does not survive that; searching what is left would find
  // nothing and say nothing, so it is refused.
  const std::string folder = QFile::encodeName(chosen).toStdString();
  struct stat status;
  if (::stat(folder.c_str(), &status) != 0) throw FileError("Cannot open folder", folder, errno);
  if (!S_ISDIR(status.st_mode)) throw FileError("Cannot open folder", folder, ENOTDIR);
  return folder;
}

void SetFolderChooser(FolderChooser chooser) {
  Chooser() = chooser ? std::move(chooser) : FolderChooser(ChooseInDialog);
}

}  // namespace dupfind
