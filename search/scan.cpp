#include "search/scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "digest/file_error.h"
#include "digest/file_stream.h"
#include "digest/md5.h"
#include "search/folder_path.h"
#include "search/main_form.h"

namespace dupfind {
namespace {

// Folders below the starting one whose descriptors stay open, however deep
// the walk goes; the others are opened again when the walk comes back.
constexpr std::size_t kOpenFolders = 32;

struct Entry {
  std::string name;
  unsigned char type;  // DT_DIR, DT_REG, ...: the listing's own word for it
};

// A folder on the walk's current path.
struct Level {
  std::string folder;  // its folder text, ending in "/"
  std::string name;    // how its parent names it
  FileIdentity identity;
  std::vector<Entry> entries;
  std::size_t next = 0;  // the entry to visit next
  UniqueFd fd;
};

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

std::vector<Entry> ReadEntries(int fd, const std::string& folder) {
  std::vector<Entry> entries;
  alignas(dirent64) char buffer[32768];
  for (;;) {
    const ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
    if (got < 0) throw FileError("Cannot read folder", FolderPath(folder), errno);
    if (got == 0) return entries;
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      entries.push_back({entry->d_name, entry->d_type});
    }
  }
}

// The digest of the whole file, closed before the row goes on: events may run
// a search of their own that opens it again.
Digest ReadDigest(const std::string& path, OpenFile file) {
  FileStream stream(path, std::move(file));
  return DigestOfStream(stream);
}

class Walk {
 public:
  void Run(const std::string& folder);

 private:
  void Enter(UniqueFd fd, std::string folder, std::string name);
  void Leave();
  void Visit(Entry entry);
  void Descend(const std::string& name);
  void File(const std::string& name, bool follow_link);
  [[noreturn]] void Unreachable(const std::string& name, int error_number);
  int CurrentFolder();
  void Reopen(std::size_t level);
  bool IsFar(std::size_t level) const;
  void CloseFarFolders();

  std::vector<Level> path_;
  std::set<FileIdentity> folders_seen_;
};

void Walk::Run(const std::string& folder) {
  UniqueFd fd = OpenFolderPath(folder);
  if (!fd) {
    if (CannotBeListed(errno)) return;
    throw FolderError(folder, errno);
  }
  Enter(std::move(fd), folder, "");
  while (!path_.empty()) {
    Level& level = path_.back();
    if (level.next == level.entries.size()) {
      Leave();
    } else {
      Visit(level.entries[level.next++]);
    }
  }
}

void Walk::Enter(UniqueFd fd, std::string folder, std::string name) {
  struct stat status;
  if (::fstat(fd.get(), &status) != 0) throw FolderError(folder, errno);
  if (!folders_seen_.insert(IdentityOf(status)).second) return;  // met already: links end here
  std::vector<Entry> entries = ReadEntries(fd.get(), folder);
  path_.push_back({std::move(folder), std::move(name), IdentityOf(status), std::move(entries), 0,
                   std::move(fd)});
  CloseFarFolders();
}

void Walk::Leave() {
  UniqueFd child = std::move(path_.back().fd);
  path_.pop_back();
  if (path_.empty() || path_.back().fd || !child) return;
  // A closed parent is usually where ".." leads, unless a link led down here;
  // otherwise it is opened again by name when it is needed.
  Level& parent = path_.back();
  UniqueFd up = OpenSubfolder(child.get(), "..");
  struct stat status;
  if (up && ::fstat(up.get(), &status) == 0 && IdentityOf(status) == parent.identity) {
    parent.fd = std::move(up);
  }
}

// Opens the levels from the nearest open one down to `level` again, by the
// names that led to them, and checks each is still the folder it was.
void Walk::Reopen(std::size_t level) {
  std::size_t open = level;
  while (!path_[open].fd)
    --open;  // the starting folder is never closed
  for (std::size_t i = open + 1; i <= level; ++i) {
    Level& below = path_[i];
    below.fd = OpenSubfolder(path_[i - 1].fd.get(), below.name.c_str());
    if (!below.fd) throw FolderError(below.folder, errno);
    struct stat status;
    if (::fstat(below.fd.get(), &status) != 0) throw FolderError(below.folder, errno);
    if (IdentityOf(status) != below.identity) throw FolderChangedError(below.folder);
    if (IsFar(i - 1)) path_[i - 1].fd.Reset();
  }
}

bool Walk::IsFar(std::size_t level) const {
  return level != 0 && path_.size() - level > kOpenFolders;
}

// The walk went one level deeper: the level that has just become far closes.
void Walk::CloseFarFolders() {
  if (path_.size() > kOpenFolders + 1) path_[path_.size() - 1 - kOpenFolders].fd.Reset();
}

int Walk::CurrentFolder() {
  if (!path_.back().fd) Reopen(path_.size() - 1);
  return path_.back().fd.get();
}

void Walk::Visit(Entry entry) {
  switch (entry.type) {
    case DT_DIR:
      Descend(entry.name);
      return;
    case DT_REG:
      File(entry.name, false);
      return;
    case DT_LNK:
    case DT_UNKNOWN:
      break;
    default:
      return;  // devices, pipes and sockets are never opened
  }
  struct stat status;
  if (::fstatat(CurrentFolder(), entry.name.c_str(), &status, 0) != 0) {
    if (LeadsNowhere(errno)) return;
    Unreachable(entry.name, errno);
  }
  if (S_ISDIR(status.st_mode)) {
    Descend(entry.name);
  } else if (S_ISREG(status.st_mode)) {
    File(entry.name, true);
  }
}

void Walk::Descend(const std::string& name) {
  const std::string folder = path_.back().folder + name + "/";
  UniqueFd fd = OpenSubfolder(CurrentFolder(), name.c_str());
  if (!fd) {
    if (CannotBeListed(errno)) return;
    throw FolderError(folder, errno);
  }
  Enter(std::move(fd), folder, name);
}

// The row's name and folder come first, then the error: the digest never does.
void Walk::Unreachable(const std::string& name, int error_number) {
  MainForm& form = *Form1;
  const std::string& folder = path_.back().folder;
  form.ListBox1().Add(name);
  form.ListBox2().Add(folder);
  throw FileError("Cannot open file", folder + name, error_number);
}

// The row stands for the file that was opened and read, whatever the entry
// named when it was listed: its type and identity come from the descriptor.
void Walk::File(const std::string& name, bool follow_link) {
  OpenFile file{OpenForReading(CurrentFolder(), name.c_str(), follow_link), {}};
  if (!file.fd) {
    if (!follow_link && errno == ELOOP) {  // a link now stands where the file was listed
      Visit({name, DT_LNK});
      return;
    }
    Unreachable(name, errno);
  }
  if (::fstat(file.fd.get(), &file.status) != 0) Unreachable(name, errno);
  if (!S_ISREG(file.status.st_mode)) return;
  MainForm& form = *Form1;
  const FileIdentity identity = IdentityOf(file.status);
  if (!form.recorded_files.insert(identity).second) return;

  const std::string& folder = path_.back().folder;
  const std::string path = folder + name;
  form.ListBox1().Add(name);
  form.ListBox2().Add(folder);
  form.ListBox3().Add(DigestToText(ReadDigest(path, std::move(file))));
  form.working_files.push_back(identity);
  form.SetStatusText(path);
  form.ProcessMessages();
}

}  // namespace

void ScanFolder(const std::string& folder) {
  if (folder.empty()) return;
  Walk walk;
  walk.Run(folder.back() == '/' ? folder : folder + "/");
}

}  // namespace dupfind
