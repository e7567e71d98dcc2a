#include "digest/file_status.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>

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
  // Every bit of it stirred into every other (MurmurHash3's finaliser): the
  // set takes its tables from the high bits and its slots from the low ones.
  hash ^= hash >> 33;
  hash *= 0xFF51AFD7ED558CCDu;
  hash ^= hash >> 33;
  hash *= 0xC4CEB9FE1A85EC53u;
  hash ^= hash >> 33;
  return static_cast<std::size_t>(hash);
}

std::size_t FileIdentitySet::Find(const Table& table, const FileIdentity& identity,
                                  std::size_t hash) {
  const std::size_t mask = table.cells.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const FileIdentity& there = table.cells[slot];
    if (there == identity || there == FileIdentity{}) return slot;
  }
}

void FileIdentitySet::Grow(Table& table) {
  std::vector<FileIdentity> old(std::max<std::size_t>(16, table.cells.size() * 2));
  old.swap(table.cells);
  for (const FileIdentity& identity : old) {
    if (identity == FileIdentity{}) continue;
    table.cells[Find(table, identity, FileIdentityHash()(identity))] = identity;
  }
}

bool FileIdentitySet::Insert(const FileIdentity& identity) {
  if (identity == FileIdentity{}) {
    if (has_empty_) return false;
    has_empty_ = true;
    ++size_;
    return true;
  }
  if (tables_.empty()) tables_.resize(kTables);
  const std::size_t hash = FileIdentityHash()(identity);
  Table& table = tables_[hash >> 58];
  // At most three quarters full, so that a search along the slots ends soon.
  if ((table.used + 1) * 4 > table.cells.size() * 3) Grow(table);
  FileIdentity& slot = table.cells[Find(table, identity, hash)];
  if (slot == identity) return false;
  slot = identity;
  ++table.used;
  ++size_;
  return true;
}

bool FileIdentitySet::Contains(const FileIdentity& identity) const {
  if (identity == FileIdentity{}) return has_empty_;
  if (tables_.empty()) return false;
  const std::size_t hash = FileIdentityHash()(identity);
  const Table& table = tables_[hash >> 58];
  return table.used != 0 && table.cells[Find(table, identity, hash)] == identity;
}

void FileIdentitySet::Clear() {
  std::vector<Table>().swap(tables_);
  has_empty_ = false;
  size_ = 0;
}

bool StatusOf(int fd, FileStatus& status) {
  return Status(fd, "", AT_EMPTY_PATH, status);
}

bool StatusAt(int folder, const char* name, bool follow_link, FileStatus& status) {
  return Status(folder, name, follow_link ? 0 : AT_SYMLINK_NOFOLLOW, status);
}

}  // namespace dupfind
