#pragma once
// The base of the file-system scanners: volume handle, stop signal and publication of found items.

#include <atomic>
#include <cstdint>

#include "engine/volume/file_info.h"
#include "engine/volume/read_disk.h"

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

  // Release one published item with its engine record.
  virtual void FreeFileInfo(PFileInfo Item);
  virtual void FreeFolderInfo(PFileInfo Item);
  virtual void Clear() {}
  // Opens a fresh volume handle; engines read their geometry after it.
  virtual bool Init();
  // Engines run the base first, then walk, and report ScanFinished in every case.
  virtual void ScanForFiles();

  bool Stopped() const { return FStopped.load(std::memory_order_acquire); }
  void SetStopped(bool Value) { FStopped.store(Value, std::memory_order_release); }

  void FreeAllItems();
  void NotifyFileAdded(PFileInfo Item);
  void NotifyFolderAdded(PFileInfo Item);
  TScanReports& Reports() const;

  TDiskObject* Disk;
  TVolumeHandle Handle;
  std::uint32_t ClusterSize = 0;

 private:
  std::atomic<bool> FStopped{false};
};

}  // namespace kestrine
