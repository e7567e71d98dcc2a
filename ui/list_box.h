#pragma once

#include <QAbstractListModel>
#include <QListView>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "search/text_list.h"

namespace dupfind {

// The rows of a list box, kept as the bytes the search gave them, compact as
// the working lists keep theirs, and decoded only to be shown.
class ListBoxRows : public QAbstractListModel {
  Q_OBJECT

 public:
  using QAbstractListModel::QAbstractListModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  void Append(std::string text);
  void AppendAll(std::vector<std::string> texts);
  void Remove(int position);
  void RemoveAll(const std::vector<int>& positions);
  void Clear();
  std::string At(int position) const { return rows_.Get(position); }
  std::optional<std::string_view> TextViewAt(int position) const {
    return rows_.TextView(position);
  }
  int Size() const { return shown_; }

  // What a row gives for roles other than its text (a tooltip, what
  // assistive technology reads), by position; nothing when unset or null.
  std::function<QVariant(int position, int role)> row_data;

 private:
  MemoryList rows_;
  // The rows the view knows of: a row is taken in before the view hears of
  // it, so that one the list cannot take leaves the view as it was.
  int shown_ = 0;
};

// A visible list of the main window: a list view over its rows that the search
// reaches as a TextList. The selected row is the view's, at most one. Rows are
// as wide as the list and a text too long for it is cut short with "…" on the
// side the view's textElideMode names, or as SetCut says: the list never
// scrolls sideways. Disabled, it draws its text greyed yet readable.
class TListBox : public QListView, public TextList {
  Q_OBJECT

 public:
  explicit TListBox(QWidget* parent = nullptr);

  void Add(std::string text) override;
  std::string Get(int position) const override;
  void Delete(int position) override;
  int Count() const override;
  void Clear() override;
  void AddAll(std::vector<std::string> texts) override;
  void DeleteAll(const std::vector<int>& positions) override;
  int ItemIndex() const override;
  std::string Row(int position) const { return rows_.At(position); }  // Get, for a row there
  // Row, without a copy where the row is kept as text (MemoryList::TextView).
  std::optional<std::string_view> RowView(int position) const { return rows_.TextViewAt(position); }
  void SetItemIndex(int position) override;

  // Keeps this list at `leader`'s vertical position from now on, so that its
  // rows stand beside the leader's rows of the same position.
  void FollowScrolling(const TListBox& leader);

  void SetRowData(std::function<QVariant(int position, int role)> row_data);

  // How a row's text is cut to `width` pixels; the result must fit. Called
  // from the view's paint: it must not fail.
  using Cut = std::function<QString(int position, const QFontMetrics& metrics, int width)>;
  void SetCut(Cut cut);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  ListBoxRows rows_;
  Cut cut_;  // empty: the view's own cut
};

}  // namespace dupfind
