#include "ui/list_box.h"

#include <iterator>
#include <utility>

namespace dupfind {

int ListBoxRows::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Size();
}

QVariant ListBoxRows::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= Size()) return {};
  return QString::fromStdString(At(index.row()));
}

// Everything that may fail happens before the view hears of new rows.

void ListBoxRows::Append(std::string text) {
  ReserveRows(rows_, 1);
  beginInsertRows(QModelIndex(), Size(), Size());
  rows_.push_back(std::move(text));
  endInsertRows();
}

void ListBoxRows::AppendAll(std::vector<std::string> texts) {
  if (texts.empty()) return;
  ReserveRows(rows_, texts.size());
  beginInsertRows(QModelIndex(), Size(), Size() + static_cast<int>(texts.size()) - 1);
  std::move(texts.begin(), texts.end(), std::back_inserter(rows_));
  endInsertRows();
}

void ListBoxRows::Remove(int position) {
  beginRemoveRows(QModelIndex(), position, position);
  rows_.erase(rows_.begin() + position);
  endRemoveRows();
}

std::vector<std::string> ListBoxRows::TakeAll() {
  beginResetModel();
  std::vector<std::string> rows = std::exchange(rows_, {});
  endResetModel();
  return rows;
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
  rows_.TakeAll();
}

void TListBox::AddAll(std::vector<std::string> texts) {
  rows_.AppendAll(std::move(texts));
}

std::vector<std::string> TListBox::TakeAll() {
  return rows_.TakeAll();
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
