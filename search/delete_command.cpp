#include "search/delete_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "digest/file_error.h"
#include "digest/file_stream.h"
#include "search/grouping.h"
#include "search/main_form.h"

namespace dupfind {
namespace {

bool IsGone(int error_number) {
  return error_number == ENOENT || error_number == ENOTDIR;
}

Error ChangedError(const std::string& path) {
  return Error("File \"" + AbsolutePath(path) + "\" has changed since the search");
}

// Deletes `path` if it still holds the content whose digest text is
// `digest`; a path that no longer names a file is left alone.
void DeleteIfUnchanged(const std::string& path, const std::string& digest) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) {
    if (IsGone(errno)) return;
    throw FileError("Cannot delete file", path, errno);
  }
  if (S_ISDIR(status.st_mode)) return;  // a folder now stands there: not ours to delete
  if (S_ISLNK(status.st_mode) && ::stat(path.c_str(), &status) != 0 && IsGone(errno)) {
    return;  // a link whose file has gone: there is no content left to delete
  }

  // The lock is held from the check to the deletion, so programs that honour
  // it cannot change the file in between; the identity check catches another
  // file put in its place.
  FileStream file(path);
  if (DigestToText(DigestOfStream(file)) != digest) throw ChangedError(path);
  if (::stat(path.c_str(), &status) != 0 ||
      FileIdentity{status.st_dev, status.st_ino} != file.Identity()) {
    throw ChangedError(path);
  }
  if (::unlink(path.c_str()) != 0) {
    if (IsGone(errno)) return;
    throw FileError("Cannot delete file", path, errno);
  }
}

}  // namespace

void DeleteSelected() {
  MainForm& form = *Form1;
  const int selected = form.ListBox7().ItemIndex();
  const std::string folder = form.ListBox8().Get(selected);
  const std::string name = form.ListBox7().Get(selected);
  const std::string digest = form.ListBox9().Get(selected);

  if (!(name == kSeparator && folder == kSeparator)) DeleteIfUnchanged(folder + name, digest);

  form.ListBox8().Delete(selected);
  form.ListBox9().Delete(selected);
  form.ListBox7().Delete(selected);
}

}  // namespace dupfind
