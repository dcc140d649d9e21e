#include <array>
#include <vector>

#include "engine/exfat/exfat_boot.h"
#include "engine/fat/fat_table.h"
#include "engine/ntfs/ntfs_bitmap.h"
#include "engine/volume/boot_sector.h"
#include "engine/volume/byte_order.h"
#include "engine/volume/disk_object.h"

namespace kestrine {
namespace {

// Counts free entries of the first allocation table for clusters 2 .. count + 1.
std::int64_t CountFreeFatClusters(platform::TVolumeSource& Source, const TBpb& Bpb, const TFatLayout& Layout,
                                  TFileSystemKind Kind) {
  const std::int64_t tableOffset = std::int64_t{Bpb.ReservedSectors} * Bpb.BytesPerSector;
  const std::int64_t tableBytes = std::int64_t{Layout.FatSize} * Bpb.BytesPerSector;
  const std::uint64_t last = std::uint64_t{Layout.ClusterCount} + 1;
  constexpr std::uint32_t kChunk = 1 << 20;
  std::vector<std::uint8_t> chunk(kChunk + 4);
  std::int64_t free = 0;
  std::int64_t chunkStart = -1;
  std::uint32_t chunkLength = 0;
  const TFatEntryCodec& codec = FatEntryCodec(Kind);
  const std::uint32_t width = codec.Width();
  for (std::uint64_t cluster = 2; cluster <= last; ++cluster) {
    const std::uint64_t byte = codec.ByteOffset(static_cast<std::uint32_t>(cluster));
    if (static_cast<std::int64_t>(byte + width) > tableBytes) break;
    if (chunkStart < 0 || static_cast<std::int64_t>(byte) < chunkStart ||
        static_cast<std::int64_t>(byte + width) > chunkStart + chunkLength) {
      chunkStart = static_cast<std::int64_t>(byte);
      const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(kChunk + 4, tableBytes - chunkStart));
      chunkLength = Source.Read(chunk.data(), want, tableOffset + chunkStart);
      if (chunkLength < width) break;
    }
    const auto at = static_cast<std::size_t>(static_cast<std::int64_t>(byte) - chunkStart);
    const std::span<const std::uint8_t> view(chunk.data() + at, width);
    free += codec.Decode(static_cast<std::uint32_t>(cluster), view) == 0;
  }
  return free;
}

std::optional<TVolumeSpaceFacts> FatSpace(platform::TVolumeSource& Source, std::span<const std::uint8_t, 512> Sector,
                                          TFileSystemKind Kind) {
  const TBpb bpb = ParseBpb(Sector);
  const auto layout = ComputeFatLayout(bpb);
  if (!layout || !layout->Consistent) return std::nullopt;
  const std::int64_t clusterBytes = std::int64_t{bpb.BytesPerSector} * bpb.SectorsPerCluster;
  TVolumeSpaceFacts facts;
  facts.Total = clusterBytes * layout->ClusterCount;
  // FAT32 keeps a free count in its FSInfo sector; trust it when it is plausible.
  if (Kind == TFileSystemKind::Fat32) {
    const std::uint16_t infoSector = ReadLe16(Sector, 48);
    std::array<std::uint8_t, 512> info{};
    if (infoSector != 0 && infoSector != 0xFFFF &&
        Source.Read(info.data(), 512, std::int64_t{infoSector} * bpb.BytesPerSector) == 512 &&
        ReadLe32(info, 0) == 0x41615252 && ReadLe32(info, 484) == 0x61417272) {
      const std::uint32_t freeCount = ReadLe32(info, 488);
      if (freeCount <= layout->ClusterCount) {
        facts.Free = clusterBytes * freeCount;
        return facts;
      }
    }
  }
  facts.Free = clusterBytes * CountFreeFatClusters(Source, bpb, *layout, Kind);
  return facts;
}

std::optional<TVolumeSpaceFacts> NtfsSpace(platform::TVolumeSource& Source, std::span<const std::uint8_t, 512> Sector) {
  const std::uint16_t bytesPerSector = ReadLe16(Sector, 11);
  // Large clusters are stored as a negative power of two.
  const std::uint8_t raw = Sector[13];
  const std::uint64_t sectorsPerCluster = raw > 0x80 ? (raw < 0x80 + 0x40 ? 0 : std::uint64_t{1} << (256 - raw)) : raw;
  const std::uint64_t totalSectors = ReadLe64(Sector, 0x28);
  if (bytesPerSector == 0 || sectorsPerCluster == 0 || totalSectors > (std::uint64_t{1} << 48)) return std::nullopt;
  TVolumeSpaceFacts facts;
  facts.Total = static_cast<std::int64_t>(totalSectors / sectorsPerCluster * sectorsPerCluster * bytesPerSector);
  facts.Free = std::min(facts.Total, ReadNtfsFreeBytes(Source).value_or(0));
  return facts;
}

// The share in use the boot sector keeps; it is not known while it reads 0xFF.
std::optional<TVolumeSpaceFacts> ExFatSpace(platform::TVolumeSource& Source) {
  std::vector<std::uint8_t> region(kExFatBootRegionMax);
  region.resize(Source.Read(region.data(), kExFatBootRegionMax, 0));
  const TExFatBoot boot = ParseExFatBoot(region);
  if (!boot.Geometry) return std::nullopt;
  TVolumeSpaceFacts facts;
  facts.Total = std::int64_t{boot.Geometry->ClusterCount} * boot.Geometry->ClusterSize;
  if (boot.Geometry->PercentInUse <= 100) facts.Free = facts.Total / 100 * (100 - boot.Geometry->PercentInUse);
  return facts;
}

}  // namespace

std::optional<TVolumeSpaceFacts> ReadVolumeSpace(platform::TVolumeSource& Source, TFileSystemKind Kind) {
  std::array<std::uint8_t, kBootSectorSize> sector{};
  if (Source.Read(sector.data(), kBootSectorSize, 0) < kBootSectorSize) return std::nullopt;
  switch (Kind) {
    case TFileSystemKind::Fat12:
    case TFileSystemKind::Fat16:
    case TFileSystemKind::Fat32: return FatSpace(Source, sector, Kind);
    case TFileSystemKind::Ntfs: return NtfsSpace(Source, sector);
    case TFileSystemKind::ExFat: return ExFatSpace(Source);
    default: return std::nullopt;
  }
}

}  // namespace kestrine
