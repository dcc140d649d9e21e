#pragma once
// The exFAT engine's records of found files and folders, and the clusters their data takes.

#include <cstdint>
#include <vector>

#include "engine/exfat/exfat_entries.h"
#include "engine/volume/file_info.h"
#include "engine/volume/folder_queue.h"

namespace kestrine {

// Count clusters from First, one after another on the volume.
struct TExFatRun {
  std::uint32_t First = 0;
  std::uint32_t Count = 0;
};
using TExFatRuns = std::vector<TExFatRun>;

// The record of a file item, also held by every folder record.
struct TExFatEntryInfo : TFsInfo {
  bool Deleted = false;  // its set was deleted, or it lies in a deleted folder
  TExFatData Data;

  bool IsDeleted() const override { return Deleted; }
};

struct TExFatDirInfo : TQueuedFolderInfo {
  TExFatEntryInfo Entry;

  bool IsDeleted() const override { return Entry.Deleted; }
};

}  // namespace kestrine
