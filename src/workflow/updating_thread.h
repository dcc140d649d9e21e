#pragma once
// The process-wide publisher between a running scan and the views.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/volume/workflow_ports.h"
#include "filter/query_object.h"
#include "workflow/view_ports.h"

namespace kestrine {

// Reports of the disk shown come from one scanning thread at a time. Folders reach the tree in
// batches when the main-thread port queues (one folder at a time otherwise): the scanner waits for
// each batch, a passing file's row is counted only once its folder's node is in the tree, and the
// end-of-scan handler runs after the last batch. When the port is closed these waits return without
// their step (no node, no handler), so a scan never outlives its window's wait. It outlives the
// workflow connection that plugs it in.
class TUpdatingThread final : public TScanReports {
 public:
  explicit TUpdatingThread(TMainThreadPort& MainThread);

  // Reports of the scanning thread.
  void FolderAdded(TDiskObject* Disk, PFileInfo Info) override;
  void FileAdded(TDiskObject* Disk, PFileInfo Info) override;
  void ScanProgress(TDiskObject* Disk, std::int64_t Done, std::int64_t Total) override;
  void ScanFinished(TDiskObject* Disk) override;

  // The main window's side.
  void SetTreeView(TTreePort* Tree) { FTreeView = Tree; }
  void SetListView(TListPort* List) { FListView = List; }
  void SetIconList(TIconPort* Icons) { FIconList = Icons; }
  void SetGauge(TGaugePort* Gauge);
  void SetDisk(TDiskObject* Disk);
  TDiskObject* Disk() const { return FDisk.load(); }
  // Before a scan of Disk starts: the query, emptied, looks at Disk alone through Filter, and the
  // views, attached first, show it afresh. StartShownScan (workflow.h) runs it at the right moment.
  void PrepareScan(TDiskObject* Disk, const TFilter& Filter);
  void RefreshList();
  void UpdateTree();
  void SetOnScanFinished(std::function<void()> Handler) { FOnScanFinished = std::move(Handler); }
  int Progress() const { return FProgress.load(); }
  // True once the scan prepared last has reported progress: it walks its volume, and no failure
  // comes after that.
  bool Walking() const { return FWalking.load(); }

  // The result list asks for row Index when it draws it (main thread); false when no item is there.
  bool ListViewData(int Index, TListRow& Row);

  TQueryObject& Query() { return FQuery; }
  TMainThreadPort& MainThread() const { return FMainThread; }

 private:
  void UpdateListItem(TListRow& Row, PFileInfo Info);
  void AddFolderNode(PFileInfo Folder);
  void AddFolderChain(PFileInfo Folder);
  void ResetViews();
  void RebuildTree();
  // Scanning thread: hands the gathered folders to the tree, waiting until their nodes are in;
  // when due, that is when the batch is full or old, or the port runs steps at once.
  void HandOverFolders();
  void HandOverWhenDue();

  // Folders reported and not yet in the tree, and the row count to show once they are (-1: none).
  struct TFolderBatch {
    std::vector<PFileInfo> Folders;
    int Rows = -1;
    std::chrono::steady_clock::time_point Since;
  };

  TMainThreadPort& FMainThread;
  TListPort* FListView = nullptr;
  TTreePort* FTreeView = nullptr;
  TIconPort* FIconList = nullptr;
  std::atomic<TDiskObject*> FDisk{nullptr};
  std::function<void()> FOnScanFinished;
  TGaugePort* FGauge = nullptr;
  std::atomic<int> FProgress{0};
  std::atomic<bool> FWalking{false};
  TQueryObject FQuery;
  TFolderBatch FBatch;        // the scanning thread's
  std::size_t FBatchSize = 1; // the first folder goes at once; batches grow from there
};

// Percentage shown for Done of Total: 100 when Total is 0.
int ProgressPercent(std::int64_t Done, std::int64_t Total);

}  // namespace kestrine
