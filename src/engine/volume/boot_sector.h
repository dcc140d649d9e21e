#pragma once
// The BIOS parameter block fields that tell the file-system kind of a volume.

#include <cstdint>
#include <optional>
#include <span>

namespace kestrine {

// Kinds a disk can be; the numbers are part of every drive list.
enum class TFileSystemKind : std::uint8_t { None = 0, Fat12 = 1, Fat16 = 2, Fat32 = 3, Ntfs = 4, ExFat = 5 };

inline bool IsFat(TFileSystemKind Kind) {
  return Kind == TFileSystemKind::Fat12 || Kind == TFileSystemKind::Fat16 || Kind == TFileSystemKind::Fat32;
}
inline bool IsKnown(TFileSystemKind Kind) {
  return IsFat(Kind) || Kind == TFileSystemKind::Ntfs || Kind == TFileSystemKind::ExFat;
}

inline constexpr std::size_t kBootSectorSize = 512;

struct TBpb {
  std::uint16_t BytesPerSector = 0;
  std::uint8_t SectorsPerCluster = 0;
  std::uint16_t ReservedSectors = 0;
  std::uint8_t NumberOfFats = 0;
  std::uint16_t RootEntryCount = 0;
  std::uint16_t TotalSectors16 = 0;
  std::uint16_t FatSize16 = 0;
  std::uint32_t TotalSectors32 = 0;
  std::uint32_t FatSize32 = 0;
};

TBpb ParseBpb(std::span<const std::uint8_t, kBootSectorSize> Sector);

// FAT layout in sectors, with the unsigned 32-bit arithmetic of the classification.
struct TFatLayout {
  std::uint32_t RootDirSectors = 0;
  std::uint32_t FatSize = 0;
  std::uint32_t TotalSectors = 0;
  std::uint32_t DataSectors = 0;
  std::uint32_t ClusterCount = 0;
  // True when the reserved area, tables and root fit in the volume (no wrap in DataSectors).
  bool Consistent = false;
};
// Nil when bytes per sector or sectors per cluster is 0.
std::optional<TFatLayout> ComputeFatLayout(const TBpb& Bpb);

// Sector and cluster sizes FAT allows: a power of two from 512 to 4096 bytes per sector, a power of
// two sectors per cluster.
bool IsFatSectorGeometry(const TBpb& Bpb);

// The kind of volume a boot sector starts. Nil when the sector looks like a FAT boot sector whose
// geometry cannot be computed: such a drive cannot be made into a disk object. A sector whose
// sector size, cluster size or table count no FAT volume has is None.
std::optional<TFileSystemKind> ClassifyBootSector(std::span<const std::uint8_t, kBootSectorSize> Sector);

}  // namespace kestrine
