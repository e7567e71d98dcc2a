#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "digest/error.h"

namespace dupfind {

// The errors of every list: a read outside it, and an Add it cannot take.
Error ListIndexError(int position);
Error InsertLineError();

// Positions are ints: no list holds more rows than this.
inline constexpr std::size_t kMaxRows = std::numeric_limits<int>::max();

// One ordered list of text rows, as the search sees the window's lists.
// Positions count from 0. Get outside the list throws
// "List index out of bounds (<position>)"; Delete outside it does nothing.
class TextList {
 public:
  virtual ~TextList() = default;

  virtual void Add(std::string text) = 0;
  virtual std::string Get(int position) const = 0;
  virtual void Delete(int position) = 0;
  virtual int Count() const = 0;
  virtual void Clear() = 0;

  // Appends all of `texts`, or none of them when the list cannot take them.
  virtual void AddAll(std::vector<std::string> texts) = 0;
  // Removes the rows at `positions`, in increasing order, all at once; the
  // selection goes as Delete would move it.
  virtual void DeleteAll(const std::vector<int>& positions) = 0;
  // A hash of the row's text: rows of equal text hash alike within a list.
  virtual std::uint64_t Hash(int position) const;

  // The selected row, or -1 for none. Deleting the selected row leaves none
  // selected; deleting a row above it keeps the same row selected.
  virtual int ItemIndex() const = 0;
  virtual void SetItemIndex(int position) = 0;
};

// Where a selection at `selected` goes once the rows at `positions`
// (increasing) are deleted: -1 if its own row goes, else up by the rows above.
int SelectionAfterDeleting(int selected, const std::vector<int>& positions);

// The plain in-memory list. Rows are kept compact, for the working lists of a
// search of a million files: their bytes in large blocks, a row of the same
// text as the row before it sharing its bytes (the folder of the files of
// one folder), and a digest text (32 uppercase hexadecimal digits) kept as
// its 16 bytes. Deleted rows' bytes are given back by Clear, and by DeleteAll
// once they are most of what the list holds.
class MemoryList : public TextList {
 public:
  MemoryList();
  ~MemoryList() override;
  MemoryList(MemoryList&&) noexcept;
  MemoryList& operator=(MemoryList&&) noexcept;

  void Add(std::string text) override;
  std::string Get(int position) const override;
  // Row `position`'s text without a copy, valid until the list changes; none
  // for a digest text, which is kept as its 16 bytes.
  std::optional<std::string_view> TextView(int position) const;
  void Delete(int position) override;
  int Count() const override;
  void Clear() override;
  void AddAll(std::vector<std::string> texts) override;
  void DeleteAll(const std::vector<int>& positions) override;
  std::uint64_t Hash(int position) const override;
  int ItemIndex() const override { return selected_; }
  void SetItemIndex(int position) override;

 private:
  struct Row {
    std::uint64_t at : 39;     // where its bytes start in the blocks
    std::uint64_t size : 24;   // how many bytes it keeps
    std::uint64_t digest : 1;  // 16 bytes standing for 32 hexadecimal digits
  };
  class Blocks;

  std::string_view Bytes(const Row& row) const;
  // Its bytes as kept in the blocks: a long row's with its size in front.
  std::string_view Stored(const Row& row) const;
  void Check(int position) const;

  // Copies the rows' bytes into new blocks, leaving behind those of rows
  // deleted since they were added.
  void Compact();
  // Appends `row`, or throws InsertLineError when the list can take no more.
  void Append(const Row& row);

  std::deque<Row> rows_;  // in blocks: no copy of them all as they grow
  std::unique_ptr<Blocks> blocks_;
  int selected_ = -1;
};

}  // namespace dupfind
