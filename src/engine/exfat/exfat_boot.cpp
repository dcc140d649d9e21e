#include "engine/exfat/exfat_boot.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "engine/volume/byte_order.h"

namespace kestrine {
namespace {

// Volume flags and percent in use change while the volume is used; the sum leaves them out.
bool ChangesInUse(std::size_t Offset) { return Offset == 106 || Offset == 107 || Offset == 112; }

constexpr std::uint32_t kLastCluster = 0xFFFFFFF5;  // cluster numbers above are markers

TReason Refused(TReasonId Id, std::vector<std::string> Args = {}) {
  return TReason{TReasonId::GeometryNotExFat, {}, {TReason{Id, std::move(Args)}}};
}

}  // namespace

std::uint32_t ExFatBootChecksum(std::span<const std::uint8_t> Sectors) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < Sectors.size(); ++i)
    if (!ChangesInUse(i)) sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + Sectors[i];
  return sum;
}

TExFatBoot ParseExFatBoot(std::span<const std::uint8_t> Region) {
  if (Region.size() < 512) return {{}, TReason{TReasonId::BootSectorUnreadable}};
  const std::string_view name(reinterpret_cast<const char*>(Region.data()) + 3, 8);
  if (name != "EXFAT   ") return {{}, Refused(TReasonId::ExFatName)};
  const std::uint8_t sectorShift = Region[108], clusterShift = Region[109], fats = Region[110];
  // Sectors of 512 to 4096 bytes, clusters of at most 32 MiB.
  if (sectorShift < 9 || sectorShift > 12) return {{}, Refused(TReasonId::ExFatShift, {"bytes-per-sector", std::to_string(sectorShift)})};
  if (clusterShift > 25 - sectorShift)
    return {{}, Refused(TReasonId::ExFatShift, {"sectors-per-cluster", std::to_string(clusterShift)})};
  if (fats != 1 && fats != 2) return {{}, Refused(TReasonId::TooManyAllocationTables, {std::to_string(fats)})};

  TExFatGeometry g;
  g.SectorSize = 1u << sectorShift;
  g.ClusterSize = 1u << (sectorShift + clusterShift);
  if (Region.size() < std::size_t{12} * g.SectorSize) return {{}, TReason{TReasonId::BootSectorUnreadable}};
  const std::uint32_t sum = ExFatBootChecksum(Region.first(std::size_t{11} * g.SectorSize));
  const auto stored = Region.subspan(std::size_t{11} * g.SectorSize, g.SectorSize);
  for (std::size_t at = 0; at < stored.size(); at += 4)
    if (ReadLe32(stored, at) != sum) return {{}, Refused(TReasonId::ExFatChecksum)};

  const std::uint64_t volumeSectors = ReadLe64(Region, 72);
  const std::uint64_t fatOffset = ReadLe32(Region, 80), fatLength = ReadLe32(Region, 84);
  const std::uint64_t heapOffset = ReadLe32(Region, 88);
  const std::uint64_t clusters = ReadLe32(Region, 92);
  const std::uint64_t clusterSectors = std::uint64_t{1} << clusterShift;
  const std::uint64_t heapEnd = heapOffset + clusters * clusterSectors;
  // The tables lie after the boot regions and before the heap; the heap lies inside the volume.
  if (fatOffset < 24 || fatLength == 0 || fatOffset + fats * fatLength > heapOffset)
    return {{}, Refused(TReasonId::ExFatTablesMisplaced, {std::to_string(fatOffset), std::to_string(fatLength), std::to_string(heapOffset)})};
  if (clusters == 0 || clusters > kLastCluster - 1 || heapEnd > volumeSectors || volumeSectors >> (63 - sectorShift))
    return {{}, Refused(TReasonId::ExFatHeapOutside, {std::to_string(clusters), std::to_string(volumeSectors)})};
  if (fatLength * g.SectorSize < (clusters + 2) * 4)
    return {{}, Refused(TReasonId::TableTooShort, {std::to_string(fatLength), std::to_string(clusters)})};
  g.RootCluster = ReadLe32(Region, 96);
  if (g.RootCluster < 2 || g.RootCluster - 2 >= clusters)
    return {{}, TReason{TReasonId::RootClusterOutside, {std::to_string(g.RootCluster)}}};
  // Bit 0 of the volume flags names the table in use when there are two.
  g.ActiveFat = fats == 2 ? (ReadLe16(Region, 106) & 1) : 0;
  g.FatOffset = static_cast<std::int64_t>((fatOffset + g.ActiveFat * fatLength) * g.SectorSize);
  g.FatBytes = static_cast<std::int64_t>(fatLength * g.SectorSize);
  g.HeapOffset = static_cast<std::int64_t>(heapOffset * g.SectorSize);
  g.ClusterCount = static_cast<std::uint32_t>(clusters);
  g.PercentInUse = Region[112];
  g.VolumeBytes = static_cast<std::int64_t>(volumeSectors << sectorShift);
  return {g, {}};
}

}  // namespace kestrine
