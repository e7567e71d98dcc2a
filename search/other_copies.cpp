#include "search/other_copies.h"

#include <sys/stat.h>

#include "digest/file_stream.h"
#include "search/folder_path.h"
#include "search/grouping.h"

namespace dupfind {
namespace {

bool IsSeparator(MainForm& form, int row) {
  return form.ListBox7().Get(row) == kSeparator && form.ListBox8().Get(row) == kSeparator;
}

// The same file, not written to since it was read. Comparing the status
// costs a few calls where reading the file again would cost its whole size,
// and it is as sure: every write and every change of status sets the
// status change time to the present, and no program can set it back. The
// identity tells a file put in the place of the one read, even when it got
// the same inode number, from the file itself.
bool SameAsRead(const FileStatus& now, const FileStatus& read) {
  return S_ISREG(now.mode) && now.identity == read.identity && now.size == read.size &&
         now.modified == read.modified && now.changed == read.changed;
}

}  // namespace

Copy CopyAt(MainForm& form, int row) {
  return {form.ListBox8().Get(row), form.ListBox7().Get(row), form.ResultFile(row)};
}

std::vector<Copy> OtherCopies(MainForm& form, int row) {
  const std::string digest = form.ListBox9().Get(row);
  int first = row;
  while (first > 0 && !IsSeparator(form, first - 1))
    --first;
  std::vector<Copy> copies;
  for (int other = first; other < form.ListBox7().Count() && !IsSeparator(form, other); ++other) {
    if (other != row && form.ListBox9().Get(other) == digest) copies.push_back(CopyAt(form, other));
  }
  return copies;
}

bool StillAsRead(const Copy& copy) {
  if (copy.file.identity == FileIdentity{}) return false;
  const UniqueFd folder = OpenFolderPath(copy.folder);
  FileStatus status;
  if (!folder || !StatusAt(folder.get(), copy.name.c_str(), true, status) ||
      !SameAsRead(status, copy.file)) {
    return false;
  }
  // Asked again through an open: a FUSE file system may answer the status of
  // a name gone from beneath it out of its cache, but not open it.
  const UniqueFd file = OpenForReading(folder.get(), copy.name.c_str());
  return file && StatusOf(file.get(), status) && SameAsRead(status, copy.file);
}

}  // namespace dupfind
