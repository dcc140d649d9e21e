#pragma once
// The FAT engine's records of found files and folders.

#include <cstdint>
#include <vector>

#include "engine/volume/file_info.h"

namespace kestrine {

// Volume byte offsets of a file's or folder's clusters in order; for the fixed root of FAT12 and
// FAT16, the offsets of the root's windows.
using TClusChain = std::vector<std::int64_t>;
using TIdxArray = std::vector<std::int32_t>;

// The record of a file item, also held by every folder record.
struct TFatEntryInfo : TFsInfo {
  bool IsFolder = false;
  bool Deleted = false;  // the 8.3 entry's first byte was 0xE5
  std::uint32_t FirstCluster = 0;
  TClusChain ClusChain;
  PFileInfo ParentItem = nullptr;  // nil for the root

  bool IsDeleted() const override { return Deleted; }
};

// The record of a folder item.
struct TFatDirInfo : TFsInfo {
  TIdxArray FileIndexes;  // indexes in Disk.Files of the deleted files found directly in it
  bool Pending = true;    // not yet in Disk.Folders
  TFatEntryInfo Entry;
  // Bytes of slots the chain's windows hold: the fixed root ends inside its last window.
  std::int64_t DirBytes = 0;
  // Slot in the scanner's folder queue; -1 once the folder belongs to the result.
  std::int32_t QueueIndex = -1;
  // Announced to the reports; a folder is announced once whatever the views do with it.
  bool Published = false;

  bool IsDeleted() const override { return Entry.Deleted; }
};

}  // namespace kestrine
