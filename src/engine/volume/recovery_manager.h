#pragma once
// The process-wide entry point: drives, scans, recovery streams and recoveries.

#include <memory>
#include <string>

#include "engine/volume/disk_list.h"
#include "engine/volume/recovery_stream.h"
#include "engine/volume/workflow_ports.h"

namespace kestrine {

class TRecoveryManager {
 public:
  explicit TRecoveryManager(const TDriveListing& Listing = ListLocalDrives());
  ~TRecoveryManager();
  TRecoveryManager(const TRecoveryManager&) = delete;
  TRecoveryManager& operator=(const TRecoveryManager&) = delete;

  // Case-insensitive; nil when no disk has the letter.
  TDiskObject* FindDisk(char Letter) const;
  // Clears the disk and starts its scanning thread; nil for a nil disk or without a workflow.
  std::unique_ptr<TWorkerThread> StartScan(TDiskObject* Disk);
  void StopScan(char Letter);
  // Nil for an item without disk or of a kind that has no stream; the caller owns the stream.
  std::unique_ptr<TRecoveryStream> CreateStream(PFileInfo Item, const std::string& StreamName = {});
  // A recovering thread for the items, not started; nil without a workflow.
  std::unique_ptr<TRecoveryJob> RecoverItems(const TDiskItems& Items);

  // The workflow plugs in here at start-up.
  void SetWorkflow(TScanReports* Reports, TThreadFactory* Threads);

  std::unique_ptr<TDiskList> DiskList;

 private:
  TThreadFactory* FThreads = nullptr;
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
