#include "search/text_list.h"

#include <limits>
#include <new>

namespace dupfind {

Error ListIndexError(int position) {
  return Error("List index out of bounds (" + std::to_string(position) + ")");
}

Error InsertLineError() {
  return Error("Unable to insert a line");
}

void MemoryList::Add(std::string text) {
  try {
    if (rows_.size() >= static_cast<std::size_t>(std::numeric_limits<int>::max())) {
      throw std::bad_alloc();  // positions are ints: the list is full
    }
    rows_.push_back(std::move(text));
  } catch (const std::bad_alloc&) {
    throw InsertLineError();
  }
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
