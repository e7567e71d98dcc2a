#include "search/move_aside.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "digest/file_error.h"
#include "digest/file_status.h"

namespace dupfind {
namespace {

// A name no other program can know in advance: 128 bits from the system's
// random source.
std::string PrivateName() {
  std::random_device random;
  char text[64];
  std::snprintf(text, sizeof text, ".dupfind-deleting-%08x%08x%08x%08x", random(), random(),
                random(), random());
  return text;
}

// File systems that take no flags on a rename (FUSE ones, mostly) refuse
// them with EINVAL; a system without renameat2 at all answers ENOSYS.
bool FlagsRefused(int error_number) {
  return error_number == EINVAL || error_number == ENOSYS;
}

bool IsOverlay(int folder) {
  struct statfs system;
  return ::fstatfs(folder, &system) == 0 && system.f_type == OVERLAYFS_SUPER_MAGIC;
}

// Moves the entry by a plain rename, which would replace an entry standing
// at the private name. The name is checked free just before; no one can put
// an entry there in between without guessing 128 random bits, and an entry
// left by an earlier run that was cut short has another name but by that same
// chance: in practice nothing is ever replaced. Returns 0 once moved, EEXIST
// when the private name is taken, or the error that stopped it.
int MoveWithoutFlags(int folder, const std::string& name, const std::string& hidden) {
  FileStatus taken;
  if (StatusAt(folder, hidden.c_str(), false, taken)) return EEXIST;
  if (errno != ENOENT) return errno;
  return ::renameat(folder, name.c_str(), folder, hidden.c_str()) == 0 ? 0 : errno;
}

}  // namespace

std::string MoveAside(int folder, const std::string& name, const std::string& path) {
  for (;;) {
    const std::string hidden = PrivateName();
    int error_number =
        ::renameat2(folder, name.c_str(), folder, hidden.c_str(), RENAME_NOREPLACE) == 0 ? 0
                                                                                         : errno;
    if (FlagsRefused(error_number)) error_number = MoveWithoutFlags(folder, name, hidden);
    if (error_number == EEXIST) continue;
    if (error_number == 0) return hidden;

    FileStatus status;
    if (!StatusAt(folder, name.c_str(), false, status)) return {};
    if (FlagsRefused(error_number) || error_number == EOPNOTSUPP) {
      throw FileError("Cannot delete file", path,
                      "It is checked under a private name before it goes, and this file "
                      "system cannot rename it (" +
                          SystemErrorText(error_number) + ")");
    }
    if ((error_number == ENOSPC || error_number == EDQUOT) && IsOverlay(folder)) {
      throw FileError("Cannot delete file", path,
                      "To be checked it must first be moved aside, and on this overlay that "
                      "copies it whole into the upper layer, which has no room for it (" +
                          SystemErrorText(error_number) + ")");
    }
    // Some file systems (/proc) answer ENOENT for an entry that stands.
    throw FileError("Cannot delete file", path, error_number == ENOENT ? EPERM : error_number);
  }
}

void PutBack(int folder, const std::string& hidden, const std::string& name,
             const std::string& path) {
  if (::renameat2(folder, hidden.c_str(), folder, name.c_str(), RENAME_NOREPLACE) == 0) return;
  int error_number = errno;
  // Without rename flags, a new link is what refuses a name that is taken.
  if (FlagsRefused(error_number)) {
    if (::linkat(folder, hidden.c_str(), folder, name.c_str(), 0) == 0) {
      ::unlinkat(folder, hidden.c_str(), 0);  // were it left, it would only be a second name
      return;
    }
    error_number = errno;
  }
  const std::string kept = AbsolutePath(path.substr(0, path.size() - name.size()) + hidden);
  throw FileError("Cannot restore file", path,
                  "It is kept as \"" + kept + "\": " + SystemErrorText(error_number));
}

}  // namespace dupfind
