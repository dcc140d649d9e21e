#pragma once
// The folder tree of the results step. Nodes are added on the GUI thread, one per reported folder,
// and announced to the view in batches, so a scan of tens of thousands of folders never floods it.

#include <QAbstractItemModel>
#include <QIcon>
#include <QTimer>
#include <deque>
#include <vector>

#include "workflow/view_ports.h"

namespace kestrine::ui {

class TFolderTreeModel final : public QAbstractItemModel, public TTreePort {
 public:
  explicit TFolderTreeModel(QObject* Parent = nullptr);

  // TTreePort, on the GUI thread.
  TNode AddNode(TNode Parent, const std::string& Caption, PFileInfo Folder) override;
  void SetNodeImage(TNode Node, int ImageIndex) override;
  void Clear() override;

  // Announces the nodes added since the last batch; the timer calls it about ten times a second.
  void Flush();
  PFileInfo FolderAt(const QModelIndex& Index) const;

  QModelIndex index(int Row, int Column, const QModelIndex& Parent = {}) const override;
  QModelIndex parent(const QModelIndex& Child) const override;
  int rowCount(const QModelIndex& Parent = {}) const override;
  int columnCount(const QModelIndex& Parent = {}) const override;
  QVariant data(const QModelIndex& Index, int Role) const override;

 private:
  struct TNodeRec {
    TNodeRec* Parent = nullptr;
    int Row = 0;
    int Shown = 0;  // children the view has been told of
    bool Dirty = false;
    int Image = 0;
    QString Caption;
    PFileInfo Folder = nullptr;
    std::vector<TNodeRec*> Children;
  };
  TNodeRec* NodeOf(const QModelIndex& Index) const;
  QModelIndex IndexOf(TNodeRec* Node) const;

  TNodeRec FRoot;
  std::deque<TNodeRec> FNodes;          // stable addresses; creation order puts parents first
  std::vector<TNodeRec*> FDirtyParents; // in creation order, root first
  QTimer FTimer;
  QIcon FFolderIcon;
  QIcon FDeletedIcon;
};

}  // namespace kestrine::ui
