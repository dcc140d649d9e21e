#include "ui/adapters/folder_tree_model.h"

#include <QApplication>
#include <QStyle>
#include <algorithm>

namespace kestrine::ui {

TFolderTreeModel::TFolderTreeModel(QObject* Parent) : QAbstractItemModel(Parent) {
  FTimer.setInterval(100);
  connect(&FTimer, &QTimer::timeout, this, &TFolderTreeModel::Flush);
  FFolderIcon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
  // A deleted folder is drawn greyed, as found but gone.
  FDeletedIcon = QIcon(FFolderIcon.pixmap(16, QIcon::Disabled));
}

TTreePort::TNode TFolderTreeModel::AddNode(TNode Parent, const std::string& Caption, PFileInfo Folder) {
  TNodeRec* parent = Parent ? static_cast<TNodeRec*>(Parent) : &FRoot;
  TNodeRec& node = FNodes.emplace_back();
  node.Parent = parent;
  node.Row = static_cast<int>(parent->Children.size());
  node.Caption = QString::fromStdString(Caption);
  node.Folder = Folder;
  parent->Children.push_back(&node);
  if (!parent->Dirty) {
    parent->Dirty = true;
    FDirtyParents.push_back(parent);
  }
  if (!FTimer.isActive()) FTimer.start();
  return &node;
}

void TFolderTreeModel::SetNodeImage(TNode Node, int ImageIndex) {
  auto* node = static_cast<TNodeRec*>(Node);
  node->Image = ImageIndex;
  if (node->Row < node->Parent->Shown) {
    const QModelIndex index = IndexOf(node);
    emit dataChanged(index, index, {Qt::DecorationRole});
  }
}

void TFolderTreeModel::Clear() {
  beginResetModel();
  FDirtyParents.clear();
  FNodes.clear();
  FRoot = TNodeRec{};
  endResetModel();
  FTimer.stop();
}

void TFolderTreeModel::Flush() {
  // Parents were made before their children, so a parent is announced before its own rows are.
  std::vector<TNodeRec*> dirty;
  dirty.swap(FDirtyParents);
  for (TNodeRec* parent : dirty) {
    parent->Dirty = false;
    const int count = static_cast<int>(parent->Children.size());
    if (count == parent->Shown) continue;
    beginInsertRows(IndexOf(parent), parent->Shown, count - 1);
    parent->Shown = count;
    endInsertRows();
  }
  if (FDirtyParents.empty()) FTimer.stop();
}

PFileInfo TFolderTreeModel::FolderAt(const QModelIndex& Index) const {
  TNodeRec* node = NodeOf(Index);
  return node == &FRoot ? nullptr : node->Folder;
}

TFolderTreeModel::TNodeRec* TFolderTreeModel::NodeOf(const QModelIndex& Index) const {
  if (!Index.isValid()) return const_cast<TNodeRec*>(&FRoot);
  return static_cast<TNodeRec*>(Index.internalPointer());
}

QModelIndex TFolderTreeModel::IndexOf(TNodeRec* Node) const {
  if (Node == &FRoot) return {};
  return createIndex(Node->Row, 0, Node);
}

QModelIndex TFolderTreeModel::index(int Row, int Column, const QModelIndex& Parent) const {
  TNodeRec* parent = NodeOf(Parent);
  if (Column != 0 || Row < 0 || Row >= parent->Shown) return {};
  return createIndex(Row, 0, parent->Children[Row]);
}

QModelIndex TFolderTreeModel::parent(const QModelIndex& Child) const {
  if (!Child.isValid()) return {};
  return IndexOf(NodeOf(Child)->Parent);
}

int TFolderTreeModel::rowCount(const QModelIndex& Parent) const {
  if (Parent.column() > 0) return 0;
  return NodeOf(Parent)->Shown;
}

int TFolderTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant TFolderTreeModel::data(const QModelIndex& Index, int Role) const {
  if (!Index.isValid()) return {};
  const TNodeRec* node = NodeOf(Index);
  if (Role == Qt::DisplayRole) return node->Caption;
  if (Role == Qt::DecorationRole) return node->Image == 1 ? FDeletedIcon : FFolderIcon;
  return {};
}

}  // namespace kestrine::ui
