#pragma once
// The process-wide entry point: drives, scans, recovery streams and recoveries.

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "engine/volume/disk_list.h"
#include "engine/volume/recovery_stream.h"
#include "engine/volume/workflow_ports.h"

namespace kestrine {

// Used from the main thread. Scans read and write their disk's lists, so a disk is cleared, and the
// disks freed, only while no scan of it runs: the manager owns its scans for that reason. A
// recovery reads found items: its owner lets it end before the next scan of the disk and before the
// manager's end.
class TRecoveryManager {
 public:
  explicit TRecoveryManager(const TDriveListing& Listing = ListLocalDrives());
  ~TRecoveryManager();
  TRecoveryManager(const TRecoveryManager&) = delete;
  TRecoveryManager& operator=(const TRecoveryManager&) = delete;

  // Case-insensitive; nil when no disk has the letter.
  TDiskObject* FindDisk(char Letter) const;
  // Clears the disk and starts its scanning thread with OnFinished as its finished handler. The
  // manager owns the thread: it stays valid until the next StartScan of that disk, StopScans or the
  // manager's end. Nil for a nil disk, without a workflow, or while the disk's last scan still runs
  // (that scan writes the very lists a Clear would free).
  TWorkerThread* StartScan(TDiskObject* Disk, std::function<void()> OnFinished = {});
  void StopScan(char Letter);
  bool ScanRunning(const TDiskObject* Disk) const;
  // Stops every running scan, waits for them (running queued main-thread steps meanwhile) and frees
  // them. Unplugging the workflow and the manager's end call it.
  void StopScans();
  // Nil for an item without disk or of a kind that has no stream; the caller owns the stream.
  std::unique_ptr<TRecoveryStream> CreateStream(PFileInfo Item, const std::string& StreamName = {});
  // A recovering thread for the items, not started; nil without a workflow.
  std::unique_ptr<TRecoveryJob> RecoverItems(const TDiskItems& Items);

  // An image file (or device) the user names joins the disk list under the next free letters, one
  // disk per FAT, exFAT or NTFS partition when it holds a partition table. The new disks; none, with Error
  // naming the file and why, when it cannot be opened or is listed already.
  std::vector<TDiskObject*> AddImage(const std::string& Path, std::string& Error);

  // The workflow plugs in here at start-up. Running scans are stopped and waited for first.
  void SetWorkflow(TScanReports* Reports, TThreadFactory* Threads);

  std::unique_ptr<TDiskList> DiskList;

 private:
  TThreadFactory* FThreads = nullptr;
  TScanReports* FReports = nullptr;
  std::map<const TDiskObject*, std::unique_ptr<TWorkerThread>> FScans;
};

// The one manager of the run, set up by TRecoveryManagerScope; nil outside it.
TRecoveryManager* RecoveryManager();

class TRecoveryManagerScope {
 public:
  explicit TRecoveryManagerScope(const TDriveListing& Listing = ListLocalDrives());
  ~TRecoveryManagerScope();
  TRecoveryManagerScope(const TRecoveryManagerScope&) = delete;
  TRecoveryManagerScope& operator=(const TRecoveryManagerScope&) = delete;
  TRecoveryManager& Manager() { return *FManager; }

 private:
  std::unique_ptr<TRecoveryManager> FManager;
};

}  // namespace kestrine
