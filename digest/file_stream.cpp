#include "digest/file_stream.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "digest/file_error.h"

namespace dupfind {
namespace {

Error OpenError(const std::string& path, int error_number) {
  return FileError("Cannot open file", path, error_number);
}

Error ReadError(const std::string& path, int error_number) {
  return FileError("Cannot read file", path, error_number);
}

Error ChangedError(const std::string& path) {
  return FileError("Cannot read file", path, std::string("The file changed while it was read"));
}

OpenFile OpenRegularFile(const std::string& path) {
  OpenFile file{OpenForReading(AT_FDCWD, path.c_str()), {}};
  if (!file.fd || !StatusOf(file.fd.get(), file.status)) throw OpenError(path, errno);
  if (S_ISDIR(file.status.mode)) throw OpenError(path, EISDIR);
  if (!S_ISREG(file.status.mode)) throw OpenError(path, EINVAL);
  return file;
}

int ReadingFlags(bool follow_link) {
  return O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (follow_link ? 0 : O_NOFOLLOW);
}

}  // namespace

UniqueFd OpenForReading(int folder, const char* name, bool follow_link) {
  return UniqueFd(::openat(folder, name, ReadingFlags(follow_link)));
}

UniqueFd OpenForReadingIfCached(int folder, const char* name, bool follow_link) {
  static std::atomic<bool> unsupported{false};  // a kernel older than RESOLVE_CACHED
  if (!unsupported) {
    open_how how{};
    how.flags = static_cast<std::uint64_t>(ReadingFlags(follow_link));
    how.resolve = RESOLVE_CACHED;
    const long fd = ::syscall(SYS_openat2, folder, name, &how, sizeof how);
    if (fd >= 0) return UniqueFd(static_cast<int>(fd));
    if (errno != ENOSYS && errno != EINVAL) return UniqueFd();
    unsupported = true;
  }
  errno = EAGAIN;
  return UniqueFd();
}

FileStream::FileStream(const std::string& path) : FileStream(path, OpenRegularFile(path)) {}

FileStream::FileStream(const std::string& path, OpenFile file)
    : path_(path), fd_(std::move(file.fd)), status_(file.status) {
  lock_ = LockFile(path_, fd_.get(), status_.identity);
}

FileStream::~FileStream() {
  fd_.Reset();
  if (lock_ == LockHold::kOwn) ReleaseLock(status_.identity);
}

bool FileStream::StatusNow(FileStatus& status) const {
  return StatusOf(fd_.get(), status);
}

std::uint64_t FileStream::Size() {
  return status_.size;
}

std::uint64_t FileStream::Position() {
  return position_;
}

void FileStream::Seek(std::uint64_t position) {
  position_ = position;
  ended_ = false;
}

std::size_t FileStream::Clamp(std::size_t size) const {
  if (status_.size == 0) return size;
  return static_cast<std::size_t>(
      std::min<std::uint64_t>(size, status_.size - std::min(status_.size, position_)));
}

std::size_t FileStream::Read(void* buffer, std::size_t size) {
  if (PastSize()) return 0;
  size = Clamp(size);
  ssize_t delivered;
  while ((delivered = ::pread(fd_.get(), buffer, size, static_cast<off_t>(position_))) < 0) {
    if (errno != EINTR) throw ReadError(path_, errno);
  }
  return Delivered(static_cast<std::size_t>(delivered));
}

std::optional<std::size_t> FileStream::ReadIfCached(void* buffer, std::size_t size) {
  if (PastSize()) return 0;
  size = Clamp(size);
  iovec piece{buffer, size};
  ssize_t delivered;
  while ((delivered = ::preadv2(fd_.get(), &piece, 1, static_cast<off_t>(position_), RWF_NOWAIT)) <
         0) {
    // Not in memory, or a file system that cannot say so without waiting.
    if (errno == EAGAIN || errno == EOPNOTSUPP || errno == EINVAL) return std::nullopt;
    if (errno != EINTR) throw ReadError(path_, errno);
  }
  return Delivered(static_cast<std::size_t>(delivered));
}

bool FileStream::PastSize() const {
  return status_.size != 0 && position_ >= status_.size;
}

std::size_t FileStream::Delivered(std::size_t delivered) {
  const bool sized = status_.size != 0;
  position_ += delivered;
  if (sized) {
    if (delivered == 0) throw ChangedError(path_);  // it ended before its size
    if (position_ == status_.size) {
      CheckUnchanged();
      ended_ = true;
    }
  } else if (delivered == 0) {
    CheckUnchanged();
    ended_ = true;
  } else if (position_ > kUnsizedReadLimit) {
    throw ChangedError(path_);
  }
  return delivered;
}

void FileStream::CheckUnchanged() const {
  FileStatus now;
  if (!StatusOf(fd_.get(), now)) throw ReadError(path_, errno);
  if (now.size != status_.size || now.modified != status_.modified) throw ChangedError(path_);
}

}  // namespace dupfind
