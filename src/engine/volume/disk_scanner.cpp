#include "engine/volume/disk_scanner.h"

#include "engine/volume/disk_object.h"
#include "engine/volume/workflow_ports.h"
#include "support/debug_log.h"

namespace kestrine {

TDiskScaner::TDiskScaner(TDiskObject* Disk) : Disk(Disk) {}

TDiskScaner::~TDiskScaner() = default;

bool TDiskScaner::Init() {
  SetStopped(false);
  SetScanFailure({});
  Handle.reset();
  if (Disk) {
    try {
      Handle = Disk->AllocHandle();
    } catch (...) {
      WriteLog(LogMessages::AllocHandleFailed, OperationNames::DiskScanerInit, static_cast<const void*>(Disk));
    }
  }
  if (!Handle) SetScanFailure(TReason{TReasonId::VolumeUnopenable});
  return Handle != nullptr;
}

void TDiskScaner::ScanForFiles() {
  SetStopped(false);
  SetScanFailure({});
}

std::optional<TReason> TDiskScaner::ScanFailure() const {
  std::lock_guard lock(FFailureLock);
  return FScanFailure;
}

void TDiskScaner::SetScanFailure(std::optional<TReason> Why) {
  std::lock_guard lock(FFailureLock);
  FScanFailure = std::move(Why);
}

void TDiskScaner::FreeAllItems() {
  if (!Disk) return;
  Disk->Files.Clear();
  Disk->Folders.Clear();
  Disk->Store.Reset();
}

PFileInfo TDiskScaner::NewItem() { return Disk->Store.NewItem(); }

TScanReports& TDiskScaner::Reports() const {
  if (FReportTo) return *FReportTo;
  return Disk ? Disk->Reports() : NullScanReports();
}

void TDiskScaner::NotifyFileAdded(PFileInfo Item) {
  Item->Disk = Disk;
  Item->IsFolder = false;
  // Parent chains are cut of cycles by the engines; the walk is bounded all the same.
  std::size_t guard = 0;
  for (PFileInfo folder = Item->Parent; folder && guard < (1u << 20); folder = folder->Parent, ++guard)
    folder->Size.fetch_add(Item->Size.load(std::memory_order_relaxed), std::memory_order_relaxed);
  Reports().FileAdded(Disk, Item);
}

void TDiskScaner::NotifyFolderAdded(PFileInfo Item) {
  Item->Disk = Disk;
  Item->IsFolder = true;
  Reports().FolderAdded(Disk, Item);
}

}  // namespace kestrine
