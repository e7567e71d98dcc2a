#include "ui/list_box.h"

#include <QApplication>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionFocusRect>
#include <QStyledItemDelegate>

#include <utility>

#include "ui/contrast.h"
#include "ui/shown_text.h"

namespace dupfind {
namespace {

// Rows claim no width of their own: the view makes each as wide as itself, so
// the text is cut to the list's width, whatever the widest row is. Disabled
// text is greyed no more than it needs to stay readable on the list's ground.
class ListWideRows : public QStyledItemDelegate {
 public:
  ListWideRows(QObject* parent, const TListBox::Cut& cut)
      : QStyledItemDelegate(parent), cut_(cut) {}

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {0, QStyledItemDelegate::sizeHint(option, index).height()};
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    QPalette& palette = option->palette;
    palette.setColor(QPalette::Disabled, QPalette::Text,
                     ReadableGrey(palette.color(QPalette::Disabled, QPalette::Base),
                                  palette.color(QPalette::Active, QPalette::Text)));
    if (cut_ && !option->text.isEmpty()) {
      // The style keeps this much of a row's width clear on either side.
      const QWidget* view = option->widget;
      const int margin = (view ? view->style() : QApplication::style())
                             ->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) +
                         1;
      try {  // drawn from Qt's own frames, which no error may cross
        option->text = cut_(index.row(), option->fontMetrics, option->rect.width() - 2 * margin);
      } catch (...) {
      }
    }
  }

 private:
  const TListBox::Cut& cut_;
};

}  // namespace

int ListBoxRows::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Size();
}

QVariant ListBoxRows::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= Size()) return {};
  try {  // Qt asks from its own frames, which no error may cross
    if (role == Qt::DisplayRole) return ShownText(At(index.row()));
    if (row_data) return row_data(index.row(), role);
  } catch (...) {
  }
  return {};
}

// Everything that may fail happens before the view hears of new rows.

void ListBoxRows::Append(std::string text) {
  rows_.Add(std::move(text));
  beginInsertRows(QModelIndex(), shown_, shown_);
  ++shown_;
  endInsertRows();
}

void ListBoxRows::AppendAll(std::vector<std::string> texts) {
  if (texts.empty()) return;
  const int added = static_cast<int>(texts.size());
  rows_.AddAll(std::move(texts));
  beginInsertRows(QModelIndex(), shown_, shown_ + added - 1);
  shown_ += added;
  endInsertRows();
}

void ListBoxRows::Remove(int position) {
  beginRemoveRows(QModelIndex(), position, position);
  rows_.Delete(position);
  --shown_;
  endRemoveRows();
}

void ListBoxRows::RemoveAll(const std::vector<int>& positions) {
  // From the last: each removal leaves the positions before it as they are.
  for (auto position = positions.rbegin(); position != positions.rend(); ++position)
    Remove(*position);
}

void ListBoxRows::Clear() {
  beginResetModel();
  rows_.Clear();
  shown_ = 0;
  endResetModel();
}

TListBox::TListBox(QWidget* parent) : QListView(parent), rows_(this) {
  setModel(&rows_);
  setItemDelegate(new ListWideRows(this, cut_));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setUniformItemSizes(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
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
  SetItemIndex(SelectionAfterDeleting(selected, {position}));
}

int TListBox::Count() const {
  return rows_.Size();
}

void TListBox::Clear() {
  rows_.Clear();
}

void TListBox::AddAll(std::vector<std::string> texts) {
  rows_.AppendAll(std::move(texts));
}

void TListBox::DeleteAll(const std::vector<int>& positions) {
  const int selected = ItemIndex();
  rows_.RemoveAll(positions);
  SetItemIndex(SelectionAfterDeleting(selected, positions));
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

void TListBox::FollowScrolling(const TListBox& leader) {
  // Either list may take its new rows, and its new range, first.
  QScrollBar* lead = leader.verticalScrollBar();
  QScrollBar* own = verticalScrollBar();
  const auto follow = [lead, own] { own->setValue(lead->value()); };
  connect(lead, &QScrollBar::valueChanged, own, follow);
  connect(lead, &QScrollBar::rangeChanged, own, follow);
  connect(own, &QScrollBar::rangeChanged, own, follow);
  follow();
}

void TListBox::SetRowData(std::function<QVariant(int position, int role)> row_data) {
  rows_.row_data = std::move(row_data);
}

void TListBox::SetCut(Cut cut) {
  cut_ = std::move(cut);
  viewport()->update();
}

void TListBox::paintEvent(QPaintEvent* event) {
  QListView::paintEvent(event);
  // The view marks the focus on its current row; an empty list has none, so
  // the mark goes around the empty area instead.
  if (!hasFocus() || Count() > 0) return;
  QPainter painter(viewport());
  QStyleOptionFocusRect option;
  option.initFrom(this);
  option.rect = viewport()->rect().adjusted(1, 1, -1, -1);
  option.backgroundColor = palette().color(QPalette::Base);
  style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

void TListBox::focusInEvent(QFocusEvent* event) {
  QListView::focusInEvent(event);
  viewport()->update();
}

void TListBox::focusOutEvent(QFocusEvent* event) {
  QListView::focusOutEvent(event);
  viewport()->update();
}

}  // namespace dupfind
