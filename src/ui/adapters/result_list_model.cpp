#include "ui/adapters/result_list_model.h"

#include <QIcon>

#include "filter/result_row.h"
#include "workflow/updating_thread.h"

namespace kestrine::ui {

// The row drawn last: a view asks for every column and role of a row in turn.
struct TResultListModel::TRowCache final : TListRow {
  int Index = -1;
  QString Caption;
  QStringList SubItems;
  int Image = -1;
  bool Checked = false;
  PFileInfo Item = nullptr;

  void SetCaption(const std::string& Text) override { Caption = QString::fromStdString(Text); }
  void SetImageIndex(int ImageIndex) override { Image = ImageIndex; }
  void SetChecked(bool Value) override { Checked = Value; }
  void AddSubItem(const std::string& Text) override { SubItems << QString::fromStdString(Text); }
  void SetItem(PFileInfo Info) override { Item = Info; }
};

TResultListModel::TResultListModel(TUpdatingThread& Updating, TIconLookup Icons, QObject* Parent)
    : QAbstractTableModel(Parent), FUpdating(Updating), FIcons(std::move(Icons)), FCache(std::make_unique<TRowCache>()) {
  for (const char* name : kResultColumnNames) FCaptions << QString::fromLatin1(name);
  FTimer.setInterval(100);
  connect(&FTimer, &QTimer::timeout, this, &TResultListModel::Flush);
  FTimer.start();
}

TResultListModel::~TResultListModel() = default;

void TResultListModel::SetRowCount(int Count) { FCount.store(Count, std::memory_order_relaxed); }

void TResultListModel::Clear() {
  beginResetModel();
  FShown = 0;
  FCache->Index = -1;
  endResetModel();
}

void TResultListModel::Redraw() {
  // The rows may all have changed (a new filter or folder): the view reads them afresh.
  beginResetModel();
  FShown = FCount.load(std::memory_order_relaxed);
  FCache->Index = -1;
  endResetModel();
}

void TResultListModel::Flush() {
  const int count = FCount.load(std::memory_order_relaxed);
  if (count > FShown) {
    beginInsertRows({}, FShown, count - 1);
    FShown = count;
    endInsertRows();
  } else if (count < FShown) {
    Redraw();
  }
}

const TResultListModel::TRowCache& TResultListModel::Row(int Index) const {
  if (FCache->Index != Index) {
    *FCache = TRowCache{};
    FCache->Index = Index;
    FUpdating.ListViewData(Index, *FCache);
  }
  return *FCache;
}

PFileInfo TResultListModel::ItemAt(int Index) const {
  if (Index < 0 || Index >= FShown) return nullptr;
  return Row(Index).Item;
}

void TResultListModel::SetColumnCaptions(const QStringList& Captions) {
  FCaptions = Captions;
  emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

int TResultListModel::rowCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : FShown; }

int TResultListModel::columnCount(const QModelIndex& Parent) const {
  return Parent.isValid() ? 0 : static_cast<int>(kResultColumnNames.size());
}

QVariant TResultListModel::data(const QModelIndex& Index, int Role) const {
  if (!Index.isValid() || Index.row() >= FShown) return {};
  const TRowCache& row = Row(Index.row());
  const int column = Index.column();
  switch (Role) {
    case Qt::DisplayRole:
      if (column == 0) return row.Caption;
      return column - 1 < row.SubItems.size() ? row.SubItems[column - 1] : QString();
    case Qt::CheckStateRole:
      return column == 0 ? QVariant(row.Checked ? Qt::Checked : Qt::Unchecked) : QVariant();
    case Qt::DecorationRole:
      return column == 0 && FIcons ? QVariant(FIcons(row.Image)) : QVariant();
    case Qt::TextAlignmentRole:
      return column == 2 ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    default:
      return {};
  }
}

Qt::ItemFlags TResultListModel::flags(const QModelIndex& Index) const {
  Qt::ItemFlags flags = QAbstractTableModel::flags(Index);
  if (Index.isValid() && Index.column() == 0) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

bool TResultListModel::setData(const QModelIndex& Index, const QVariant& Value, int Role) {
  if (Role != Qt::CheckStateRole || Index.column() != 0) return false;
  PFileInfo item = ItemAt(Index.row());
  if (!item) return false;
  // Only the main thread reads or writes the mark once the item is listed.
  item->Checked = Value.toInt() == Qt::Checked;
  FCache->Index = -1;
  emit dataChanged(Index, Index, {Qt::CheckStateRole});
  return true;
}

void TResultListModel::sort(int Column, Qt::SortOrder Order) {
  if (FSortHandler) {
    FSortHandler(Column, Order);
    return;
  }
  FUpdating.Query().SetOrder({Column, Order == Qt::DescendingOrder});
  FUpdating.RefreshList();
}

QVariant TResultListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole || Section >= FCaptions.size()) return {};
  return FCaptions[Section];
}

}  // namespace kestrine::ui
