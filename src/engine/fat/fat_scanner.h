#pragma once
// The FAT scanner: geometry from the boot sector, allocation-table lookups, and the breadth-first
// walk over every directory that turns deleted entries into found items.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/fat/fat_dir_entry.h"
#include "engine/fat/fat_records.h"
#include "engine/fat/fat_table.h"
#include "engine/volume/boot_sector.h"
#include "engine/volume/disk_scanner.h"
#include "engine/volume/folder_queue.h"
#include "support/debug_log.h"

namespace kestrine {

class TFatScaner : public TDiskScaner {
 public:
  ~TFatScaner() override;

  // Opens the volume and reads the geometry; false for a volume whose geometry FAT does not allow.
  bool Init() override;
  void ScanForFiles() override;
  // Frees the folders still queued and drops the window and table caches.
  void Clear() override;

  // Clusters 2 .. ClusterCount + 1 exist.
  bool IsValidCluster(std::uint32_t Cluster) const { return Cluster >= 2 && Cluster - 2 < ClusterCount; }
  std::int64_t ClusterOffset(std::uint32_t Cluster) const {
    return DataOffset + std::int64_t{Cluster - 2} * ClusterSize;
  }
  // The cluster's allocation-table entry; BadCluster when it cannot be read or the cluster does not exist.
  std::uint32_t GetNextCluster(std::uint32_t Cluster);
  bool IsClusterFree(std::uint32_t Cluster) { return GetNextCluster(Cluster) == 0; }

  // Deleted folders are taken as contiguous, existing ones follow the table. A folder never takes a
  // cluster another folder of this scan has taken, which also ends looping chains.
  void GetDirClusChain(PFileInfo Folder);
  // The clusters of a file's data: contiguous from the first cluster when deleted, else the table's chain.
  TClusChain GetFileClusChain(const TFatEntryInfo& Entry, std::uint32_t Size);
  // Share of the clusters a deleted file needs that are still free, 0..100.
  std::int32_t CalcFileCondition(const TFatEntryInfo& Entry, std::uint32_t Size);

  const TFatEntryCodec& Codec;  // entry layout and the end-of-chain and bad-cluster values
  std::array<std::uint8_t, 90> Boot{};
  TBpb Bpb;
  std::uint32_t RootDirSectors = 0;
  std::int64_t FatSize = 0;  // bytes of one table
  std::uint64_t FirstDataSector = 0;
  std::int64_t DataOffset = 0;
  std::uint32_t TotalSectors = 0;
  std::uint32_t ClusterCount = 0;
  std::uint8_t ActiveFat = 0;
  std::int32_t RootIndex = -1;
  TFolderQueue FolderQueue{*this, {OperationNames::FatScanerAddDir, OperationNames::FatScanerAddFile}};  // folders found and not yet part of the result

 protected:
  TFatScaner(TDiskObject* Disk, const TFatEntryCodec& Codec);

  // Creates the root folder item, queues it and sets RootIndex.
  virtual void BuildRootFolder() = 0;
  // Why the root built holds no window to read.
  virtual TReason RootlessReason() const = 0;

  // Queues a folder item (not published); its index in FolderQueue, -1 when it could not be made.
  std::int32_t AddDir(PFileInfo Item, std::unique_ptr<TFatDirInfo> Dir);
  // The chain through the allocation table from First: ends at a marker, at a cluster outside the
  // volume, at a cluster already in Taken, or after Limit clusters. Every cluster taken joins Taken.
  TClusChain FollowChain(std::uint32_t First, std::uint64_t Limit, std::unordered_set<std::uint32_t>& Taken);
  void QueueRoot(TClusChain Chain, std::int64_t DirBytes, std::uint32_t FirstCluster);

  // First clusters of queued folders and every cluster read as a directory in this scan.
  std::unordered_set<std::uint32_t> FDirClusters;

 private:
  // None when the geometry is one FAT allows, else what is wrong with it.
  std::optional<TReason> ComputeGeometry();
  void Walk();
  // The volume offset of the first window that could not be read, -1 when every window was.
  std::int64_t ReadDir(std::int32_t Index);
  void HandleEntry(PFileInfo Folder, TFatDirInfo& Dir, const TDirEntryReader& Reader);
  void QueueFolder(const TDirEntry& Found, std::string Name, const TFatEntryInfo& Entry);
  bool LoadWindow(std::int64_t Offset, std::uint32_t Length);
  void LocateFatEntry(std::uint32_t Cluster);
  bool IsOverwrittenFolder(const TFatEntryInfo& Entry);
  std::uint32_t ContiguousClusters(std::uint32_t First, std::uint64_t Wanted) const;

  std::vector<std::uint8_t> FClusterBuffer;
  std::int64_t FLoadedWindow = -1;
  std::uint32_t FLoadedWindowLength = 0;
  std::vector<std::uint8_t> FFatBuffer;  // two table sectors, so a FAT12 entry never straddles its end
  std::int64_t FFatSector = 0;
  std::uint32_t FFatEntryOffset = 0;
  std::int64_t FLoadedFatSector = -1;
  std::uint32_t FFatLoaded = 0;
};

// FAT12: the root is a fixed region after the tables.
class TFat12Scaner : public TFatScaner {
 public:
  explicit TFat12Scaner(TDiskObject* Disk) : TFat12Scaner(Disk, FatEntryCodec(TFileSystemKind::Fat12)) {}

 protected:
  TFat12Scaner(TDiskObject* Disk, const TFatEntryCodec& Codec) : TFatScaner(Disk, Codec) {}
  void BuildRootFolder() override;
  TReason RootlessReason() const override;
};

// FAT16: the fixed root of FAT12 with 16-bit table entries.
class TFat16Scaner : public TFat12Scaner {
 public:
  explicit TFat16Scaner(TDiskObject* Disk) : TFat12Scaner(Disk, FatEntryCodec(TFileSystemKind::Fat16)) {}
};

// FAT32: the root is a cluster chain; the table read may be chosen by the boot sector.
class TFat32Scaner : public TFatScaner {
 public:
  explicit TFat32Scaner(TDiskObject* Disk) : TFatScaner(Disk, FatEntryCodec(TFileSystemKind::Fat32)) {}
  bool Init() override;

 protected:
  void BuildRootFolder() override;
  TReason RootlessReason() const override;
};

}  // namespace kestrine
