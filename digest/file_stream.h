#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "digest/error.h"
#include "digest/file_status.h"
#include "digest/held_locks.h"
#include "digest/md5.h"
#include "digest/unique_fd.h"

namespace dupfind {

// Files that report no size, as those of /proc and /sys do, are read to their
// end but never past this many bytes: some of them never end.
inline constexpr std::uint64_t kUnsizedReadLimit = std::uint64_t{64} << 20;

// Opens `name` in the folder `folder` (AT_FDCWD: the current folder) for
// reading: read-only, close-on-exec, non-blocking (a FIFO put in place of a
// file can never hang us), never as the controlling terminal. A final link is
// followed unless `follow_link` is false. Returns no descriptor and sets
// errno when it cannot.
UniqueFd OpenForReading(int folder, const char* name, bool follow_link = true);

// As OpenForReading, but only where the system can resolve the name from what
// it holds in memory; otherwise no descriptor, and errno EAGAIN, without
// waiting for a disk.
UniqueFd OpenForReadingIfCached(int folder, const char* name, bool follow_link = true);

// A descriptor open for reading on a regular file, with the file's status.
struct OpenFile {
  UniqueFd fd;
  FileStatus status;
};

// A regular file read so that other programs cannot take it meanwhile, and
// read exactly as it was when it was opened. It holds an exclusive advisory
// lock (see LockFile), and it reads up to the size the file had when it was
// opened, never more. Errors name the file by its absolute path: "Cannot open
// file ..." when it cannot be opened or locked, "Cannot read file ..." when a
// read fails, and "Cannot read file ... The file changed while it was read"
// when the file ends before that size, or its size or modification time
// differ once it has been read to its end. Reads are positioned: seeking
// costs no system call.
class FileStream : public Stream {
 public:
  // Opens the file at `path`; anything but a regular file is refused.
  explicit FileStream(const std::string& path);
  // Takes `file` and locks it; `path` names it in errors.
  FileStream(const std::string& path, OpenFile file);
  // Closes the file, and only then lets go of its lock.
  ~FileStream() override;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  std::uint64_t Size() override;
  std::uint64_t Position() override;
  void Seek(std::uint64_t position) override;
  std::size_t Read(void* buffer, std::size_t size) override;
  // As Read, but takes only what the system holds in memory already: nothing,
  // where reading would wait for a disk or the file system cannot tell.
  std::optional<std::size_t> ReadIfCached(void* buffer, std::size_t size);

  // The file as it was when it was opened.
  const FileStatus& Status() const { return status_; }
  // The file as it is now, asked of the open file; false, with errno set,
  // when the system cannot tell.
  bool StatusNow(FileStatus& status) const;
  // Whether the next read is past the end: the whole file has been read.
  bool AtEnd() const { return ended_; }

 private:
  // Whether the read has reached the size the file had when it was opened.
  bool PastSize() const;
  // Clamps a read of `size` bytes to what is left of the file's size.
  std::size_t Clamp(std::size_t size) const;
  // Counts `delivered` bytes read and checks what their end tells.
  std::size_t Delivered(std::size_t delivered);
  // Throws the changed-file error unless the file still has the size and
  // modification time it had when it was opened.
  void CheckUnchanged() const;

  std::string path_;
  UniqueFd fd_;
  LockHold lock_ = LockHold::kUnsupported;
  FileStatus status_;           // status_.size 0: the file reports no size and is read to its end
  std::uint64_t position_ = 0;  // where the next read starts
  bool ended_ = false;
};

}  // namespace dupfind
