#pragma once
// The exFAT boot region: the main boot sector's geometry, checked against the limits exFAT sets
// and the region's own checksum.

#include <cstdint>
#include <optional>
#include <span>

#include "engine/volume/recovery_reason.h"

namespace kestrine {

// Sectors 0..10 are summed; sector 11 repeats the sum.
inline constexpr std::uint32_t kExFatChecksumSector = 11;
// Enough for the checksummed region at the largest sector size.
inline constexpr std::uint32_t kExFatBootRegionMax = 12 * 4096;

struct TExFatGeometry {
  std::uint32_t SectorSize = 0;
  std::uint32_t ClusterSize = 0;
  std::int64_t FatOffset = 0;  // bytes from the volume's start, of the table in use
  std::int64_t FatBytes = 0;
  std::int64_t HeapOffset = 0;
  std::uint32_t ClusterCount = 0;
  std::uint32_t RootCluster = 0;
  std::uint8_t ActiveFat = 0;  // 0 or 1: the table, and bitmap, in use
  std::uint8_t PercentInUse = 0xFF;  // 0xFF: not known
  std::int64_t VolumeBytes = 0;
};

struct TExFatBoot {
  std::optional<TExFatGeometry> Geometry;
  std::optional<TReason> Why;  // set when Geometry is not
};

// Region holds the volume's first bytes, at least 12 sectors of the size the boot sector names.
TExFatBoot ParseExFatBoot(std::span<const std::uint8_t> Region);

// The boot region checksum over the first 11 sectors, leaving out the fields that change in use.
std::uint32_t ExFatBootChecksum(std::span<const std::uint8_t> Sectors);

}  // namespace kestrine
