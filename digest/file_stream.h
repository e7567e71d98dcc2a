#pragma once

#include <sys/types.h>

#include <string>
#include <utility>

#include "digest/md5.h"

namespace dupfind {

// A file on disk, whichever path reaches it: its device and inode.
using FileIdentity = std::pair<dev_t, ino_t>;

// A regular file opened for reading, held so that other programs cannot take it
// while it is read: read-only, close-on-exec, non-blocking (a FIFO can never
// hang us), with an exclusive advisory lock. Errors name the file by its
// absolute path: "Cannot open file ..." when it cannot be opened or locked,
// "Cannot read file ..." when a read or seek fails. The size is the one the
// file had when it was opened; seeks reach the descriptor only when a read
// needs them, so digesting a small file costs no seek at all.
class FileStream : public Stream {
 public:
  explicit FileStream(const std::string& path);
  // Adopts an already open descriptor, named `path` in error messages.
  FileStream(const std::string& path, int fd);
  ~FileStream() override;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  std::uint64_t Size() override;
  std::uint64_t Position() override;
  void Seek(std::uint64_t position) override;
  std::size_t Read(void* buffer, std::size_t size) override;

  FileIdentity Identity() const { return identity_; }

 private:
  std::string path_;
  int fd_;
  FileIdentity identity_{};
  std::uint64_t size_ = 0;
  std::uint64_t position_ = 0;  // where the next read starts
  std::uint64_t offset_ = 0;    // the descriptor's own position
};

}  // namespace dupfind
