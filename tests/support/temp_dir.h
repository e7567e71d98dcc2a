#pragma once

// Temporary folders, file locks and error texts, shared by the tests of every
// folder.

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "digest/error.h"

namespace dupfind::test {

using Strings = std::vector<std::string>;

// A fresh folder under the system's temporary folder, removed with all it holds.
// Its path is absolute, free of links and has no trailing "/", so error texts
// that name files in it can be predicted.
class TempDir {
 public:
  TempDir() {
    namespace fs = std::filesystem;
    path_ = (fs::canonical(fs::temp_directory_path()) / "dupfind-test-XXXXXX").string();
    if (::mkdtemp(path_.data()) == nullptr)
      throw std::system_error(errno, std::generic_category(), "mkdtemp");
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);  // does not follow links
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string folder() const { return path_ + "/"; }  // as the scan writes it

  // Creates `relative`, and the folders above it, holding `content`; returns its path.
  std::string File(const std::string& relative, const std::string& content) const {
    const std::filesystem::path full = std::filesystem::path(path_) / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << content;
    return full.string();
  }
  // Creates the folder `relative` and `depth` folders nested below it, all
  // named kLevel, each of them holding a file "f" with `content`, however
  // long their paths; returns the deepest one's path, ending in "/".
  static constexpr char kLevel[] = "dddddddd";
  std::string Chain(const std::string& relative, int depth, const std::string& content) const {
    std::filesystem::create_directories(folder() + relative);
    std::string deepest = folder() + relative + "/";
    int fd = ::open(deepest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0;; ++level) {
      const int file = fd < 0 ? -1 : ::openat(fd, "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      const bool written = file >= 0 && ::write(file, content.data(), content.size()) ==
                                            static_cast<ssize_t>(content.size());
      if (file >= 0) ::close(file);
      if (!written) throw std::system_error(errno, std::generic_category(), "chain " + relative);
      if (level == depth) break;
      ::mkdirat(fd, kLevel, 0755);
      const int below = ::openat(fd, kLevel, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ::close(fd);
      fd = below;
      deepest += kLevel + std::string("/");
    }
    ::close(fd);
    return deepest;
  }
  // A symbolic link at `relative` holding the text `target`.
  void Link(const std::string& relative, const std::string& target) const {
    if (::symlink(target.c_str(), (folder() + relative).c_str()) != 0)
      throw std::system_error(errno, std::generic_category(), "symlink");
  }

 private:
  std::string path_;
};

// Whether anything, a dangling link included, stands at `path`.
inline bool Exists(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0;
}

// Entry names of `folder` in the order the file system lists them, "." and ".." left out.
inline Strings Listing(const std::string& folder) {
  Strings names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  return names;
}

inline std::ptrdiff_t OpenDescriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                       std::filesystem::directory_iterator());
}

// Holds an exclusive lock on a file through an open file description of its
// own, as another program would; the program's own open then cannot lock it.
class FileLock {
 public:
  explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0 || ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      if (fd_ >= 0) ::close(fd_);
      throw std::system_error(error, std::generic_category(), "lock " + path);
    }
  }
  ~FileLock() { ::close(fd_); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_;
};

// What the open of a file locked by a FileLock reports.
inline std::string LockedError(const std::string& path) {
  return "Cannot open file \"" + path + "\". Resource temporarily unavailable";
}

// The message of the program's Error that `call` throws, or a marker when it
// throws none.
template <class Call>
std::string ErrorText(Call&& call) {
  try {
    call();
  } catch (const Error& error) {
    return error.what();
  }
  return "<no error>";
}

}  // namespace dupfind::test
