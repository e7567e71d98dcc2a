#pragma once

// Temporary folder trees, file locks and a Form1 fixture shared by the search tests.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "digest/error.h"
#include "search/main_form.h"

namespace dupfind::test {

// A fresh folder under the system's temporary folder, removed with all it holds.
// Its path is absolute, free of links and has no trailing "/".
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

  // Creates `relative`, and the folders above it, holding `content`.
  std::string File(const std::string& relative, const std::string& content) const {
    const std::filesystem::path full = std::filesystem::path(path_) / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << content;
    return full.string();
  }
  // A symbolic link at `relative` holding the text `target`.
  void Link(const std::string& relative, const std::string& target) const {
    if (::symlink(target.c_str(), (folder() + relative).c_str()) != 0)
      throw std::system_error(errno, std::generic_category(), "symlink");
  }

 private:
  std::string path_;
};

// Entry names of `folder` in the order the file system lists them, "." and ".." left out.
inline std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  return names;
}

// Holds an exclusive lock on a file through an open file description of its
// own, as another program would; the scan's own open then cannot lock it.
class FileLock {
 public:
  explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0 || ::flock(fd_, LOCK_EX | LOCK_NB) != 0)
      throw std::system_error(errno, std::generic_category(), "lock " + path);
  }
  ~FileLock() { ::close(fd_); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_;
};

// What a locked file's open reports.
inline std::string LockedError(const std::string& path) {
  return "Cannot open file \"" + path + "\". Resource temporarily unavailable";
}

inline std::vector<std::string> Rows(const TextList& list) {
  std::vector<std::string> rows;
  for (int i = 0; i < list.Count(); ++i)
    rows.push_back(list.Get(i));
  return rows;
}

// Points Form1 at a fresh plain form for each test and leaves it unset after.
class FormTest : public ::testing::Test {
 protected:
  void SetUp() override { Form1 = &form; }
  void TearDown() override { Form1 = nullptr; }

  PlainForm form;
};

}  // namespace dupfind::test

// Expects `statement` to throw the program's Error with exactly `text`.
#define EXPECT_ERROR_TEXT(statement, text)                       \
  do {                                                           \
    try {                                                        \
      statement;                                                 \
      ADD_FAILURE() << "no error from " #statement;              \
    } catch (const dupfind::Error& thrown_) {                    \
      EXPECT_EQ(std::string(thrown_.what()), std::string(text)); \
    }                                                            \
  } while (false)
