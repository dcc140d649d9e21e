#pragma once
// Directory clusters that no walk from the root reached: their entries, and the volume geometry
// their own cluster numbers give away when the boot sector is gone. FAT slots and exFAT entry sets.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/fat/fat_dir_entry.h"
#include "support/file_time.h"

namespace kestrine {

// A file entry of a lost folder, FAT or exFAT alike.
struct TLostEntry {
  std::string Name;
  std::uint64_t Size = 0;
  std::uint32_t FirstCluster = 0;
  std::uint32_t Attributes = 0;
  TFileTime Created = 0;
  TFileTime Modified = 0;
  std::uint32_t At = 0;  // where its entry lies in the folder's bytes
};

struct TLostFolder {
  std::int64_t Offset = 0;                  // where its bytes lie in the source
  std::optional<std::uint32_t> OwnCluster;  // what its "." entry names
  std::vector<TLostEntry> Entries;          // files only: a subfolder shows as a lost folder of its own
};

// The entries of directory bytes, slot by slot up to the end mark. Nil when the first sector holds a
// slot that is no directory slot, or when no file entry is there; a bad slot further on ends the folder.
std::optional<TLostFolder> ParseLostFolder(std::span<const std::uint8_t> Bytes, const TSlotRules& Rules);

// The exFAT entry sets of directory bytes whose set checksum holds; nil when there is none.
std::optional<TLostFolder> ParseLostExFatFolder(std::span<const std::uint8_t> Bytes);

struct TFatGeometry {
  std::int64_t DataOffset = 0;  // where cluster 2 lies
  std::uint32_t ClusterSize = 0;
};
// The geometry at least two folders agree on through their own cluster numbers; nil when none.
std::optional<TFatGeometry> InferGeometry(std::span<const TLostFolder> Folders);

}  // namespace kestrine
