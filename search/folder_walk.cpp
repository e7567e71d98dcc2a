#include "search/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <cerrno>
#include <cstring>

#include "digest/file_error.h"
#include "search/folder_path.h"
#include "search/pseudo_file_system.h"

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

// Local file systems whose reads honour RWF_NOWAIT; on any other (network
// and FUSE file systems above all) even an open may wait on a server.
bool MemoryFirst(int fd) {
  struct statfs status;
  if (::fstatfs(fd, &status) != 0) return false;
  switch (static_cast<unsigned long>(status.f_type)) {
    case EXT4_SUPER_MAGIC:  // also ext2 and ext3
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case F2FS_SUPER_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
}

std::shared_ptr<const Listing> List(int fd, const std::string& text) {
  auto listing = std::make_shared<Listing>();
  alignas(dirent64) char buffer[32768];
  for (;;) {
    const ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
    if (got < 0) throw FileError("Cannot read folder", FolderPath(text), errno);
    if (got == 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
        listing->push_back({entry->d_name, entry->d_type});
      }
    }
  }
  return listing;
}

}  // namespace

void WalkPosition::Apply(const WalkStep& step) {
  switch (step.kind) {
    case WalkStep::Kind::kEnter:
      if (!path.empty()) path.back().next = step.next;
      folders_entered.Insert(step.entered.identity);
      path.push_back(step.entered);
      // The level that has just become far closes.
      if (path.size() > FolderWalk::kOpenFolders + 1) {
        path[path.size() - 1 - FolderWalk::kOpenFolders].folder.reset();
      }
      return;
    case WalkStep::Kind::kLeave:
      path.pop_back();
      if (step.reopened) path.back().folder = step.reopened;
      return;
    case WalkStep::Kind::kFile:
      path.back().next = step.next;
      return;
  }
}

FolderWalk::FolderWalk(std::string folder) : first_(std::move(folder)) {}

std::shared_ptr<const Folder> FolderWalk::Share(UniqueFd fd, const std::string& text,
                                                const FileIdentity& identity) const {
  const bool memory_first = MemoryFirst(fd.get());
  return std::make_shared<const Folder>(
      Folder{std::move(fd), text, identity, memory_first, Counted(count_)});
}

FolderWalk::FolderWalk(WalkPosition position) : position_(std::move(position)) {}

bool FolderWalk::Next(WalkStep& step) {
  if (!first_.empty()) {
    const std::string first = std::move(first_);
    first_.clear();
    UniqueFd fd = OpenFolderPath(first);
    if (!fd) {
      if (CannotBeListed(errno)) return false;
      throw FolderError(first, errno);
    }
    return Enter(std::move(fd), first, "", step);
  }
  std::vector<WalkLevel>& path = position_.path;
  while (!path.empty()) {
    WalkLevel& level = path.back();
    if (level.next == level.entries->size()) {
      Leave(step);
      return true;
    }
    const ListedEntry& listed = (*level.entries)[level.next++];
    step.next = level.next;
    switch (listed.type) {
      case DT_DIR:
        if (Descend(listed.name, step)) return true;
        continue;
      case DT_REG:
        step.kind = WalkStep::Kind::kFile;
        step.file = {Current(), listed.name, false, 0};
        position_.Apply(step);
        return true;
      case DT_LNK:
      case DT_UNKNOWN:
        break;
      default:
        continue;  // devices, pipes and sockets are never opened
    }
    FileStatus status;
    if (!StatusAt(Current()->fd.get(), listed.name.c_str(), true, status)) {
      if (LeadsNowhere(errno)) continue;
      step.kind = WalkStep::Kind::kFile;
      step.file = {Current(), listed.name, true, errno};
      position_.Apply(step);
      return true;
    }
    if (S_ISDIR(status.mode)) {
      if (Descend(listed.name, step)) return true;
    } else if (S_ISREG(status.mode)) {
      const Folder& here = *Current();  // a link may lead off its folder's file system
      if (status.identity.device != here.identity.device &&
          StepsIntoPseudoFileSystem(position_.path.front().folder->fd.get(), here.fd.get(),
                                    listed.name.c_str())) {
        continue;
      }
      step.kind = WalkStep::Kind::kFile;
      step.file = {Current(), listed.name, true, 0};
      position_.Apply(step);
      return true;
    }
  }
  return false;
}

bool FolderWalk::NextFile(FileEntry& file) {
  WalkStep step;
  while (Next(step)) {
    if (step.kind != WalkStep::Kind::kFile) continue;
    file = std::move(step.file);
    return true;
  }
  return false;
}

bool FolderWalk::EnterFolder(const std::string& name, WalkStep& step) {
  step.next = position_.path.back().next;
  return Descend(name, step);
}

bool FolderWalk::Descend(const std::string& name, WalkStep& step) {
  const std::string text = position_.path.back().text + name + "/";
  UniqueFd fd = OpenSubfolder(Current()->fd.get(), name.c_str());
  if (!fd) {
    if (CannotBeListed(errno)) return false;
    throw FolderError(text, errno);
  }
  if (StepsIntoPseudoFileSystem(position_.path.front().folder->fd.get(), fd.get())) return false;
  return Enter(std::move(fd), text, name, step);
}

bool FolderWalk::Enter(UniqueFd fd, std::string text, std::string name, WalkStep& step) {
  const FileIdentity identity = IdentityOfFolder(fd.get(), text);
  if (position_.folders_entered.Contains(identity)) return false;  // met already: links end here
  std::shared_ptr<const Listing> entries = List(fd.get(), text);
  step.kind = WalkStep::Kind::kEnter;
  step.entered = {Share(std::move(fd), text, identity),
                  std::move(text),
                  std::move(name),
                  identity,
                  std::move(entries),
                  0};
  position_.Apply(step);
  return true;
}

void FolderWalk::Leave(WalkStep& step) {
  std::vector<WalkLevel>& path = position_.path;
  step.kind = WalkStep::Kind::kLeave;
  step.reopened.reset();
  if (path.size() >= 2 && !path[path.size() - 2].folder && path.back().folder) {
    // A closed parent is usually where ".." leads, unless a link led down
    // here; otherwise it is opened again by name when it is needed.
    const WalkLevel& parent = path[path.size() - 2];
    UniqueFd up = OpenSubfolder(path.back().folder->fd.get(), "..");
    FileStatus status;
    if (up && StatusOf(up.get(), status) && status.identity == parent.identity) {
      step.reopened = Share(std::move(up), parent.text, parent.identity);
    }
  }
  position_.Apply(step);
}

const std::shared_ptr<const Folder>& FolderWalk::Current() {
  if (!position_.path.back().folder) Reopen(position_.path.size() - 1);
  return position_.path.back().folder;
}

// Opens the levels from the nearest open one down to `level` again, by the
// names that led to them, and checks that each is still the folder it was.
void FolderWalk::Reopen(std::size_t level) {
  std::vector<WalkLevel>& path = position_.path;
  std::size_t open = level;
  while (!path[open].folder)
    --open;  // the first folder is never closed
  for (std::size_t i = open + 1; i <= level; ++i) {
    WalkLevel& below = path[i];
    UniqueFd fd = OpenSubfolder(path[i - 1].folder->fd.get(), below.name.c_str());
    if (!fd) throw FolderError(below.text, errno);
    if (IdentityOfFolder(fd.get(), below.text) != below.identity) {
      throw FolderChangedError(below.text);
    }
    below.folder = Share(std::move(fd), below.text, below.identity);
    if (i - 1 != 0 && path.size() - (i - 1) > kOpenFolders) path[i - 1].folder.reset();
  }
}

}  // namespace dupfind
