#pragma once
// MBR (primary and logical) and GPT partition tables, read through any source of bytes.

#include <cstdint>
#include <functional>
#include <vector>

namespace kestrine::platform {

// One entry of a partition table, in bytes. Extended-partition containers are not entries.
struct TPartitionEntry {
  int Number = 0;             // as the table counts: logical partitions from 5 on an MBR
  std::int64_t Offset = 0;
  std::int64_t Length = 0;    // clipped to the source
  bool Clipped = false;       // the table entry runs past the end of the source
};

// Count bytes at Offset, fewer where the source ends or fails.
using TByteReader = std::function<std::uint32_t(std::uint8_t* Buffer, std::uint32_t Count, std::int64_t Offset)>;

// The entries of the table at the start of Size bytes, in table order; empty when there is none. A
// volume's own boot sector is no table, and a GPT goes before its protective MBR. An MBR counts in
// the device's logical sectors (SectorSize); a GPT's header says which size it was written for.
std::vector<TPartitionEntry> ReadPartitionTable(const TByteReader& Read, std::int64_t Size,
                                                std::int64_t SectorSize = 512);

}  // namespace kestrine::platform
