#pragma once

#include <limits>
#include <string>
#include <vector>

#include "digest/error.h"

namespace dupfind {

// The errors of every list: a read outside it, and an Add it cannot take.
Error ListIndexError(int position);
Error InsertLineError();

// Positions are ints: no list holds more rows than this.
inline constexpr std::size_t kMaxRows = std::numeric_limits<int>::max();

// Makes room for `more` rows at the end of `rows`, growing geometrically, or
// throws InsertLineError when the list would be too long or memory runs out.
void ReserveRows(std::vector<std::string>& rows, std::size_t more);

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
  // Removes every row and hands them over in order.
  virtual std::vector<std::string> TakeAll() = 0;

  // The selected row, or -1 for none. Deleting the selected row leaves none
  // selected; deleting a row above it keeps the same row selected.
  virtual int ItemIndex() const = 0;
  virtual void SetItemIndex(int position) = 0;
};

// The plain in-memory list.
class MemoryList : public TextList {
 public:
  void Add(std::string text) override;
  std::string Get(int position) const override;
  void Delete(int position) override;
  int Count() const override;
  void Clear() override;
  void AddAll(std::vector<std::string> texts) override;
  std::vector<std::string> TakeAll() override;
  int ItemIndex() const override { return selected_; }
  void SetItemIndex(int position) override;

  const std::vector<std::string>& Rows() const { return rows_; }

 private:
  std::vector<std::string> rows_;
  int selected_ = -1;
};

}  // namespace dupfind
