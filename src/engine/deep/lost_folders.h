#pragma once
// Directory clusters that no walk from the root reached: their entries, and the volume geometry
// their own cluster numbers give away when the boot sector is gone.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/fat/fat_dir_entry.h"

namespace kestrine {

struct TLostEntry {
  std::string Name;
  TDirEntry Entry;
  std::uint32_t At = 0;  // where its 8.3 slot lies in the folder's bytes
};

struct TLostFolder {
  std::int64_t Offset = 0;                 // where its bytes lie in the source
  std::optional<std::uint32_t> OwnCluster;  // what its "." entry names
  std::vector<TLostEntry> Entries;          // files only: a subfolder shows as a lost folder of its own
};

// The entries of directory bytes, slot by slot up to the end mark. Nil when the first sector holds a
// slot that is no directory slot, or when no file entry is there; a bad slot further on ends the folder.
std::optional<TLostFolder> ParseLostFolder(std::span<const std::uint8_t> Bytes, const TSlotRules& Rules);

struct TFatGeometry {
  std::int64_t DataOffset = 0;  // where cluster 2 lies
  std::uint32_t ClusterSize = 0;
};
// The geometry at least two folders agree on through their own cluster numbers; nil when none.
std::optional<TFatGeometry> InferGeometry(std::span<const TLostFolder> Folders);

}  // namespace kestrine
