#include "engine/volume/recovery_manager.h"

#include <cctype>

#include "engine/volume/disk_scanner.h"
#include "engine/volume/scanner_factory.h"
#include "engine/volume/source_drive.h"

namespace kestrine {
namespace {
TRecoveryManager* gRecoveryManager = nullptr;

class TNullScanReports final : public TScanReports {
 public:
  void FolderAdded(TDiskObject*, PFileInfo) override {}
  void FileAdded(TDiskObject*, PFileInfo) override {}
  void ScanProgress(TDiskObject*, std::int64_t, std::int64_t) override {}
  void ScanFinished(TDiskObject*) override {}
};
}  // namespace

TScanReports& NullScanReports() {
  static TNullScanReports reports;
  return reports;
}

TRecoveryManager::TRecoveryManager(const TDriveListing& Listing) : DiskList(std::make_unique<TDiskList>(Listing)) {}

TRecoveryManager::~TRecoveryManager() {
  try {
    StopScans();
    DiskList.reset();
  } catch (...) {
  }
}

TDiskObject* TRecoveryManager::FindDisk(char Letter) const {
  const char wanted = static_cast<char>(std::tolower(static_cast<unsigned char>(Letter)));
  for (int i = 0; i < DiskList->DiskCount(); ++i) {
    TDiskObject* disk = DiskList->GetDisk(i);
    if (std::tolower(static_cast<unsigned char>(disk->Letter)) == wanted) return disk;
  }
  return nullptr;
}

TWorkerThread* TRecoveryManager::StartScan(TDiskObject* Disk, std::function<void()> OnFinished) {
  if (!Disk || !FThreads || ScanRunning(Disk)) return nullptr;
  FScans.erase(Disk);
  Disk->Clear();
  auto thread = FThreads->CreateScanningThread(Disk);
  if (!thread) return nullptr;
  thread->SetOnFinished(std::move(OnFinished));
  thread->Start();
  return (FScans[Disk] = std::move(thread)).get();
}

bool TRecoveryManager::ScanRunning(const TDiskObject* Disk) const {
  const auto at = FScans.find(Disk);
  return at != FScans.end() && !at->second->Finished();
}

void TRecoveryManager::StopScans() {
  for (auto& [disk, scan] : FScans) scan->Terminate();
  for (auto& [disk, scan] : FScans) scan->WaitFor();
  FScans.clear();
}

void TRecoveryManager::StopScan(char Letter) {
  TDiskObject* disk = FindDisk(Letter);
  if (disk && disk->Scanner) disk->Scanner->SetStopped(true);
}

std::unique_ptr<TRecoveryStream> TRecoveryManager::CreateStream(PFileInfo Item, const std::string& StreamName) {
  if (!Item || !Item->Disk) return nullptr;
  return CreateStreamForKind(Item->Disk, Item->Disk->FileSystem, Item, StreamName);
}

std::unique_ptr<TRecoveryJob> TRecoveryManager::RecoverItems(const TDiskItems& Items) {
  return FThreads ? FThreads->CreateRecoveringThread(Items) : nullptr;
}

void TRecoveryManager::SetWorkflow(TScanReports* Reports, TThreadFactory* Threads) {
  // Running scans report to what is being unplugged.
  StopScans();
  FThreads = Threads;
  FReports = Reports;
  for (int i = 0; i < DiskList->DiskCount(); ++i) DiskList->GetDisk(i)->SetReports(Reports);
}

std::vector<TDiskObject*> TRecoveryManager::AddImage(const std::string& Path, std::string& Error) {
  // The listed drives only hold their letters and sources here; a partition number of -1 keeps them
  // from being probed again.
  TDriveListing listing;
  for (int i = 0; i < DiskList->DiskCount(); ++i) {
    const TDiskObject& disk = *DiskList->GetDisk(i);
    listing.Drives.push_back(platform::TDriveSpec{disk.Letter, disk.SourcePath, "", disk.DriveType, -1});
  }
  const std::size_t listed = listing.Drives.size();
  if (!AddSourceDrive(listing, Path, Error)) return {};
  if (listing.Drives.size() == listed) {
    Error = Path + ": listed already";
    return {};
  }
  std::vector<TDiskObject*> added;
  for (const platform::TDriveSpec& drive : listing.Drives) {
    if (drive.Partition < 0) continue;
    std::string error;
    if (TDiskObject* disk = DiskList->AddDrive(drive, FReports, error)) added.push_back(disk);
    else Error = error;
  }
  if (added.empty() && Error.empty()) Error = Path + ": holds no FAT, exFAT or NTFS file system";
  return added;
}

TRecoveryManager* RecoveryManager() { return gRecoveryManager; }

TRecoveryManagerScope::TRecoveryManagerScope(const TDriveListing& Listing)
    : FManager(std::make_unique<TRecoveryManager>(Listing)) {
  gRecoveryManager = FManager.get();
}

TRecoveryManagerScope::~TRecoveryManagerScope() { gRecoveryManager = nullptr; }

}  // namespace kestrine
