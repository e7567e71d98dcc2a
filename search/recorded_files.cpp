#include "search/recorded_files.h"

#include <new>

#include "search/text_list.h"

namespace dupfind {
namespace {

// A cell for `hash` among `cells` cells, whatever their number. The table
// was chosen by the hash's low bits, so its high ones choose the cell.
std::size_t CellOf(std::size_t hash, std::size_t cells) {
  return (hash >> 6) % cells;
}

}  // namespace

std::size_t RecordedFiles::Find(const Table& table, const FileIdentity& identity,
                                std::size_t hash) const {
  const std::size_t cells = table.cells.size();
  for (std::size_t cell = CellOf(hash, cells);; cell = cell + 1 == cells ? 0 : cell + 1) {
    const std::uint32_t number = table.cells[cell];
    if (number == kNone || statuses_[number].identity == identity) return cell;
  }
}

void RecordedFiles::Grow(Table& table) {
  // By half again, not twice: less memory stands empty.
  std::vector<std::uint32_t> old(std::max<std::size_t>(16, table.cells.size() * 3 / 2), kNone);
  old.swap(table.cells);
  for (const std::uint32_t number : old) {
    if (number == kNone) continue;
    const FileIdentity& identity = statuses_[number].identity;
    table.cells[Find(table, identity, FileIdentityHash()(identity))] = number;
  }
}

std::uint32_t RecordedFiles::Keep(const FileStatus& status) {
  if (statuses_.size() >= kNone) throw InsertLineError();
  try {
    statuses_.push_back(status);
  } catch (const std::bad_alloc&) {
    throw InsertLineError();
  }
  return static_cast<std::uint32_t>(statuses_.size() - 1);
}

std::uint32_t RecordedFiles::Record(const FileStatus& status) {
  if (tables_.empty()) tables_.resize(kTables);
  const std::size_t hash = FileIdentityHash()(status.identity);
  Table& table = tables_[hash % kTables];
  // At most three quarters full, so that a search along the cells, which
  // looks at the status of each file it passes, ends soon.
  try {
    if ((table.used + 1) * 4 > table.cells.size() * 3) Grow(table);
  } catch (const std::bad_alloc&) {
    throw InsertLineError();
  }
  std::uint32_t& cell = table.cells[Find(table, status.identity, hash)];
  if (cell != kNone) return kNone;
  cell = Keep(status);
  ++table.used;
  return cell;
}

const FileStatus& RecordedFiles::operator[](std::uint32_t number) const {
  static const FileStatus kNoStatus;
  return number < statuses_.size() ? statuses_[number] : kNoStatus;
}

void RecordedFiles::Clear() {
  std::deque<FileStatus>().swap(statuses_);
  std::vector<Table>().swap(tables_);
}

}  // namespace dupfind
