#include "workflow/updating_thread.h"

#include <algorithm>
#include <utility>

#include "engine/volume/boot_sector.h"
#include "engine/volume/disk_object.h"

namespace kestrine {
namespace {

// A batch is handed over when it holds this many folders, or when it has waited this long by the
// next report that adds to it: the window thread wakes a few dozen times a scan, not once a folder.
constexpr std::size_t kMostFoldersPerBatch = 4096;
constexpr auto kLongestBatchWait = std::chrono::milliseconds(100);

}  // namespace

int ProgressPercent(std::int64_t Done, std::int64_t Total) {
  if (Total <= 0) return 100;
  return static_cast<int>(Done * 100 / Total);
}

TUpdatingThread::TUpdatingThread(TMainThreadPort& MainThread) : FMainThread(MainThread) {}

void TUpdatingThread::FolderAdded(TDiskObject* Disk, PFileInfo Info) {
  Info->Disk = Disk;
  if (Disk != FDisk.load() || !FTreeView) return;
  if (FBatch.Folders.empty()) FBatch.Since = std::chrono::steady_clock::now();
  FBatch.Folders.push_back(Info);
  HandOverWhenDue();
}

void TUpdatingThread::FileAdded(TDiskObject* Disk, PFileInfo Info) {
  Info->Disk = Disk;
  if (Disk != FDisk.load()) return;
  if (!FQuery.AddIfMatches(Info) || !FListView) return;
  // Its folder may still be in the batch: then the row waits for the batch.
  if (FBatch.Folders.empty()) {
    FListView->SetRowCount(FQuery.Count());
    return;
  }
  FBatch.Rows = FQuery.Count();
  HandOverWhenDue();
}

void TUpdatingThread::HandOverWhenDue() {
  if (FMainThread.Queues() && FBatch.Folders.size() < FBatchSize &&
      std::chrono::steady_clock::now() - FBatch.Since < kLongestBatchWait)
    return;
  HandOverFolders();
  FBatchSize = std::min(FBatchSize * 2, kMostFoldersPerBatch);
}

void TUpdatingThread::HandOverFolders() {
  if (FBatch.Folders.empty()) return;
  // The step gets the batch as its own, which lives while the scanner waits. Nodes come in the order
  // folders were reported; a rebuilt tree may have given one its node already.
  const TFolderBatch batch = std::exchange(FBatch, {});
  FMainThread.RunAndWait([this, &batch] {
    for (PFileInfo folder : batch.Folders)
      if (!folder->TreeNode.load()) AddFolderNode(folder);
    if (batch.Rows >= 0 && FListView) FListView->SetRowCount(batch.Rows);
  });
}

void TUpdatingThread::ScanProgress(TDiskObject* Disk, std::int64_t Done, std::int64_t Total) {
  if (Disk != FDisk.load()) return;
  FWalking = true;
  FProgress = ProgressPercent(Done, Total);
  if (FGauge) FGauge->SetPosition(FProgress);
}

void TUpdatingThread::ScanFinished(TDiskObject* Disk) {
  if (Disk != FDisk.load()) return;
  FProgress = 0;
  if (FGauge) FGauge->SetPosition(0);
  HandOverFolders();
  FBatchSize = 1;
  if (FOnScanFinished) FMainThread.RunAndWait(FOnScanFinished);
}

void TUpdatingThread::SetGauge(TGaugePort* Gauge) {
  FGauge = Gauge;
  if (FGauge) {
    FGauge->SetRange(0, 100);
    FGauge->SetPosition(FProgress);
  }
}

void TUpdatingThread::SetDisk(TDiskObject* Disk) {
  if (Disk == FDisk.load()) return;
  FDisk = Disk;
  FMainThread.RunAndWait([this] { ResetViews(); });
}

void TUpdatingThread::PrepareScan(TDiskObject* Disk, const TFilter& Filter) {
  // The query is armed before the views are reset, so the list never counts the last scan's rows.
  FWalking = false;
  FBatch = {};  // folders of an earlier scan, about to be freed
  FQuery.Clear();
  FQuery.ClearDisks();
  FQuery.SetFilter(Filter);
  FQuery.AddDisk(Disk);
  FDisk = Disk;
  FMainThread.RunAndWait([this] { ResetViews(); });
}

void TUpdatingThread::RefreshList() {
  if (!FListView) return;
  FListView->SetRowCount(FQuery.Count());
  FListView->Redraw();
}

void TUpdatingThread::UpdateTree() {
  FMainThread.RunAndWait([this] { RebuildTree(); });
}

bool TUpdatingThread::ListViewData(int Index, TListRow& Row) {
  PFileInfo info = FQuery.Items(Index);
  UpdateListItem(Row, info);
  return info != nullptr;
}

void TUpdatingThread::UpdateListItem(TListRow& Row, PFileInfo Info) {
  if (!Info) return;
  FQuery.FillListItem(Row, Info);
  if (FIconList) Row.SetImageIndex(FIconList->GetIconIndex(Info->IsFolder ? "**FOLDER" : Info->Name));
}

void TUpdatingThread::AddFolderNode(PFileInfo Folder) {
  if (!FTreeView) return;
  void* parent = Folder->Parent ? Folder->Parent->TreeNode.load() : nullptr;
  void* node = FTreeView->AddNode(parent, Folder->Name, Folder);
  Folder->TreeNode = node;
  const bool known = Folder->Disk && IsKnown(Folder->Disk->FileSystem);
  if (known && Folder->FsInfo && Folder->FsInfo->IsDeleted()) FTreeView->SetNodeImage(node, 1);
}

void TUpdatingThread::AddFolderChain(PFileInfo Folder) {
  // Ancestors first; the chain is walked iteratively so a deep tree cannot exhaust the stack.
  std::vector<PFileInfo> chain;
  for (PFileInfo f = Folder; f && !f->TreeNode.load(); f = f->Parent) {
    if (std::find(chain.begin(), chain.end(), f) != chain.end()) break;  // engines cut cycles; stay safe
    chain.push_back(f);
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) AddFolderNode(*it);
}

void TUpdatingThread::ResetViews() {
  if (FTreeView) FTreeView->Clear();
  if (FListView) FListView->Clear();
  if (FDisk.load() && FListView) FListView->SetRowCount(FQuery.Count());
}

void TUpdatingThread::RebuildTree() {
  TDiskObject* disk = FDisk.load();
  if (!FTreeView || !disk) return;
  FTreeView->Clear();
  for (PFileInfo folder : disk->Folders.Snapshot()) folder->TreeNode = nullptr;
  // Files of every folder are tested, not just those of the selected one.
  for (PFileInfo file : disk->Files.Snapshot())
    if (FQuery.MatchesInAnyFolder(file)) AddFolderChain(file->Parent);
}

}  // namespace kestrine
