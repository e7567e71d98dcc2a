#include "search/delete_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>

#include "digest/file_error.h"
#include "digest/file_stream.h"
#include "search/folder_path.h"
#include "search/grouping.h"
#include "search/main_form.h"
#include "search/read_ahead.h"

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

// A name in the same folder that nothing else uses.
std::string PrivateName() {
  static std::random_device random;
  return ".dupfind-deleting-" + std::to_string(random()) + std::to_string(random());
}

// Moves the entry `name` of `folder` aside to a private name in the same
// folder, so that what is checked there is what is deleted: a file put at the
// old name meanwhile is never touched. Returns the private name, or nothing
// when the entry has gone.
std::string MoveAside(int folder, const std::string& name, const std::string& path) {
  for (;;) {
    std::string hidden = PrivateName();
    if (::renameat2(folder, name.c_str(), folder, hidden.c_str(), RENAME_NOREPLACE) == 0) {
      return hidden;
    }
    if (errno == EEXIST) continue;
    const int error_number = errno;
    FileStatus status;
    if (!StatusAt(folder, name.c_str(), false, status)) return {};
    // Some file systems (/proc) answer ENOENT for an entry that stands.
    throw DeleteError(path, error_number == ENOENT ? EPERM : error_number);
  }
}

// Gives the entry moved aside its name back, unless another has taken it.
void PutBack(int folder, const std::string& hidden, const std::string& name,
             const std::string& path) {
  if (::renameat2(folder, hidden.c_str(), folder, name.c_str(), RENAME_NOREPLACE) == 0) return;
  const std::string kept = AbsolutePath(path.substr(0, path.size() - name.size()) + hidden);
  throw FileError("Cannot restore file", path,
                  "It is kept as \"" + kept + "\": " + SystemErrorText(errno));
}

// Deletes the entry `hidden` of `folder` if it leads to the file `identity`
// with the content whose digest text is `digest`. The lock is held from the
// check to the deletion, so programs that honour it cannot change the file in
// between. A link is opened through to its file, and the link itself goes.
void DeleteIfTheSame(int folder, const std::string& hidden, const std::string& path,
                     const std::string& digest, FileIdentity identity) {
  FileStatus aside;
  if (!StatusAt(folder, hidden.c_str(), false, aside)) throw DeleteError(path, errno);
  OpenFile file{OpenForReading(folder, hidden.c_str()), {}};
  if (!file.fd || !StatusOf(file.fd.get(), file.status)) throw ChangedError(path);
  if (!S_ISREG(file.status.mode) || file.status.identity != identity ||
      (!S_ISLNK(aside.mode) && aside.identity != identity)) {
    throw ChangedError(path);
  }
  FileStream stream(path, std::move(file));
  if (DigestToText(DigestOfStream(stream)) != digest) throw ChangedError(path);
  if (::unlinkat(folder, hidden.c_str(), 0) != 0) throw DeleteError(path, errno);
}

// Deletes the entry `name` of `folder` if it still leads to the file
// `identity` with the content whose digest text is `digest`; an entry that no
// longer leads to a file is left alone.
void DeleteIfUnchanged(const std::string& folder, const std::string& name,
                       const std::string& digest, FileIdentity identity) {
  const std::string path = folder + name;
  const UniqueFd dir = OpenFolderPath(folder);
  if (!dir) {
    if (IsGone(errno)) return;
    throw DeleteError(path, errno);
  }
  FileStatus entry, target;
  if (!StatusAt(dir.get(), name.c_str(), false, entry)) {
    if (IsGone(errno)) return;
    throw DeleteError(path, errno);
  }
  if (S_ISDIR(entry.mode)) return;  // a folder now stands there: not ours to delete
  if (!StatusAt(dir.get(), name.c_str(), true, target)) {
    if (IsGone(errno)) return;  // a link whose file has gone: no content left to delete
    throw DeleteError(path, errno);
  }
  // Checked once before anything moves, so that another file at the name stays put.
  if (identity == FileIdentity{} || target.identity != identity) throw ChangedError(path);

  const std::string hidden = MoveAside(dir.get(), name, path);
  if (hidden.empty()) return;
  NoteFilesChanged();  // whatever comes of it, what was read ahead may be gone
  try {
    DeleteIfTheSame(dir.get(), hidden, path, digest, identity);
  } catch (...) {
    PutBack(dir.get(), hidden, name, path);
    throw;
  }
}

}  // namespace

void DeleteSelected() {
  MainForm& form = *Form1;
  const int selected = form.ListBox7().ItemIndex();
  const std::string folder = form.ListBox8().Get(selected);
  const std::string name = form.ListBox7().Get(selected);
  const std::string digest = form.ListBox9().Get(selected);
  const auto position = static_cast<std::size_t>(selected);
  const FileIdentity identity =
      position < form.result_files.size() ? form.result_files[position].identity : FileIdentity{};

  if (!(name == kSeparator && folder == kSeparator)) {
    DeleteIfUnchanged(folder, name, digest, identity);
  }

  form.ListBox8().Delete(selected);
  form.ListBox9().Delete(selected);
  form.ListBox7().Delete(selected);
  if (position < form.result_files.size()) {
    form.result_files.erase(form.result_files.begin() + selected);
  }
}

}  // namespace dupfind
