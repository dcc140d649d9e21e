#pragma once
// FAT volumes written byte by byte for the engine's tests: boot sector, tables, root and directories.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/volume/disk_object.h"
#include "engine/volume/workflow_ports.h"

namespace kestrine::test {

using TSlot = std::array<std::uint8_t, 32>;

// An 8.3 slot; Name83 is the 11 name bytes as stored ("REPORT  TXT").
TSlot ShortSlot(std::string_view Name83, std::uint8_t Attributes, std::uint32_t FirstCluster, std::uint32_t Size);
TSlot Deleted(TSlot Slot);
// The long-name slots of Name for the 8.3 slot, in the order they lie before it.
std::vector<TSlot> LongNameSlots(std::u16string_view Name, const TSlot& Short);

struct TFatShape {
  TFileSystemKind Kind = TFileSystemKind::None;
  std::uint16_t BytesPerSector = 512;
  std::uint8_t SectorsPerCluster = 1;
  std::uint32_t Clusters = 0;        // 0: the smallest count of the kind
  std::uint16_t RootEntries = 224;   // FAT12/16
  std::uint8_t Fats = 2;
  std::uint16_t ExtFlags = 0;        // FAT32
};

class TFatVolumeBuilder {
 public:
  explicit TFatVolumeBuilder(const TFatShape& Shape);

  std::uint32_t ClusterSize() const { return FClusterSize; }
  std::uint32_t ClusterCount() const { return FClusterCount; }
  std::int64_t FatOffset(int Table = 0) const;
  std::int64_t RootOffset() const;  // FAT12/16 fixed root
  std::int64_t ClusterOffset(std::uint32_t Cluster) const;

  // Sets the entry in every table (or in one).
  void SetFat(std::uint32_t Cluster, std::uint32_t Value);
  void SetFatIn(int Table, std::uint32_t Cluster, std::uint32_t Value);
  // Links the clusters in order and ends the chain.
  void Chain(const std::vector<std::uint32_t>& Clusters);
  void PutSlots(std::int64_t Offset, const std::vector<TSlot>& Slots);
  void PutBytes(std::int64_t Offset, const std::vector<std::uint8_t>& Bytes);
  // Slots of a directory at Offset, appended one after another.
  std::int64_t Put(std::int64_t Offset, const TSlot& Slot);

  // The image up to the last cluster written: reads past it fail like those of a truncated volume.
  std::vector<std::uint8_t>& Bytes() { return FBytes; }
  std::uint32_t EndOfChain() const;

 private:
  void Grow(std::int64_t End);

  TFatShape FShape;
  std::uint32_t FClusterSize;
  std::uint32_t FClusterCount;
  std::uint32_t FFatSectors;
  std::vector<std::uint8_t> FBytes;
};

// Records what a scan reports; like the tree view, it marks every announced folder as shown.
struct TRecordedReports final : TScanReports {
  struct TEvent {
    char Kind;  // 'D' folder, 'F' file, 'E' end
    PFileInfo Item;
  };
  std::vector<TEvent> Events;
  std::function<void(PFileInfo)> OnFile;
  int Finished = 0;

  void FolderAdded(TDiskObject*, PFileInfo Info) override;
  void FileAdded(TDiskObject*, PFileInfo Info) override;
  void ScanProgress(TDiskObject*, std::int64_t, std::int64_t) override {}
  void ScanFinished(TDiskObject*) override;
};

// A disk over an image file, scanned once.
struct TScannedDisk {
  TRecordedReports Reports;
  std::unique_ptr<TDiskObject> Disk;
};
// Prepare runs after the disk is made and before its scan.
std::unique_ptr<TScannedDisk> ScanImage(const std::filesystem::path& Image,
                                        const std::function<void(TScannedDisk&)>& Prepare = {});
// Writes the builder's image into Dir and scans it.
std::unique_ptr<TScannedDisk> ScanBuilt(TFatVolumeBuilder& Volume, const std::filesystem::path& Dir,
                                        const std::function<void(TScannedDisk&)>& Prepare = {});

// The item's folder names below the root and its own name, joined by "/".
std::string ItemPath(const TFileInfo* Item);

}  // namespace kestrine::test
