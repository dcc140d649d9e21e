#pragma once
// One volume offered for recovery: its facts, its file-system kind, its scanner and last results.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "engine/volume/boot_sector.h"
#include "engine/volume/file_info.h"
#include "engine/volume/item_store.h"
#include "engine/volume/read_disk.h"
#include "platform/drive_probe.h"

namespace kestrine {

class TDiskScaner;
class TScanReports;

// Raised when a drive cannot become a disk object (its boot sector has no usable geometry).
class TDiskObjectError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TDiskObject {
 public:
  explicit TDiskObject(const platform::TDriveSpec& Spec, TScanReports* Reports = nullptr);
  virtual ~TDiskObject();
  TDiskObject(const TDiskObject&) = delete;
  TDiskObject& operator=(const TDiskObject&) = delete;

  // Drops the results of the last scan and frees its items. Not while the disk's scan runs, except
  // from that scan itself (the manager's StartScan refuses a disk whose scan runs), and not while
  // another thread still reads its lists.
  virtual void Clear();
  // A fresh read-only handle on the drive's source; nil when it cannot be opened.
  TVolumeHandle AllocHandle() const;
  // Whether scans also look for files whose records are gone; not while a scan of the disk runs.
  void SetDeepScan(bool Value);
  bool DeepScan() const { return FDeepScan; }
  void GetDiskInfo();

  TScanReports& Reports() const;
  void SetReports(TScanReports* Reports) { FReports = Reports; }

  // Declared before the lists that point into it.
  TItemStore Store;
  TFoundItems Files;
  TFoundItems Folders;
  std::unique_ptr<TDiskScaner> Scanner;
  char Letter;
  std::int64_t TotalSize = 0;
  std::int64_t FreeSize = 0;
  std::string FileSystemName;
  std::string VolumeLabel;
  TFileSystemKind FileSystem = TFileSystemKind::None;
  std::string SourcePath;
  int Partition = 0;
  std::int64_t Offset = 0;
  std::int64_t Length = -1;
  bool Clipped = false;
  std::string MountPoint;
  platform::TDriveType DriveType;
  // Why the source could not be opened when the drive was listed; empty when it could.
  std::string OpenFailure;
  // Where the deep scan's items start in Files and Folders; -1 until it has begun.
  std::atomic<int> DeepFilesFrom{-1};
  std::atomic<int> DeepFoldersFrom{-1};

 private:
  TScanReports* FReports;
  bool FDeepScan = false;
};

// The name of the volume's root folder item: "d: (LABEL)".
inline std::string RootFolderName(const TDiskObject& Disk) {
  return std::string(1, Disk.Letter) + ": (" + Disk.VolumeLabel + ")";
}
// What a drive list adds to a drive's name, in the caller's language; "%1" in Partition is the number.
struct TDriveCaptionMarks {
  std::string Partition = "[partition %1]";
  std::string Clipped = "[clipped: its table entry runs past the end]";
};
// The drive as a drive list names it: "D:\\ (LABEL)", then the partition mark for a partition of a disk
// or image, and the clipped mark when its table entry runs past the end of the source.
std::string DriveListCaption(const TDiskObject& Disk, const TDriveCaptionMarks& Marks = {});
// Name == RootFolderName(Disk), without building the name: paths ask it for every item listed.
inline bool IsRootFolderName(const TDiskObject& Disk, std::string_view Name) {
  const std::string& label = Disk.VolumeLabel;
  return Name.size() == label.size() + 5 && Name[0] == Disk.Letter && Name.substr(1, 3) == ": (" &&
         Name.substr(4, label.size()) == label && Name.back() == ')';
}

// The kind in the disk's boot sector: 0 when unreadable or unknown. Throws TDiskObjectError when the
// sector is a FAT boot sector with 0 bytes per sector or 0 sectors per cluster.
TFileSystemKind DetectFileSystem(const TDiskObject& Disk);

// The scanner that fits the disk's kind, constructed but not initialised; nil for kind 0.
std::unique_ptr<TDiskScaner> CreateDiskScaner(TDiskObject* Disk);

// Total and free bytes as the volume itself records them (unmounted drives); nil when unknown.
struct TVolumeSpaceFacts {
  std::int64_t Total = 0;
  std::int64_t Free = 0;
};
std::optional<TVolumeSpaceFacts> ReadVolumeSpace(platform::TVolumeSource& Source, TFileSystemKind Kind);

}  // namespace kestrine
