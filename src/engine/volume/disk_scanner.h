#pragma once
// The base of the file-system scanners: volume handle, stop signal and publication of found items.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/volume/file_info.h"
#include "engine/volume/read_disk.h"
#include "engine/volume/recovery_reason.h"

namespace kestrine {

class TDiskObject;
class TScanReports;

class TDiskScaner {
 public:
  explicit TDiskScaner(TDiskObject* Disk);
  // Engines call their own Clear in their destructors: a base destructor cannot reach it.
  virtual ~TDiskScaner();
  TDiskScaner(const TDiskScaner&) = delete;
  TDiskScaner& operator=(const TDiskScaner&) = delete;

  virtual void Clear() {}
  // Opens a fresh volume handle; engines read their geometry after it.
  virtual bool Init();
  // Engines run the base first, then walk, and report ScanFinished in every case.
  virtual void ScanForFiles();

  bool Stopped() const { return FStopped.load(std::memory_order_acquire); }
  // A scanner that runs another one passes the signal on.
  virtual void SetStopped(bool Value) { FStopped.store(Value, std::memory_order_release); }

  // Empties the disk's lists and frees its items; no scan may run.
  void FreeAllItems();
  // Reads again what the streams of these found items need and keeps it with them until LetGoRecords,
  // so that a recovery's own writes onto the volume cannot take it away before it is read. The
  // items that now hold it are returned; an engine that keeps everything it needs holds nothing.
  virtual std::vector<PFileInfo> HoldRecords(const std::vector<PFileInfo>& /*Items*/) { return {}; }
  virtual void LetGoRecords(const std::vector<PFileInfo>& /*Items*/) {}
  // An item owned by the disk's store: it stays valid until the disk's next Clear.
  PFileInfo NewItem();
  void NotifyFileAdded(PFileInfo Item);
  void NotifyFolderAdded(PFileInfo Item);
  TScanReports& Reports() const;
  // Reports go to Target instead of the disk's; nil for the disk's again.
  void ReportTo(TScanReports* Target) { FReportTo = Target; }

  // The data clusters of the volume after a scan, for a pass over the free ones; none where the engine
  // keeps no allocation map. Cluster numbers run from First on; cluster First lies at DataOffset.
  struct TClusterMap {
    std::int64_t DataOffset = 0;
    std::int64_t Count = 0;
    std::int64_t First = 0;
  };
  virtual std::optional<TClusterMap> ClusterMap() { return std::nullopt; }
  virtual bool ClusterIsFree(std::int64_t /*Number*/) { return false; }
  // Whether this scan read the cluster as a folder.
  virtual bool WalkedFolderCluster(std::int64_t /*Number*/) const { return false; }
  // Where a found file's data starts on the volume; none when the engine cannot tell. May read the
  // file's record again.
  virtual std::optional<std::int64_t> DataStart(const TFileInfo& /*Item*/) { return std::nullopt; }

  // Why the last scan could not walk its volume (bad geometry, an unreadable root folder or first
  // MFT records); none for a scan that walked, also one that found nothing. Set before the walk's
  // first progress report, so a front end may pass on what is found from then on, and before
  // ScanFinished, so an end-of-scan handler can read it.
  std::optional<TReason> ScanFailure() const;

  TDiskObject* Disk;
  TVolumeHandle Handle;
  std::uint32_t ClusterSize = 0;

 protected:
  void SetScanFailure(std::optional<TReason> Why);

 private:
  std::atomic<bool> FStopped{false};
  TScanReports* FReportTo = nullptr;
  mutable std::mutex FFailureLock;
  std::optional<TReason> FScanFailure;
};

}  // namespace kestrine
