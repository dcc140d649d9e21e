#pragma once
// Allocation-table entries of the three FAT forms: where an entry lies, how it decodes, what ends a chain.

#include <cstdint>
#include <span>

#include "engine/volume/boot_sector.h"

namespace kestrine {

struct TFatEntryCodec {
  TFileSystemKind Kind;  // Fat12, Fat16 or Fat32
  std::uint32_t EndOfChain;     // highest end-of-chain value
  std::uint32_t BadCluster;
  std::uint32_t EndOfChainMin;  // lowest end-of-chain value
  std::uint32_t EntryBits;      // 12, 16 or 32 (FAT32 uses the low 28)

  // Offset of the cluster's entry from the start of one table.
  std::uint64_t ByteOffset(std::uint32_t Cluster) const;
  // Bytes an entry needs from its offset (a FAT12 entry shares its bytes with a neighbour).
  std::uint32_t Width() const { return EntryBits == 32 ? 4 : 2; }
  // Entries that a table of TableBytes bytes holds in full.
  std::uint64_t EntriesIn(std::uint64_t TableBytes) const;
  // Bytes holds at least Width() bytes starting at the entry's offset.
  std::uint32_t Decode(std::uint32_t Cluster, std::span<const std::uint8_t> Bytes) const;
};

// The codec of a FAT kind; FAT32 for anything that is not FAT12 or FAT16.
const TFatEntryCodec& FatEntryCodec(TFileSystemKind Kind);

}  // namespace kestrine
