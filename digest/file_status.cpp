#include "digest/file_status.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace dupfind {
namespace {

std::int64_t Nanoseconds(const struct statx_timestamp& time) {
  return time.tv_sec * 1'000'000'000 + time.tv_nsec;
}

bool Status(int folder, const char* name, int flags, FileStatus& status) {
  struct statx result;
  if (::statx(folder, name, flags | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME,
              &result) != 0) {
    return false;
  }
  status.mode = result.stx_mode;
  status.identity.device = makedev(result.stx_dev_major, result.stx_dev_minor);
  status.identity.inode = result.stx_ino;
  status.identity.born = (result.stx_mask & STATX_BTIME) != 0 ? Nanoseconds(result.stx_btime) : 0;
  status.size = result.stx_size;
  status.modified = Nanoseconds(result.stx_mtime);
  status.changed = Nanoseconds(result.stx_ctime);
  return true;
}

}  // namespace

std::size_t FileIdentityHash::operator()(const FileIdentity& identity) const {
  std::uint64_t hash = identity.inode * 0x9E3779B97F4A7C15u;
  hash ^= (identity.device + (hash << 6) + (hash >> 2)) * 0xC2B2AE3D27D4EB4Fu;
  hash ^= static_cast<std::uint64_t>(identity.born) + (hash << 6) + (hash >> 2);
  return static_cast<std::size_t>(hash ^ (hash >> 29));
}

bool StatusOf(int fd, FileStatus& status) {
  return Status(fd, "", AT_EMPTY_PATH, status);
}

bool StatusAt(int folder, const char* name, bool follow_link, FileStatus& status) {
  return Status(folder, name, follow_link ? 0 : AT_SYMLINK_NOFOLLOW, status);
}

}  // namespace dupfind
