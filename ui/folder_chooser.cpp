#include "ui/folder_chooser.h"

#include <sys/stat.h>

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>

#include <cerrno>
#include <vector>

#include "digest/file_error.h"
#include "ui/shown_text.h"

namespace dupfind {
namespace {

// Puts `title` in a row of its own above everything else in Qt's own chooser,
// where the caption alone would say it (and is not drawn without a window
// manager). A desktop's native chooser has no such layout and shows the
// title its own way.
void ShowTitleInside(QFileDialog& dialog, const QString& title) {
  auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
  if (grid == nullptr) return;
  struct Placed {
    QLayoutItem* item;
    int row, column, rows, columns;
  };
  std::vector<Placed> placed;
  for (int i = grid->count() - 1; i >= 0; --i) {
    Placed p{nullptr, 0, 0, 0, 0};
    grid->getItemPosition(i, &p.row, &p.column, &p.rows, &p.columns);
    p.item = grid->takeAt(i);
    placed.push_back(p);
  }
  for (const Placed& p : placed)
    grid->addItem(p.item, p.row + 1, p.column, p.rows, p.columns);
  auto* label = new QLabel(title, &dialog);
  label->setObjectName(QStringLiteral("title"));
  grid->addWidget(label, 0, 0, 1, grid->columnCount());
}

QString ChooseInDialog(const QString& title) {
  QFileDialog dialog(QApplication::activeWindow(), title, QStringLiteral("/"));
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  ShowTitleInside(dialog, title);
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
  // The dialog hands names over already decoded, and a name that is not
  // valid UTF-8 does not survive that; searching what is left would find
  // nothing and say nothing, so it is refused.
  const std::string folder = PathBytes(chosen);
  struct stat status;
  if (::stat(folder.c_str(), &status) != 0) throw FileError("Cannot open folder", folder, errno);
  if (!S_ISDIR(status.st_mode)) throw FileError("Cannot open folder", folder, ENOTDIR);
  return folder;
}

void SetFolderChooser(FolderChooser chooser) {
  Chooser() = chooser ? std::move(chooser) : FolderChooser(ChooseInDialog);
}

}  // namespace dupfind
