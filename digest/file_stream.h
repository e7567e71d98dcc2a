#pragma once

#include <cstdint>
#include <string>

#include "digest/error.h"
#include "digest/file_status.h"
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

// A descriptor open for reading on a regular file, with the file's status.
struct OpenFile {
  UniqueFd fd;
  FileStatus status;
};

// The open error of a file another open file description holds locked.
class FileBusy : public Error {
 public:
  using Error::Error;
};

// What a FileStream does when the file is locked by another thread of this
// program: wait until it lets go (other programs' locks are refused at once),
// or refuse at once with FileBusy.
enum class LockWait { kForThisProgram, kNever };

// A regular file read so that other programs cannot take it meanwhile, and
// read exactly as it was when it was opened. It holds an exclusive advisory
// lock, and it reads up to the size the file had when it was opened, never
// more. Errors name the file by its absolute path: "Cannot open file ..."
// when it cannot be opened or locked, "Cannot read file ..." when a read or
// seek fails, and "Cannot read file ... The file changed while it was read"
// when the file ends before that size, or its size or modification time
// differ once it has been read to its end. Seeks reach the descriptor only
// when a read needs them, so digesting a small file costs no seek at all.
class FileStream : public Stream {
 public:
  // Opens the file at `path`; anything but a regular file is refused.
  explicit FileStream(const std::string& path);
  // Takes `file` and locks it; `path` names it in errors.
  FileStream(const std::string& path, OpenFile file, LockWait wait = LockWait::kForThisProgram);
  ~FileStream() override;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  std::uint64_t Size() override;
  std::uint64_t Position() override;
  void Seek(std::uint64_t position) override;
  std::size_t Read(void* buffer, std::size_t size) override;

 private:
  void Adopt(const FileStatus& status);
  // Throws the changed-file error unless the file still has the size and
  // modification time it had when it was opened.
  void CheckUnchanged() const;

  std::string path_;
  UniqueFd fd_;
  bool locked_ = false;
  FileIdentity identity_{};
  std::uint64_t size_ = 0;  // 0: the file reports no size and is read to its end
  std::int64_t modified_ = 0;
  std::uint64_t position_ = 0;  // where the next read starts
  std::uint64_t offset_ = 0;    // the descriptor's own position
};

}  // namespace dupfind
