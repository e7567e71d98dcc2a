#include "ui/list_box.h"

#include <limits>
#include <new>

namespace dupfind {

int ListBoxRows::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Size();
}

QVariant ListBoxRows::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= Size()) return {};
  const std::string& row = At(index.row());
  return QString::fromUtf8(row.data(), static_cast<qsizetype>(row.size()));
}

void ListBoxRows::Append(std::string text) {
  // Everything that may fail happens before the view hears of the new row.
  try {
    if (rows_.size() >= static_cast<std::size_t>(std::numeric_limits<int>::max())) {
      throw std::bad_alloc();
    }
    if (rows_.size() == rows_.capacity()) rows_.reserve(rows_.size() * 2 + 16);
  } catch (const std::bad_alloc&) {
    throw InsertLineError();
  }
  beginInsertRows(QModelIndex(), Size(), Size());
  rows_.push_back(std::move(text));
  endInsertRows();
}

void ListBoxRows::Remove(int position) {
  beginRemoveRows(QModelIndex(), position, position);
  rows_.erase(rows_.begin() + position);
  endRemoveRows();
}

void ListBoxRows::RemoveAll() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

TListBox::TListBox(QWidget* parent) : QListView(parent), rows_(this) {
  setModel(&rows_);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setUniformItemSizes(true);
}

void TListBox::Add(std::string text) {
  rows_.Append(std::move(text));
}

std::string TListBox::Get(int position) const {
  if (position < 0 || position >= Count()) {
    throw ListIndexError(position);
  }
  return rows_.At(position);
}

void TListBox::Delete(int position) {
  if (position < 0 || position >= Count()) return;
  // When the current row goes, the view makes a neighbour current and selects
  // it; a second press of "delete" would then remove another copy. The list
  // keeps its own rule: the same row stays selected, or none when it goes.
  const int selected = ItemIndex();
  rows_.Remove(position);
  SetItemIndex(selected == position ? -1 : selected > position ? selected - 1 : selected);
}

int TListBox::Count() const {
  return rows_.Size();
}

void TListBox::Clear() {
  rows_.RemoveAll();
}

int TListBox::ItemIndex() const {
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  return selected.isEmpty() ? -1 : selected.first().row();
}

void TListBox::SetItemIndex(int position) {
  if (position < 0 || position >= Count()) {
    selectionModel()->clearSelection();
    return;
  }
  const QModelIndex index = rows_.index(position);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
}

}  // namespace dupfind
