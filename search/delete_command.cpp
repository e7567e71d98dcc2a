#include "search/delete_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "digest/file_error.h"
#include "digest/file_stream.h"
#include "search/folder_path.h"
#include "search/grouping.h"
#include "search/main_form.h"
#include "search/move_aside.h"
#include "search/other_copies.h"
#include "search/read_ahead.h"
#include "search/window_wait.h"

namespace dupfind {
namespace {

bool IsGone(int error_number) {
  return error_number == ENOENT || error_number == ENOTDIR;
}

Error DeleteError(const std::string& path, int error_number) {
  return FileError("Cannot delete file", path, error_number);
}

Error ChangedError(const std::string& path) {
  return Error("File \"" + AbsolutePath(path) + "\" has changed since the search");
}

Error NoCopyError(const std::string& path) {
  return Error("File \"" + AbsolutePath(path) +
               "\" is kept: no other copy of it is unchanged since the search");
}

Error SameFileError(const std::string& path, const std::string& other) {
  return Error("File \"" + AbsolutePath(path) + "\" is the same file as \"" + AbsolutePath(other) +
               "\"");
}

// The file of a row, open, locked and checked. The lock is held until it is
// closed, just before the file goes, so that programs that honour it cannot
// change the file meanwhile.
struct CheckedFile {
  std::unique_ptr<FileStream> stream;  // holds the lock

  // Closes the file before its entry goes or moves back: FUSE file systems
  // keep an entry removed while it is open under a name of their own.
  void Close() { stream.reset(); }  // the lock goes with the descriptor
};

// Opens the entry `name` of `folder` (a link through to its file), and checks
// that it is the file `identity` and that its content has the digest text
// `digest`. Reads the whole file.
void OpenAndCheck(int folder, const std::string& name, const std::string& path,
                  const std::string& digest, FileIdentity identity, CheckedFile& checked) {
  OpenFile file{OpenForReading(folder, name.c_str()), {}};
  if (!file.fd) {
    if (IsGone(errno)) throw ChangedError(path);
    throw FileError("Cannot open file", path, errno);
  }
  if (!StatusOf(file.fd.get(), file.status)) throw FileError("Cannot open file", path, errno);
  if (!S_ISREG(file.status.mode) || file.status.identity != identity) throw ChangedError(path);
  checked.stream = std::make_unique<FileStream>(path, std::move(file));
  if (DigestToText(DigestOfStream(*checked.stream)) != digest) throw ChangedError(path);
}

// Throws unless the entry `hidden` of `folder`, just moved aside, leads to
// the file `checked` holds open, still of the size it had when opened. Its
// times cannot tell any more: the move itself sets the status change time on
// most file systems, and the modification time on some (FAT through fusefat).
void ConfirmAside(int folder, const std::string& hidden, const std::string& path,
                  const CheckedFile& checked) {
  FileStatus entry, file;
  if (!StatusAt(folder, hidden.c_str(), false, entry) ||
      (S_ISLNK(entry.mode) && !StatusAt(folder, hidden.c_str(), true, entry)) ||
      !checked.stream->StatusNow(file)) {
    throw ChangedError(path);
  }
  // The identity is asked of both now: where a move copies the file first
  // (overlayfs), the file keeps its device and inode number, not its birth time.
  if (entry.identity != file.identity || entry.size != checked.stream->Status().size) {
    throw ChangedError(path);
  }
}

// Deletes the file of `copy` if it is still the file its row was read from,
// with the content of the digest text `digest`, and, unless `others` is
// empty (the row is the last of its group), another of them still leads to
// the very file it was read from, unchanged. An entry that no longer leads to
// a file is left alone.
void DeleteIfUnchanged(const Copy& copy, const std::string& digest,
                       const std::vector<Copy>& others) {
  const std::string path = copy.Path();
  const UniqueFd dir = OpenFolderPath(copy.folder);
  if (!dir) {
    if (IsGone(errno)) return;
    throw DeleteError(path, errno);
  }
  FileStatus entry, target;
  if (!StatusAt(dir.get(), copy.name.c_str(), false, entry)) {
    if (IsGone(errno)) return;
    throw DeleteError(path, errno);
  }
  if (S_ISDIR(entry.mode)) return;  // a folder now stands there: not ours to delete
  if (!StatusAt(dir.get(), copy.name.c_str(), true, target)) {
    if (IsGone(errno)) return;  // a link whose file has gone: no content left to delete
    throw DeleteError(path, errno);
  }
  // Checked once before anything moves, so that another file at the name stays put.
  const FileIdentity identity = copy.file.identity;
  if (identity == FileIdentity{} || target.identity != identity) throw ChangedError(path);

  // The user deletes this copy because the others hold its content.
  const auto partner = std::find_if(others.begin(), others.end(), StillAsRead);
  if (partner == others.end() && !others.empty()) throw NoCopyError(path);

  CheckedFile checked;
  OpenAndCheck(dir.get(), copy.name, path, digest, identity, checked);
  // Nothing written nor changed while it was read, up to the move.
  FileStatus now;
  if (!checked.stream->StatusNow(now) || now != checked.stream->Status()) throw ChangedError(path);

  // From here to the unlink the file has its private name: a few calls. A
  // file put at its name meanwhile is never touched.
  const std::string hidden = MoveAside(dir.get(), copy.name, path);
  if (hidden.empty()) return;
  NoteFilesChanged();  // whatever comes of it, what was read ahead may be gone
  try {
    ConfirmAside(dir.get(), hidden, path, checked);
    // A copy that is this very file seen through another mount goes or
    // changes with it: another must still stand.
    if (partner != others.end() && std::none_of(partner, others.end(), StillAsRead)) {
      throw SameFileError(path, partner->Path());
    }
    checked.Close();
    if (::unlinkat(dir.get(), hidden.c_str(), 0) != 0) throw DeleteError(path, errno);
  } catch (...) {
    checked.Close();
    PutBack(dir.get(), hidden, copy.name, path);
    throw;
  }
}

}  // namespace

void DeleteSelected() {
  MainForm& form = *Form1;
  const int selected = form.ListBox7().ItemIndex();
  const std::string folder = form.ListBox8().Get(selected);
  const std::string name = form.ListBox7().Get(selected);

  if (!(name == kSeparator && folder == kSeparator)) {
    const Copy copy = CopyAt(form, selected);
    const std::string digest = form.ListBox9().Get(selected);
    const std::vector<Copy> others = OtherCopies(form, selected);
    // Off the window thread: the file is read whole, and on a slow mount any
    // call may take long.
    RunWhileWindowWaits(form, [&] { DeleteIfUnchanged(copy, digest, others); });
  }

  form.ListBox8().Delete(selected);
  form.ListBox9().Delete(selected);
  form.ListBox7().Delete(selected);
  const auto position = static_cast<std::size_t>(selected);
  if (position < form.result_files.size()) {
    form.result_files.erase(form.result_files.begin() + selected);
  }
}

}  // namespace dupfind
