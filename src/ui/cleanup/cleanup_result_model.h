#pragma once
// The cleanup results list: one row per match with its check mark. While locked, appended rows are
// held back and announced in one insertion when the lock ends, so a search adds tens of thousands
// of rows without the view laying out or painting any of them.

#include <QAbstractTableModel>
#include <QStringList>
#include <QString>
#include <vector>

#include "cleanup/cleanup_results.h"

namespace kestrine::ui {

class TCleanupResultModel final : public QAbstractTableModel {
 public:
  enum TColumn { colName, colFolder, colType, colSize, colModified, colProblem, kColumnCount };

  explicit TCleanupResultModel(QObject* Parent = nullptr);

  void Lock() { FLocked = true; }
  void Unlock();
  bool IsLocked() const { return FLocked; }
  void Clear();
  void Append(std::vector<TCleanupMatch>&& Matches);
  // Rows held back by the lock.
  int PendingCount() const { return static_cast<int>(FPending.size()); }

  // The announced rows, for acting on them; after changing problems call ProblemsChanged.
  std::vector<TCleanupRow>& Rows() { return FRows; }
  const TCleanupRow& Row(int Index) const { return FRows[static_cast<std::size_t>(Index)]; }
  void ProblemsChanged();
  bool HasProblems() const;
  // Rows given highest first.
  void RemoveRows(const std::vector<std::size_t>& Descending);
  void SetChecked(const std::vector<int>& Rows, bool Checked);
  void SetAllChecked(bool Checked);

  int rowCount(const QModelIndex& Parent = {}) const override;
  int columnCount(const QModelIndex& Parent = {}) const override;
  QVariant data(const QModelIndex& Index, int Role) const override;
  bool setData(const QModelIndex& Index, const QVariant& Value, int Role) override;
  Qt::ItemFlags flags(const QModelIndex& Index) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;
  // One caption per column, in the language in force.
  void SetColumnCaptions(const QStringList& Captions);

 private:
  QStringList FCaptions;
  QString ModifiedText(TFileTime Modified) const;

  std::vector<TCleanupRow> FRows;
  std::vector<TCleanupRow> FPending;
  bool FLocked = false;
  QString FDateFormat;
  QString FTimeFormat;
};

}  // namespace kestrine::ui
