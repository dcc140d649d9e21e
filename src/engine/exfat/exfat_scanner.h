#pragma once
// The exFAT scanner: geometry from the boot region, the allocation bitmap and table found through
// the root, and the breadth-first walk over every folder, deleted ones too.

#include <cstdint>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/exfat/exfat_boot.h"
#include "engine/exfat/exfat_records.h"
#include "engine/volume/disk_scanner.h"
#include "engine/volume/folder_queue.h"
#include "support/debug_log.h"

namespace kestrine {

// A region of the volume (the table, the bitmap) read through one window kept in memory.
class TExFatArea {
 public:
  void Reset(std::vector<TVolumeRange> Pieces);
  // Width bytes at Offset of the area; nil when they lie outside it or cannot be read.
  const std::uint8_t* At(platform::TVolumeSource* Source, std::int64_t Offset, std::uint32_t Width);

 private:
  std::vector<TVolumeRange> FPieces;
  std::vector<std::uint8_t> FWindow;
  std::int64_t FWindowStart = -1;  // area offset of the window's first byte
  std::uint32_t FWindowLength = 0;
};

class TExFatScaner : public TDiskScaner {
 public:
  explicit TExFatScaner(TDiskObject* Disk) : TDiskScaner(Disk) {}
  ~TExFatScaner() override;

  // Opens the volume, checks the boot region and finds the bitmap; false, with the reason, when the
  // volume cannot be walked.
  bool Init() override;
  void ScanForFiles() override;
  void Clear() override;

  const TExFatGeometry& Geometry() const { return FGeometry; }
  // Clusters 2 .. ClusterCount + 1 exist.
  bool IsValidCluster(std::uint32_t Cluster) const { return Cluster >= 2 && Cluster - 2 < FGeometry.ClusterCount; }
  std::int64_t ClusterOffset(std::uint32_t Cluster) const {
    return FGeometry.HeapOffset + std::int64_t{Cluster - 2} * FGeometry.ClusterSize;
  }
  // The cluster's table entry; a bad-cluster mark when it cannot be read.
  std::uint32_t NextCluster(std::uint32_t Cluster);
  // A cluster whose bit cannot be read counts as in use.
  bool IsClusterFree(std::uint32_t Cluster);

  // The clusters of Data, at most as many as its length needs: contiguous without a table chain; the
  // chain for a live item and for a deleted one whose chain holds up; else, for a deleted item,
  // clusters onward from the first that the bitmap marks free.
  TExFatRuns DataRuns(const TExFatData& Data, bool Deleted);
  // Share 0..100 of the clusters Data needs that Runs hold and the bitmap marks free.
  std::int32_t Condition(const TExFatData& Data, const TExFatRuns& Runs);

  std::string Label;  // from the root's label entry

 private:
  std::uint64_t ClustersFor(std::uint64_t Bytes) const;
  // The table's chain from First, at most Limit clusters, ending at a marker, a cluster outside the
  // heap or one seen before. With OnlyFree, also at a cluster in use.
  TExFatRuns ChainRuns(std::uint32_t First, std::uint64_t Limit, bool OnlyFree);
  bool ChainHoldsUp(const TExFatRuns& Runs, std::uint64_t Wanted);
  TExFatRuns FreeRunsFrom(std::uint32_t First, std::uint64_t Wanted);
  // The folder's bytes; the volume offset of the first cluster that could not be read (read as
  // zeros) in Unread, -1 when all were.
  std::vector<std::uint8_t> ReadRuns(const TExFatRuns& Runs, std::int64_t& Unread);
  bool ReadRootEntries();
  void Walk();
  TExFatRuns FolderRuns(const TExFatDirInfo& Dir);
  std::int64_t ReadFolder(std::int32_t Index);
  void HandleSet(PFileInfo Folder, const TExFatDirInfo& Dir, const TExFatEntrySet& Set);
  void QueueFolder(PFileInfo Parent, const TExFatEntrySet& Set, bool Deleted);

  TExFatGeometry FGeometry;
  TExFatArea FFat;
  TExFatArea FBitmap;
  TFolderQueue FFolders{*this, {OperationNames::ExFatScanerAddDir, OperationNames::ExFatScanerAddFile}};
  std::unordered_set<std::uint32_t> FDirClusters;  // every cluster read as a folder in this scan
};

}  // namespace kestrine
