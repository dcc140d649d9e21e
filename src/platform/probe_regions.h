#pragma once
// Where the structures lie that libblkid reads to name a volume and find its label, as its boot
// sector says: so that a copy of those places is enough to probe a volume inside a container.

#include <cstdint>
#include <span>
#include <vector>

namespace kestrine::platform {

struct TProbeRegion {
  std::int64_t Offset = 0;
  std::int64_t Length = 0;  // at most 1 MiB
};

// NTFS's first MFT records ($Volume is the fourth), the first cluster of a FAT or exFAT root folder
// and the table entry that chains it; none for anything else. Offsets may lie past the volume.
std::vector<TProbeRegion> ProbedRegions(std::span<const std::uint8_t, 512> BootSector);

}  // namespace kestrine::platform
