#pragma once
// The FAT engine's records of found files and folders.

#include <cstdint>
#include <vector>

#include "engine/volume/file_info.h"
#include "engine/volume/folder_queue.h"

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
struct TFatDirInfo : TQueuedFolderInfo {
  TFatEntryInfo Entry;
  // Bytes of slots the chain's windows hold: the fixed root ends inside its last window.
  std::int64_t DirBytes = 0;

  bool IsDeleted() const override { return Entry.Deleted; }
};

}  // namespace kestrine
