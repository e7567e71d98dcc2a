#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dupfind {

// A file on disk, whichever path reaches it: its device, its inode number and,
// where the file system keeps one, its birth time, so that a file given the
// inode number of another deleted meanwhile is not taken for that one.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t born = 0;  // nanoseconds since the epoch; 0 where no birth time is kept

  bool operator==(const FileIdentity&) const = default;
};

struct FileIdentityHash {
  std::size_t operator()(const FileIdentity& identity) const;
};

// A set of file identities, kept compact for a search of millions of files:
// open addressing in tables that each grow on their own, so that a table's
// growth never doubles the whole set's memory at once.
class FileIdentitySet {
 public:
  // Adds `identity`; false when it was there already.
  bool Insert(const FileIdentity& identity);
  bool Contains(const FileIdentity& identity) const;
  std::size_t Size() const { return size_; }
  void Clear();

 private:
  static constexpr std::size_t kTables = 64;
  struct Table {
    std::vector<FileIdentity> cells;  // a power of two of them; all zero: empty
    std::size_t used = 0;
  };
  // The slot of `identity` in its table, or of the empty one where it would go.
  static std::size_t Find(const Table& table, const FileIdentity& identity, std::size_t hash);
  static void Grow(Table& table);

  std::vector<Table> tables_;  // made on first use
  bool has_empty_ = false;     // the all-zero identity, which marks empty slots
  std::size_t size_ = 0;
};

// What the system says of a file at one moment. Times are nanoseconds since
// the epoch.
struct FileStatus {
  mode_t mode = 0;  // the type bits tell a regular file (S_ISREG) from a folder
  FileIdentity identity;
  std::uint64_t size = 0;
  std::int64_t modified = 0;
  std::int64_t changed = 0;  // the status change time, which no program can set back

  bool operator==(const FileStatus&) const = default;
};

// The status of the open file `fd`. False, with errno set, when it cannot be had.
bool StatusOf(int fd, FileStatus& status);

// The status of the entry `name` of the folder `folder` (AT_FDCWD: the current
// folder), following a final link unless `follow_link` is false. False, with
// errno set, when it cannot be had.
bool StatusAt(int folder, const char* name, bool follow_link, FileStatus& status);

}  // namespace dupfind
