#include "search/text_list.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <stdexcept>
#include <utility>

namespace dupfind {

Error ListIndexError(int position) {
  return Error("List index out of bounds (" + std::to_string(position) + ")");
}

Error InsertLineError() {
  return Error("Unable to insert a line");
}

void ReserveRows(std::vector<std::string>& rows, std::size_t more) {
  if (more > kMaxRows - rows.size()) throw InsertLineError();
  const std::size_t needed = rows.size() + more;
  if (needed <= rows.capacity()) return;
  try {
    rows.reserve(std::min(kMaxRows, std::max(needed, rows.capacity() * 2)));
  } catch (const std::bad_alloc&) {
    throw InsertLineError();
  } catch (const std::length_error&) {
    throw InsertLineError();
  }
}

void MemoryList::Add(std::string text) {
  ReserveRows(rows_, 1);
  rows_.push_back(std::move(text));
}

void MemoryList::AddAll(std::vector<std::string> texts) {
  if (rows_.empty() && texts.size() <= kMaxRows) {
    rows_ = std::move(texts);  // nothing to move row by row
    return;
  }
  ReserveRows(rows_, texts.size());
  std::move(texts.begin(), texts.end(), std::back_inserter(rows_));
}

std::vector<std::string> MemoryList::TakeAll() {
  selected_ = -1;
  return std::exchange(rows_, {});
}

std::string MemoryList::Get(int position) const {
  if (position < 0 || position >= Count()) {
    throw ListIndexError(position);
  }
  return rows_[static_cast<std::size_t>(position)];
}

void MemoryList::Delete(int position) {
  if (position < 0 || position >= Count()) return;
  rows_.erase(rows_.begin() + position);
  if (position == selected_) {
    selected_ = -1;
  } else if (position < selected_) {
    --selected_;
  }
}

int MemoryList::Count() const {
  return static_cast<int>(rows_.size());
}

void MemoryList::Clear() {
  rows_.clear();
  selected_ = -1;
}

void MemoryList::SetItemIndex(int position) {
  selected_ = position >= 0 && position < Count() ? position : -1;
}

}  // namespace dupfind
