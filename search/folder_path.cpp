#include "search/folder_path.h"

#include <fcntl.h>
#include <limits.h>

#include <cerrno>

namespace dupfind {

UniqueFd OpenSubfolder(int folder, const char* name) {
  return UniqueFd(::openat(folder, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

UniqueFd OpenFolderPath(const std::string& path) {
  if (path.size() < PATH_MAX) return OpenSubfolder(AT_FDCWD, path.c_str());
  // Each piece ends at a "/" and is short enough; the system resolves every
  // piece, ".." and links included, from where the last one ended.
  UniqueFd folder;
  std::size_t start = 0;
  if (path[0] == '/') {
    folder = OpenSubfolder(AT_FDCWD, "/");
    start = 1;
  }
  while (start < path.size()) {
    std::size_t end = path.size();
    if (end - start >= PATH_MAX) {
      end = path.rfind('/', start + PATH_MAX - 1);
      if (end == std::string::npos || end < start) {
        errno = ENAMETOOLONG;  // one name longer than any the system allows
        return UniqueFd();
      }
    }
    if (end > start) {
      const std::string piece = path.substr(start, end - start);
      folder = OpenSubfolder(folder ? folder.get() : AT_FDCWD, piece.c_str());
      if (!folder) return folder;
    }
    start = end + 1;
  }
  return folder;
}

}  // namespace dupfind
