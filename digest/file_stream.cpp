#include "digest/file_stream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

// File systems that cannot lock at all answer with one of these; their files
// are read without the lock rather than refused one and all.
bool LockingUnsupported(int error_number) {
  return error_number == EBADF || error_number == ENOLCK || error_number == EOPNOTSUPP ||
         error_number == ENOTSUP;
}

}  // namespace

FileStream::FileStream(const std::string& path)
    : path_(path), fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)) {
  if (fd_ < 0) throw OpenError(path_, errno);
  struct stat status;
  int refusal = 0;
  if (::fstat(fd_, &status) != 0) {
    refusal = errno;
  } else if (S_ISDIR(status.st_mode)) {
    refusal = EISDIR;
  } else if (!S_ISREG(status.st_mode)) {
    refusal = EINVAL;
  } else if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 && !LockingUnsupported(errno)) {
    refusal = errno;  // another program holds the file locked
  }
  if (refusal != 0) {
    ::close(fd_);
    throw OpenError(path_, refusal);
  }
  identity_ = {status.st_dev, status.st_ino};
  size_ = static_cast<std::uint64_t>(status.st_size);
}

FileStream::FileStream(const std::string& path, int fd) : path_(path), fd_(fd) {
  struct stat status;
  const off_t offset = ::lseek(fd_, 0, SEEK_CUR);
  if (::fstat(fd_, &status) != 0 || offset < 0) {
    const int error_number = errno;
    ::close(fd_);
    throw ReadError(path_, error_number);
  }
  identity_ = {status.st_dev, status.st_ino};
  size_ = static_cast<std::uint64_t>(status.st_size);
  position_ = offset_ = static_cast<std::uint64_t>(offset);
}

FileStream::~FileStream() {
  ::close(fd_);
}  // closing also drops the lock

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
  if (offset_ != position_) {
    if (::lseek(fd_, static_cast<off_t>(position_), SEEK_SET) < 0) throw ReadError(path_, errno);
    offset_ = position_;
  }
  for (;;) {
    const ssize_t delivered = ::read(fd_, buffer, size);
    if (delivered >= 0) {
      position_ = offset_ += static_cast<std::uint64_t>(delivered);
      return static_cast<std::size_t>(delivered);
    }
    if (errno != EINTR) throw ReadError(path_, errno);
  }
}

}  // namespace dupfind
