#include "engine/volume/boot_sector.h"

#include <algorithm>
#include <bit>
#include <string_view>

#include "engine/volume/byte_order.h"

namespace kestrine {

TBpb ParseBpb(std::span<const std::uint8_t, kBootSectorSize> Sector) {
  TBpb b;
  b.BytesPerSector = ReadLe16(Sector, 11);
  b.SectorsPerCluster = Sector[13];
  b.ReservedSectors = ReadLe16(Sector, 14);
  b.NumberOfFats = Sector[16];
  b.RootEntryCount = ReadLe16(Sector, 17);
  b.TotalSectors16 = ReadLe16(Sector, 19);
  b.FatSize16 = ReadLe16(Sector, 22);
  b.TotalSectors32 = ReadLe32(Sector, 32);
  b.FatSize32 = ReadLe32(Sector, 36);
  return b;
}

std::optional<TFatLayout> ComputeFatLayout(const TBpb& Bpb) {
  if (Bpb.BytesPerSector == 0 || Bpb.SectorsPerCluster == 0) return std::nullopt;
  TFatLayout l;
  l.RootDirSectors = (static_cast<std::uint32_t>(Bpb.RootEntryCount) * 32 + Bpb.BytesPerSector - 1) / Bpb.BytesPerSector;
  l.FatSize = Bpb.FatSize16 != 0 ? Bpb.FatSize16 : Bpb.FatSize32;
  l.TotalSectors = Bpb.TotalSectors16 != 0 ? Bpb.TotalSectors16 : Bpb.TotalSectors32;
  const std::uint64_t overhead =
      std::uint64_t{Bpb.ReservedSectors} + std::uint64_t{Bpb.NumberOfFats} * l.FatSize + l.RootDirSectors;
  l.Consistent = overhead <= l.TotalSectors;
  l.DataSectors = l.TotalSectors - static_cast<std::uint32_t>(overhead);
  l.ClusterCount = l.DataSectors / Bpb.SectorsPerCluster;
  return l;
}

bool IsFatSectorGeometry(const TBpb& Bpb) {
  return Bpb.BytesPerSector >= 512 && Bpb.BytesPerSector <= 4096 && std::has_single_bit(Bpb.BytesPerSector) &&
         std::has_single_bit(Bpb.SectorsPerCluster);
}

std::optional<TFileSystemKind> ClassifyBootSector(std::span<const std::uint8_t, kBootSectorSize> Sector) {
  const bool noFatFields = Sector[16] == 0 && Sector[17] == 0 && Sector[18] == 0 && ReadLe16(Sector, 22) == 0;
  if (noFatFields) {
    // Zero FAT fields alone also describe a blank or foreign volume; NTFS and exFAT always name
    // themselves. Whether an exFAT volume can be walked is its engine's to say, with the reason.
    const auto named = [&](std::string_view Name) { return std::equal(Name.begin(), Name.end(), Sector.begin() + 3); };
    if (named("NTFS    ")) return TFileSystemKind::Ntfs;
    if (named("EXFAT   ")) return TFileSystemKind::ExFat;
    return TFileSystemKind::None;
  }
  const TBpb bpb = ParseBpb(Sector);
  const auto layout = ComputeFatLayout(bpb);
  if (!layout) return std::nullopt;
  // What no FAT volume has: such a sector (a partition table's boot code, say) starts no FAT volume.
  if (!IsFatSectorGeometry(bpb) || bpb.NumberOfFats == 0) return TFileSystemKind::None;
  if (layout->ClusterCount < 4085) return TFileSystemKind::Fat12;
  if (layout->ClusterCount < 65525) return TFileSystemKind::Fat16;
  return TFileSystemKind::Fat32;
}

}  // namespace kestrine
