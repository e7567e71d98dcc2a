#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "digest/file_status.h"

namespace dupfind {

// The files the scans have given rows since the lists were last emptied, each
// once, as they were when read, numbered in the order they came. Rows name
// their file by its number (4 bytes, where its status takes 56), so that a
// million rows keep their files in little memory.
class RecordedFiles {
 public:
  // The number of no file: a row that no scan gave.
  static constexpr std::uint32_t kNone = UINT32_MAX;

  // Records `status` and returns its number, or kNone when its file (by
  // identity) is recorded already.
  std::uint32_t Record(const FileStatus& status);
  // Keeps `status` under a new number, whether its file is recorded or not.
  std::uint32_t Keep(const FileStatus& status);
  // The status kept as `number`; a default status for kNone.
  const FileStatus& operator[](std::uint32_t number) const;
  void Clear();

 private:
  static constexpr std::size_t kTables = 64;
  // Numbers by the hash of their file's identity, in tables that each grow
  // on their own, so that the set never grows all at once.
  struct Table {
    std::vector<std::uint32_t> cells;  // kNone: empty
    std::size_t used = 0;
  };
  std::size_t Find(const Table& table, const FileIdentity& identity, std::size_t hash) const;
  void Grow(Table& table);

  std::deque<FileStatus> statuses_;
  std::vector<Table> tables_;  // made on first use
};

}  // namespace dupfind
