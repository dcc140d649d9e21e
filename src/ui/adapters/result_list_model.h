#pragma once
// The result list over the query's result list. The list port only stores the count a worker
// reaches; about ten times a second the model announces the rows added since, in one insertion.

#include <QAbstractTableModel>
#include <QStringList>
#include <QTimer>
#include <array>
#include <atomic>
#include <functional>
#include <memory>

#include "workflow/view_ports.h"

namespace kestrine {
class TUpdatingThread;
}

namespace kestrine::ui {

class TResultListModel final : public QAbstractTableModel, public TListPort {
 public:
  using TIconLookup = std::function<QIcon(int ImageIndex)>;
  TResultListModel(TUpdatingThread& Updating, TIconLookup Icons, QObject* Parent = nullptr);
  ~TResultListModel() override;

  // TListPort: SetRowCount from any thread; Clear and Redraw on the GUI thread.
  void SetRowCount(int Count) override;
  void Clear() override;
  void Redraw() override;

  // Announces the rows counted since the last batch; the timer calls it.
  void Flush();
  PFileInfo ItemAt(int Row) const;
  void SetColumnCaptions(const QStringList& Captions);

  int rowCount(const QModelIndex& Parent = {}) const override;
  int columnCount(const QModelIndex& Parent = {}) const override;
  QVariant data(const QModelIndex& Index, int Role) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;
  Qt::ItemFlags flags(const QModelIndex& Index) const override;
  // Sorted by the query's result list itself, through the handler when there is one; Column -1 is
  // the order found.
  void sort(int Column, Qt::SortOrder Order) override;
  void SetSortHandler(std::function<void(int Column, Qt::SortOrder Order)> Handler) { FSortHandler = std::move(Handler); }
  bool setData(const QModelIndex& Index, const QVariant& Value, int Role) override;

 private:
  struct TRowCache;
  const TRowCache& Row(int Index) const;

  TUpdatingThread& FUpdating;
  TIconLookup FIcons;
  std::function<void(int, Qt::SortOrder)> FSortHandler;
  std::atomic<int> FCount{0};
  int FShown = 0;
  QStringList FCaptions;
  QTimer FTimer;
  std::unique_ptr<TRowCache> FCache;
};

}  // namespace kestrine::ui
