#pragma once
// What the volume layer needs from the workflow above it; the workflow plugs in at start-up.

#include <cstdint>
#include <memory>

#include "engine/volume/file_info.h"

namespace kestrine {

class TDiskObject;

// The four reports every scanner makes while it scans (received by the updating thread).
class TScanReports {
 public:
  virtual ~TScanReports() = default;
  virtual void FolderAdded(TDiskObject* Disk, PFileInfo Info) = 0;
  virtual void FileAdded(TDiskObject* Disk, PFileInfo Info) = 0;
  virtual void ScanProgress(TDiskObject* Disk, std::int64_t Done, std::int64_t Total) = 0;
  virtual void ScanFinished(TDiskObject* Disk) = 0;
};

// Reports that go nowhere, for disks nobody shows.
TScanReports& NullScanReports();

// A background job: created suspended, started once, joined by its owner.
class TWorkerThread {
 public:
  virtual ~TWorkerThread() = default;
  virtual void Start() = 0;
  virtual void WaitFor() = 0;
  virtual bool Finished() const = 0;
  virtual void Terminate() = 0;
};

// Creates the scanning and recovering threads of the workflow.
class TThreadFactory {
 public:
  virtual ~TThreadFactory() = default;
  virtual std::unique_ptr<TWorkerThread> CreateScanningThread(TDiskObject* Disk) = 0;
  virtual std::unique_ptr<TWorkerThread> CreateRecoveringThread(const TDiskItems& Items) = 0;
};

}  // namespace kestrine
