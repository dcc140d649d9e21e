#include "ui/cleanup/cleanup_result_model.h"

#include <QApplication>
#include <QDateTime>
#include <QLocale>
#include <QStyle>
#include <algorithm>

namespace kestrine::ui {

namespace {

QString Text(const std::string& S) { return QString::fromStdString(S); }

// Long removals one range at a time would move the tail once per range.
constexpr std::size_t kMaxRangesRemovedInPlace = 64;

}  // namespace

TCleanupResultModel::TCleanupResultModel(QObject* Parent) : QAbstractTableModel(Parent) {
  const QLocale locale = QLocale::system();
  FDateFormat = locale.dateFormat(QLocale::ShortFormat);
  // The long time without its zone name, as the system's long time reads elsewhere.
  const QString longTime = locale.timeFormat(QLocale::LongFormat);
  bool quoted = false;
  for (const QChar c : longTime) {
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (quoted || c != QLatin1Char('t')) FTimeFormat += c;
  }
  FTimeFormat = FTimeFormat.trimmed();
}

void TCleanupResultModel::Unlock() {
  FLocked = false;
  if (FPending.empty()) return;
  const int first = static_cast<int>(FRows.size());
  beginInsertRows({}, first, first + static_cast<int>(FPending.size()) - 1);
  FRows.insert(FRows.end(), std::make_move_iterator(FPending.begin()), std::make_move_iterator(FPending.end()));
  FPending.clear();
  endInsertRows();
}

void TCleanupResultModel::Clear() {
  FPending.clear();
  if (FRows.empty()) return;
  beginResetModel();
  FRows.clear();
  endResetModel();
}

void TCleanupResultModel::Append(std::vector<TCleanupMatch>&& Matches) {
  if (Matches.empty()) return;
  std::vector<TCleanupRow>& into = FLocked ? FPending : FRows;
  const int first = static_cast<int>(FRows.size());
  if (!FLocked) beginInsertRows({}, first, first + static_cast<int>(Matches.size()) - 1);
  into.reserve(into.size() + Matches.size());
  for (TCleanupMatch& match : Matches) into.push_back({std::move(match), false, {}});
  if (!FLocked) endInsertRows();
}

void TCleanupResultModel::ProblemsChanged() {
  if (FRows.empty()) return;
  emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1));
}

bool TCleanupResultModel::HasProblems() const {
  return std::any_of(FRows.begin(), FRows.end(), [](const TCleanupRow& r) { return !r.Problem.empty(); });
}

void TCleanupResultModel::RemoveRows(const std::vector<std::size_t>& Descending) {
  if (Descending.empty()) return;
  // Runs of neighbouring rows, highest first.
  std::vector<std::pair<std::size_t, std::size_t>> runs;
  for (std::size_t row : Descending) {
    if (!runs.empty() && runs.back().first == row + 1)
      runs.back().first = row;
    else
      runs.emplace_back(row, row);
  }
  if (runs.size() > kMaxRangesRemovedInPlace) {
    beginResetModel();
    EraseRows(FRows, Descending);
    endResetModel();
    return;
  }
  for (const auto& [first, last] : runs) {
    beginRemoveRows({}, static_cast<int>(first), static_cast<int>(last));
    FRows.erase(FRows.begin() + static_cast<std::ptrdiff_t>(first), FRows.begin() + static_cast<std::ptrdiff_t>(last) + 1);
    endRemoveRows();
  }
}

void TCleanupResultModel::SetChecked(const std::vector<int>& Rows, bool Checked) {
  if (Rows.empty()) return;
  int first = Rows.front(), last = Rows.front();
  for (int row : Rows) {
    FRows[static_cast<std::size_t>(row)].Checked = Checked;
    first = std::min(first, row);
    last = std::max(last, row);
  }
  emit dataChanged(index(first, colName), index(last, colName), {Qt::CheckStateRole});
}

void TCleanupResultModel::SetAllChecked(bool Checked) {
  for (TCleanupRow& row : FRows) row.Checked = Checked;
  if (!FRows.empty()) emit dataChanged(index(0, colName), index(rowCount() - 1, colName), {Qt::CheckStateRole});
}

int TCleanupResultModel::rowCount(const QModelIndex& Parent) const {
  return Parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TCleanupResultModel::columnCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : kColumnCount; }

QString TCleanupResultModel::ModifiedText(TFileTime Modified) const {
  const auto local = CleanupLocalTime(Modified);
  if (!local) return {};
  const QDate date(local->tm_year + 1900, local->tm_mon + 1, local->tm_mday);
  const QTime time(local->tm_hour, local->tm_min, local->tm_sec);
  const QLocale locale = QLocale::system();
  QString text = locale.toString(date, FDateFormat);
  if (time != QTime(0, 0)) text += QLatin1Char(' ') + locale.toString(time, FTimeFormat);
  return text;
}

QVariant TCleanupResultModel::data(const QModelIndex& Index, int Role) const {
  if (!checkIndex(Index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) return {};
  const TCleanupRow& row = Row(Index.row());
  const TCleanupMatch& m = row.Match;
  switch (Role) {
    case Qt::DisplayRole:
      switch (Index.column()) {
        case colName: return Text(m.Name);
        case colFolder: return Text(m.Folder);
        case colType: return Text(m.Type);
        case colSize: return QString::number(m.Size);
        case colModified: return ModifiedText(m.Modified);
        case colProblem: return Text(row.Problem);
        default: return {};
      }
    case Qt::CheckStateRole:
      if (Index.column() == colName) return row.Checked ? Qt::Checked : Qt::Unchecked;
      return {};
    case Qt::DecorationRole:
      if (Index.column() == colName && !row.Problem.empty())
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
      return {};
    case Qt::ToolTipRole:
      if (!row.Problem.empty()) return Text(m.Path() + ": " + row.Problem);
      if (Index.column() == colFolder) return Text(m.Folder);
      return {};
    case Qt::TextAlignmentRole:
      if (Index.column() == colSize) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      return {};
    default: return {};
  }
}

bool TCleanupResultModel::setData(const QModelIndex& Index, const QVariant& Value, int Role) {
  if (Role != Qt::CheckStateRole || Index.column() != colName ||
      !checkIndex(Index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
    return false;
  FRows[static_cast<std::size_t>(Index.row())].Checked = Value.value<Qt::CheckState>() == Qt::Checked;
  emit dataChanged(Index, Index, {Qt::CheckStateRole});
  return true;
}

Qt::ItemFlags TCleanupResultModel::flags(const QModelIndex& Index) const {
  if (!Index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (Index.column() == colName) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant TCleanupResultModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole) return {};
  return FCaptions.value(Section);
}

void TCleanupResultModel::SetColumnCaptions(const QStringList& Captions) {
  FCaptions = Captions;
  emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
}

}  // namespace kestrine::ui
