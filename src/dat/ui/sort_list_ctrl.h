#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <QTableView>
#include <deque>
#include <vector>

// Order of two cell texts under the list's sorting rules: when `a` is only digits (or empty) both
// compare as decimal integers; otherwise, when `a` has the form dd/dd/dddd, both compare as dates
// (year, then the first field, then the second); otherwise as text. Negative, zero or positive.
int CompareSortTexts(const QString& a, const QString& b);

// The rows of a CSortListCtrl: texts per column, kept in a deque so that dropping the oldest row
// and appending a new one cost the same however many rows there are.
class CSortListModel final : public QAbstractTableModel {
 public:
  explicit CSortListModel(QObject* parent = nullptr);

  void SetColumns(const QStringList& names);
  int AddItem(const QStringList& texts);
  // The same rows as DeleteItem(0) then AddItem(texts), told to the views as changed texts rather
  // than a removal and an insertion, which a view answers with work for every row it holds.
  int DropFirstAndAdd(const QStringList& texts);
  bool DeleteItem(int row);
  void DeleteAllItems();
  // Sorts by `column`, keeping the order of equal rows.
  void SortBy(int column, bool ascending);
  QString Text(int row, int column) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  QStringList columns;
  std::deque<QStringList> rows;
};

// A report-style list with sortable columns: a click on a column header sorts the rows by it,
// ascending; a second click on the same column reverses the order, and the header shows the
// arrow. Rows are added at the end whatever the current order (a sorted list is re-sorted only
// by another click). Every row has the same height; a removal or insertion still costs the view
// work for every row, which DropFirstAndAdd avoids for a list kept at a fixed length.
class CSortListCtrl final : public QTableView {
 public:
  explicit CSortListCtrl(QWidget* parent = nullptr);

  // "name,width;name,width;...": one column per pair, width in pixels (0: sized later).
  void SetHeadings(const QString& headings);
  // Appends a row (one text per column) and returns its index.
  int AddItem(const QStringList& texts);
  // Deletes the first row and appends one, at a cost that does not grow with the rows (a bounded
  // list at its limit); returns the new row's index. With no rows it only appends.
  int DropFirstAndAdd(const QStringList& texts);
  bool DeleteItem(int row);
  void DeleteAllItems();
  int GetItemCount() const { return items.rowCount(); }
  QString GetItemText(int row, int column) const { return items.Text(row, column); }
  // The same as a click on the header of `column`.
  void SortColumn(int column);
  int SortedColumn() const { return sortColumn; }
  bool SortAscending() const { return ascending; }

 private:
  CSortListModel items;
  int sortColumn = -1;
  bool ascending = true;
};
