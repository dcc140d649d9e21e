#pragma once
// The process-wide publisher between a running scan and the views.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "engine/volume/workflow_ports.h"
#include "filter/query_object.h"
#include "workflow/view_ports.h"

namespace kestrine {

// FolderAdded and ScanFinished wait for a main-thread step; when the port is closed they return
// without it (no node, no handler), so a scan never outlives its window's wait. It outlives the
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
};

// Percentage shown for Done of Total: 100 when Total is 0.
int ProgressPercent(std::int64_t Done, std::int64_t Total);

}  // namespace kestrine
