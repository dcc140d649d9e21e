#pragma once
// The NTFS scanner: walks the MFT, turns deleted base records into found files, rebuilds the folders
// above them from the parent references, and estimates each file's condition from the cluster bitmap.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/ntfs/mft_reader.h"
#include "engine/ntfs/ntfs_data_reader.h"
#include "engine/volume/disk_scanner.h"

namespace kestrine {

class TNtfsScaner : public TDiskScaner {
 public:
  explicit TNtfsScaner(TDiskObject* Disk);
  ~TNtfsScaner() override;

  void Clear() override;
  // Opens a fresh handle and reads the volume's geometry into a new reader.
  bool Init() override;
  // Always ends with ScanFinished, also when stopped or when the volume cannot be read.
  void ScanForFiles() override;
  // A record that changed since the scan is not held: its stream then fails with the reason.
  std::vector<PFileInfo> HoldRecords(const std::vector<PFileInfo>& Items) override;
  void LetGoRecords(const std::vector<PFileInfo>& Items) override;

  // Publish an item of the disk's store; index in the disk's list, -1 when not added.
  int AddFile(PFileInfo Item);
  // Publish a folder made from Facts (its name and record are moved into a store item).
  int AddDir(TFileInfo& Facts);
  // The folder item for a record, made with the folders above it when it is not known yet; nil
  // when the record cannot be read. Seq is the sequence number the reference names (0: any); a
  // folder record that no longer carries it was reused, and stands as "$folder_N" under the root.
  PFileInfo AddDirToTree(std::int64_t RecNo, std::uint16_t Seq = 0);
  PFileInfo FindFolder(std::int64_t RecNo) const;

  void ReadClustersBitmap();
  bool IsClusterFree(std::int64_t Cluster);
  std::optional<TClusterMap> ClusterMap() override;
  bool ClusterIsFree(std::int64_t Number) override { return IsClusterFree(Number); }
  std::optional<std::int64_t> DataStart(const TFileInfo& Item) override;
  // 0..100: the share of the main data's clusters that the bitmap marks free.
  int CalcFileCondition(const TNtfsFileInfo& Info);
  // The header that starts the raw form of an encrypted item; empty when it cannot be built.
  std::vector<std::uint8_t> CreateEfsRecoveryData(PFileInfo Item);
  // The same from the item's record as read now.
  std::vector<std::uint8_t> CreateEfsRecoveryData(const TNtfsFileInfo& Record);

  TMftReader* MftReader() const { return FMftReader.get(); }
  const TFileInfo* BitmapItem() const { return FBitmapItem.get(); }

 private:
  struct TPendingFolder;
  void WalkMft();
  void AddFoundFile(std::unique_ptr<TNtfsFileInfo> Info);
  bool ReadPendingFolder(std::int64_t RecNo, std::uint16_t Seq, TPendingFolder& Folder);
  PFileInfo FindNamedFolder(std::int64_t RecNo, std::uint16_t Seq) const;
  int PublishDir(TFileInfo& Facts, bool Reused);

  std::unique_ptr<TNtfsDataReader> FBitmapStream;
  std::unique_ptr<TFileInfo> FBitmapItem;
  std::unique_ptr<TMftReader> FMftReader;
  // Folders of this scan by record number, and the stand-ins for folder records reused since.
  std::unordered_map<std::int64_t, PFileInfo> FFolderIndex;
  std::unordered_map<std::int64_t, PFileInfo> FReusedFolders;
};

// Names of this shape ("_E" or "$E", then 6 characters and ".bak") are never reported.
bool IsExcludedName(std::string_view Name);

}  // namespace kestrine
