#include "search/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "digest/file_error.h"
#include "search/folder_path.h"

namespace dupfind {
namespace {

// A folder the system does not let us list is passed over, as one that is gone.
bool CannotBeListed(int error_number) {
  return error_number == ENOENT || error_number == ENOTDIR || error_number == EACCES ||
         error_number == EPERM || error_number == ELOOP;
}

// A link that leads nowhere: to nothing, through a file, or round in a loop.
bool LeadsNowhere(int error_number) {
  return error_number == ENOENT || error_number == ENOTDIR || error_number == ELOOP;
}

// The folder text without its final "/", as errors name folders.
std::string FolderPath(const std::string& folder) {
  return folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder;
}

Error FolderError(const std::string& folder, int error_number) {
  return FileError("Cannot open folder", FolderPath(folder), error_number);
}

Error FolderChangedError(const std::string& folder) {
  return FileError("Cannot open folder", FolderPath(folder),
                   std::string("The folder changed while it was searched"));
}

FileIdentity IdentityOfFolder(int fd, const std::string& text) {
  FileStatus status;
  if (!StatusOf(fd, status)) throw FolderError(text, errno);
  return status.identity;
}

std::shared_ptr<const Folder> Share(UniqueFd fd, const std::string& text, FileIdentity identity) {
  return std::make_shared<const Folder>(Folder{std::move(fd), text, identity});
}

}  // namespace

FolderWalk::FolderWalk(const std::string& folder) {
  UniqueFd fd = OpenFolderPath(folder);
  if (!fd) {
    if (CannotBeListed(errno)) return;
    throw FolderError(folder, errno);
  }
  Enter(std::move(fd), folder, "");
}

void FolderWalk::Enter(UniqueFd fd, std::string text, std::string name) {
  const FileIdentity identity = IdentityOfFolder(fd.get(), text);
  if (!folders_seen_.insert(identity).second) return;  // met already: links end here

  Level level{nullptr, std::move(text), std::move(name), identity, {}, 0};
  alignas(dirent64) char buffer[32768];
  for (;;) {
    const ssize_t got = ::getdents64(fd.get(), buffer, sizeof buffer);
    if (got < 0) throw FileError("Cannot read folder", FolderPath(level.text), errno);
    if (got == 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
        level.entries.push_back({entry->d_name, entry->d_type});
      }
    }
  }
  level.folder = Share(std::move(fd), level.text, identity);
  path_.push_back(std::move(level));
  // The level that has just become far closes.
  if (path_.size() > kOpenFolders + 1) path_[path_.size() - 1 - kOpenFolders].folder.reset();
}

bool FolderWalk::IsFar(std::size_t level) const {
  return level != 0 && path_.size() - level > kOpenFolders;
}

bool FolderWalk::Next(FileEntry& entry) {
  while (!path_.empty()) {
    Level& level = path_.back();
    if (level.next == level.entries.size()) {
      Leave();
      continue;
    }
    const Level::Entry listed = level.entries[level.next++];
    switch (listed.type) {
      case DT_DIR:
        Descend(listed.name);
        continue;
      case DT_REG:
        Current();  // opened again if it was closed
        entry = {path_.back().folder, listed.name, false, 0};
        return true;
      case DT_LNK:
      case DT_UNKNOWN:
        break;
      default:
        continue;  // devices, pipes and sockets are never opened
    }
    FileStatus status;
    if (!StatusAt(Current().fd.get(), listed.name.c_str(), true, status)) {
      if (LeadsNowhere(errno)) continue;
      entry = {path_.back().folder, listed.name, true, errno};
      return true;
    }
    if (S_ISDIR(status.mode)) {
      Descend(listed.name);
    } else if (S_ISREG(status.mode)) {
      entry = {path_.back().folder, listed.name, true, 0};
      return true;
    }
  }
  return false;
}

void FolderWalk::EnterFolder(const FileEntry& entry) {
  Descend(entry.name);
}

void FolderWalk::Descend(const std::string& name) {
  const std::string text = path_.back().text + name + "/";
  UniqueFd fd = OpenSubfolder(Current().fd.get(), name.c_str());
  if (!fd) {
    if (CannotBeListed(errno)) return;
    throw FolderError(text, errno);
  }
  Enter(std::move(fd), text, name);
}

void FolderWalk::Leave() {
  const std::shared_ptr<const Folder> child = std::move(path_.back().folder);
  path_.pop_back();
  if (path_.empty() || path_.back().folder || !child) return;
  // A closed parent is usually where ".." leads, unless a link led down here;
  // otherwise it is opened again by name when it is needed.
  Level& parent = path_.back();
  UniqueFd up = OpenSubfolder(child->fd.get(), "..");
  FileStatus status;
  if (up && StatusOf(up.get(), status) && status.identity == parent.identity) {
    parent.folder = Share(std::move(up), parent.text, parent.identity);
  }
}

const Folder& FolderWalk::Current() {
  if (!path_.back().folder) Reopen(path_.size() - 1);
  return *path_.back().folder;
}

// Opens the levels from the nearest open one down to `level` again, by the
// names that led to them, and checks that each is still the folder it was.
void FolderWalk::Reopen(std::size_t level) {
  std::size_t open = level;
  while (!path_[open].folder)
    --open;  // the first folder is never closed
  for (std::size_t i = open + 1; i <= level; ++i) {
    Level& below = path_[i];
    UniqueFd fd = OpenSubfolder(path_[i - 1].folder->fd.get(), below.name.c_str());
    if (!fd) throw FolderError(below.text, errno);
    if (IdentityOfFolder(fd.get(), below.text) != below.identity) {
      throw FolderChangedError(below.text);
    }
    below.folder = Share(std::move(fd), below.text, below.identity);
    if (IsFar(i - 1)) path_[i - 1].folder.reset();
  }
}

}  // namespace dupfind
