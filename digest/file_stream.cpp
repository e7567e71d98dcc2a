#include "digest/file_stream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>

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

// File systems that cannot lock at all answer with one of these; their files
// are read without the lock rather than refused one and all.
bool LockingUnsupported(int error_number) {
  return error_number == EBADF || error_number == ENOLCK || error_number == EOPNOTSUPP ||
         error_number == ENOTSUP;
}

OpenFile OpenRegularFile(const std::string& path) {
  OpenFile file{OpenForReading(AT_FDCWD, path.c_str()), {}};
  if (!file.fd || !StatusOf(file.fd.get(), file.status)) throw OpenError(path, errno);
  if (S_ISDIR(file.status.mode)) throw OpenError(path, EISDIR);
  if (!S_ISREG(file.status.mode)) throw OpenError(path, EINVAL);
  return file;
}

// The files this program holds locked, counted by identity in buckets. A
// thread that finds a file locked while a thread of the program holds one of
// its bucket waits for them to let go, then tries again: it never reports a
// lock that is the program's own, and never waits for another program.
class HeldLocks {
 public:
  // Locks `fd`; false when its file system cannot lock at all.
  bool Lock(const std::string& path, int fd, FileIdentity identity, LockWait wait) {
    std::atomic<int>& held = held_[Bucket(identity)];
    for (;;) {
      ++held;  // counted before the lock is taken, so that no one misses it
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
      const int error_number = errno;
      Release(held);
      if (LockingUnsupported(error_number)) return false;
      if (error_number != EWOULDBLOCK) throw OpenError(path, error_number);
      if (wait == LockWait::kNever) throw FileBusy(OpenError(path, error_number).what());
      std::unique_lock<std::mutex> guard(mutex_);
      ++waiters_;
      const bool ours = held != 0;
      while (held != 0)
        released_.wait(guard);
      --waiters_;
      if (!ours) throw OpenError(path, error_number);  // another program's
    }
  }

  // Closes `fd`, which drops its lock.
  void Close(UniqueFd& fd, FileIdentity identity) {
    fd.Reset();
    Release(held_[Bucket(identity)]);
  }

 private:
  static constexpr std::size_t kBuckets = 4096;

  static std::size_t Bucket(FileIdentity identity) {
    return FileIdentityHash()(identity) % kBuckets;
  }

  void Release(std::atomic<int>& held) {
    if (--held == 0 && waiters_ != 0) {
      const std::lock_guard<std::mutex> guard(mutex_);
      released_.notify_all();
    }
  }

  std::atomic<int> held_[kBuckets] = {};
  std::atomic<int> waiters_{0};
  std::mutex mutex_;
  std::condition_variable released_;
};

HeldLocks& Locks() {
  static HeldLocks locks;
  return locks;
}

}  // namespace

UniqueFd OpenForReading(int folder, const char* name, bool follow_link) {
  const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (follow_link ? 0 : O_NOFOLLOW);
  return UniqueFd(::openat(folder, name, flags));
}

FileStream::FileStream(const std::string& path) : FileStream(path, OpenRegularFile(path)) {}

FileStream::FileStream(const std::string& path, OpenFile file, LockWait wait)
    : path_(path), fd_(std::move(file.fd)) {
  Adopt(file.status);
  locked_ = Locks().Lock(path_, fd_.get(), identity_, wait);
}

FileStream::~FileStream() {
  if (locked_) Locks().Close(fd_, identity_);
}

void FileStream::Adopt(const FileStatus& status) {
  identity_ = status.identity;
  size_ = status.size;
  modified_ = status.modified;
}

std::uint64_t FileStream::Size() {
  return size_;
}

std::uint64_t FileStream::Position() {
  return position_;
}

void FileStream::Seek(std::uint64_t position) {
  position_ = position;
}

std::size_t FileStream::Read(void* buffer, std::size_t size) {
  const bool sized = size_ != 0;
  if (sized)
    size =
        static_cast<std::size_t>(std::min<std::uint64_t>(size, size_ - std::min(size_, position_)));
  if (size == 0) return 0;
  if (offset_ != position_) {
    if (::lseek(fd_.get(), static_cast<off_t>(position_), SEEK_SET) < 0) {
      throw ReadError(path_, errno);
    }
    offset_ = position_;
  }
  ssize_t delivered;
  while ((delivered = ::read(fd_.get(), buffer, size)) < 0) {
    if (errno != EINTR) throw ReadError(path_, errno);
  }
  position_ = offset_ += static_cast<std::uint64_t>(delivered);
  if (sized) {
    if (delivered == 0) throw ChangedError(path_);  // it ended before its size
    if (position_ == size_) CheckUnchanged();
  } else if (delivered == 0) {
    CheckUnchanged();
  } else if (position_ > kUnsizedReadLimit) {
    throw ChangedError(path_);
  }
  return static_cast<std::size_t>(delivered);
}

void FileStream::CheckUnchanged() const {
  FileStatus status;
  if (!StatusOf(fd_.get(), status)) throw ReadError(path_, errno);
  if (status.size != size_ || status.modified != modified_) {
    throw ChangedError(path_);
  }
}

}  // namespace dupfind
