#include "dat/ui/sort_list_ctrl.h"

#include <QHeaderView>
#include <algorithm>

namespace {

bool AllDigits(const QString& s) {
  return std::all_of(s.begin(), s.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

bool IsDate(const QString& s) {
  if (s.size() != 10) return false;
  for (int i = 0; i < 10; ++i) {
    const QChar c = s[i];
    if (i == 2 || i == 5) {
      if (c != u'/') return false;
    } else if (c < u'0' || c > u'9') {
      return false;
    }
  }
  return true;
}

// Decimal value of the leading digits, as a C conversion would read them (0 when none).
long long LeadingNumber(const QString& s) {
  long long value = 0;
  int i = 0;
  while (i < s.size() && s[i].isSpace()) ++i;
  const bool negative = i < s.size() && s[i] == u'-';
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) ++i;
  for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9' && value < (1LL << 55); ++i)
    value = value * 10 + (s[i].unicode() - u'0');
  return negative ? -value : value;
}

// Year, first and second field as one number; a text that is not a date counts as the earliest.
long long DateKey(const QString& s) {
  if (!IsDate(s)) return -1;
  return s.mid(6, 4).toLongLong() * 10000 + s.mid(0, 2).toLongLong() * 100 + s.mid(3, 2).toLongLong();
}

template <typename T>
int Order(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

int CompareSortTexts(const QString& a, const QString& b) {
  if (AllDigits(a)) return Order(LeadingNumber(a), LeadingNumber(b));
  if (IsDate(a)) return Order(DateKey(a), DateKey(b));
  return QString::compare(a, b);
}

CSortListModel::CSortListModel(QObject* parent) : QAbstractTableModel(parent) {}

void CSortListModel::SetColumns(const QStringList& names) {
  beginResetModel();
  columns = names;
  endResetModel();
}

int CSortListModel::AddItem(const QStringList& texts) {
  const int row = static_cast<int>(rows.size());
  beginInsertRows(QModelIndex(), row, row);
  rows.push_back(texts);
  endInsertRows();
  return row;
}

int CSortListModel::DropFirstAndAdd(const QStringList& texts) {
  if (rows.empty()) return AddItem(texts);
  rows.pop_front();
  rows.push_back(texts);
  const int last = static_cast<int>(rows.size()) - 1;
  // Every row moved up by one: the row count and the header stay as they are.
  emit dataChanged(index(0, 0), index(last, std::max(0, columnCount() - 1)), {Qt::DisplayRole});
  return last;
}

bool CSortListModel::DeleteItem(int row) {
  if (row < 0 || row >= rowCount()) return false;
  beginRemoveRows(QModelIndex(), row, row);
  rows.erase(rows.begin() + row);
  endRemoveRows();
  return true;
}

void CSortListModel::DeleteAllItems() {
  beginResetModel();
  rows.clear();
  endResetModel();
}

void CSortListModel::SortBy(int column, bool ascending) {
  emit layoutAboutToBeChanged();
  std::stable_sort(rows.begin(), rows.end(), [column, ascending](const QStringList& x, const QStringList& y) {
    const QString a = column < x.size() ? x[column] : QString();
    const QString b = column < y.size() ? y[column] : QString();
    // Descending swaps the operands, so the first operand's form still picks the rule.
    return ascending ? CompareSortTexts(a, b) < 0 : CompareSortTexts(b, a) < 0;
  });
  emit layoutChanged();
}

QString CSortListModel::Text(int row, int column) const {
  if (row < 0 || row >= rowCount() || column < 0) return {};
  const QStringList& texts = rows[static_cast<std::size_t>(row)];
  return column < texts.size() ? texts[column] : QString();
}

int CSortListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

int CSortListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns.size());
}

QVariant CSortListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return Text(index.row(), index.column());
}

QVariant CSortListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= columns.size())
    return {};
  return columns[section];
}

CSortListCtrl::CSortListCtrl(QWidget* parent) : QTableView(parent), items(this) {
  setModel(&items);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(false);
  setWordWrap(false);
  verticalHeader()->hide();
  // Fixed row heights: the view never measures rows one by one.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setStretchLastSection(true);
  horizontalHeader()->setSortIndicatorShown(false);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) { SortColumn(column); });
}

void CSortListCtrl::SetHeadings(const QString& headings) {
  QStringList names;
  QList<int> widths;
  for (const QString& pair : headings.split(u';', Qt::SkipEmptyParts)) {
    const int comma = pair.indexOf(u',');
    names << (comma < 0 ? pair : pair.left(comma));
    widths << (comma < 0 ? 0 : pair.mid(comma + 1).trimmed().toInt());
  }
  QStringList all;
  for (int c = 0; c < items.columnCount(); ++c) all << items.headerData(c, Qt::Horizontal).toString();
  all << names;
  items.SetColumns(all);
  for (int i = 0; i < widths.size(); ++i) {
    if (widths[i] > 0) setColumnWidth(static_cast<int>(all.size() - names.size()) + i, widths[i]);
  }
}

int CSortListCtrl::AddItem(const QStringList& texts) {
  return items.AddItem(texts);
}

int CSortListCtrl::DropFirstAndAdd(const QStringList& texts) {
  return items.DropFirstAndAdd(texts);
}

bool CSortListCtrl::DeleteItem(int row) {
  return items.DeleteItem(row);
}

void CSortListCtrl::DeleteAllItems() {
  items.DeleteAllItems();
}

void CSortListCtrl::SortColumn(int column) {
  if (column < 0 || column >= items.columnCount()) return;
  ascending = column == sortColumn ? !ascending : true;
  sortColumn = column;
  items.SortBy(column, ascending);
  horizontalHeader()->setSortIndicatorShown(true);
  horizontalHeader()->setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}
