#include "engine/volume/folder_queue.h"

#include <new>

#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"
#include "support/debug_log.h"

namespace kestrine {
namespace {

// Sizes of the records, as the allocation failures report them.
constexpr int kItemRecordSize = 64;
constexpr int kEntryRecordSize = 16;

}  // namespace

std::int32_t TFolderQueue::Add(PFileInfo Item, std::unique_ptr<TQueuedFolderInfo> Info) {
  try {
    Item->IsFolder = true;
    TQueuedFolderInfo* info = Info.get();
    Item->FsInfo = std::move(Info);
    info->QueueIndex = FQueue.Add(Item);
    return info->QueueIndex;
  } catch (const std::bad_alloc&) {
    WriteLog(LogMessages::GetMemFailed, FNames.AddDir, nullptr, kItemRecordSize);
    return -1;
  }
}

std::int32_t TFolderQueue::AddFile(PFileInfo Item, std::unique_ptr<TFsInfo> Info, PFileInfo Folder) {
  PublishFolderChain(Folder);
  auto* dir = Folder ? Folder->Info<TQueuedFolderInfo>() : nullptr;
  if (dir && dir->Pending) EnterResult(Folder);
  try {
    Item->FsInfo = std::move(Info);
    const std::int32_t index = FScanner.Disk->Files.Add(Item);
    FScanner.NotifyFileAdded(Item);
    if (dir) dir->FileIndexes.push_back(index);
    return index;
  } catch (const std::bad_alloc&) {
    WriteLog(LogMessages::GetMemFailed, FNames.AddFile, nullptr, kEntryRecordSize);
    return -1;
  }
}

// Announces the folder and every ancestor not yet shown, the root first.
void TFolderQueue::PublishFolderChain(PFileInfo Folder) {
  std::vector<PFileInfo> chain;
  for (PFileInfo f = Folder; f; f = f->Parent) {
    auto* dir = f->Info<TQueuedFolderInfo>();
    if (!dir || dir->Published) break;
    chain.push_back(f);
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    Take(*it);
    (*it)->Info<TQueuedFolderInfo>()->Published = true;
    FScanner.NotifyFolderAdded(*it);
  }
}

// The folder and its pending ancestors join Disk.Folders, the deepest first.
void TFolderQueue::EnterResult(PFileInfo Folder) {
  for (PFileInfo f = Folder; f; f = f->Parent) {
    auto* dir = f->Info<TQueuedFolderInfo>();
    if (!dir || !dir->Pending) break;
    Take(f);
    FScanner.Disk->Folders.Add(f);
    dir->Pending = false;
  }
}

void TFolderQueue::Take(PFileInfo Folder) {
  auto* dir = Folder->Info<TQueuedFolderInfo>();
  if (!dir || dir->QueueIndex < 0) return;
  FQueue.SetItem(dir->QueueIndex, nullptr);
  dir->QueueIndex = -1;
}

void TFolderQueue::Release() {
  // Folders never published stay in the store until the next scan; their records can go now.
  for (PFileInfo folder : FQueue.Snapshot())
    if (folder) folder->FsInfo.reset();
  FQueue.Clear();
}

}  // namespace kestrine
