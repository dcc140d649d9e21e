#include "tests/engine/fat/fat_volume_builder.h"

#include <algorithm>
#include <cstring>

#include "engine/fat/fat_table.h"
#include "engine/volume/boot_sector.h"
#include "engine/volume/disk_scanner.h"
#include "tests/support/test_support.h"

namespace kestrine::test {

TSlot ShortSlot(std::string_view Name83, std::uint8_t Attributes, std::uint32_t FirstCluster, std::uint32_t Size) {
  TSlot s{};
  std::memset(s.data(), ' ', 11);
  std::memcpy(s.data(), Name83.data(), std::min<std::size_t>(11, Name83.size()));
  s[11] = Attributes;
  const std::uint16_t time = (10 << 11) | (30 << 5) | 15;    // 10:30:30
  const std::uint16_t date = ((2024 - 1980) << 9) | (3 << 5) | 14;  // 2024-03-14
  std::vector<std::uint8_t> v(s.begin(), s.end());
  PutLe16(v, 14, time);
  PutLe16(v, 16, date);
  PutLe16(v, 20, static_cast<std::uint16_t>(FirstCluster >> 16));
  PutLe16(v, 22, time);
  PutLe16(v, 24, date);
  PutLe16(v, 26, static_cast<std::uint16_t>(FirstCluster & 0xFFFF));
  PutLe32(v, 28, Size);
  std::copy(v.begin(), v.end(), s.begin());
  return s;
}

TSlot Deleted(TSlot Slot) {
  Slot[0] = 0xE5;
  return Slot;
}

std::vector<TSlot> LongNameSlots(std::u16string_view Name, const TSlot& Short) {
  std::uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + Short[i]);
  static constexpr int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  const std::size_t parts = (Name.size() + 12) / 13;
  std::vector<TSlot> slots;
  for (std::size_t p = parts; p > 0; --p) {
    std::vector<std::uint8_t> v(32, 0);
    v[0] = static_cast<std::uint8_t>(p | (p == parts ? 0x40 : 0));
    v[11] = 0x0F;
    v[13] = sum;
    for (int i = 0; i < 13; ++i) {
      const std::size_t at = (p - 1) * 13 + i;
      const std::uint16_t unit = at < Name.size() ? Name[at] : at == Name.size() ? 0 : 0xFFFF;
      PutLe16(v, kOffsets[i], unit);
    }
    TSlot s;
    std::copy(v.begin(), v.end(), s.begin());
    slots.push_back(s);
  }
  return slots;
}

TFatVolumeBuilder::TFatVolumeBuilder(const TFatShape& Shape) : FShape(Shape) {
  const bool fat32 = Shape.Kind == TFileSystemKind::Fat32;
  if (fat32) FShape.RootEntries = 0;
  FClusterCount = Shape.Clusters ? Shape.Clusters
                  : Shape.Kind == TFileSystemKind::Fat12 ? 100
                  : Shape.Kind == TFileSystemKind::Fat16 ? 4100
                                                        : 65540;
  FClusterSize = std::uint32_t{Shape.BytesPerSector} * Shape.SectorsPerCluster;
  const TFatEntryCodec& codec = FatEntryCodec(Shape.Kind);
  const std::uint64_t tableBytes = (std::uint64_t{FClusterCount} + 2) * codec.EntryBits / 8 + 1;
  FFatSectors = static_cast<std::uint32_t>((tableBytes + Shape.BytesPerSector - 1) / Shape.BytesPerSector);
  const std::uint16_t reserved = fat32 ? 8 : 1;
  const std::uint32_t rootSectors = (FShape.RootEntries * 32u + Shape.BytesPerSector - 1) / Shape.BytesPerSector;
  const std::uint32_t total = reserved + Shape.Fats * FFatSectors + rootSectors + FClusterCount * Shape.SectorsPerCluster;

  Grow(ClusterOffset(2));
  std::vector<std::uint8_t>& b = FBytes;
  b[0] = 0xEB, b[1] = 0x3C, b[2] = 0x90;
  std::memcpy(&b[3], "MSWIN4.1", 8);
  PutLe16(b, 11, Shape.BytesPerSector);
  b[13] = Shape.SectorsPerCluster;
  PutLe16(b, 14, reserved);
  b[16] = Shape.Fats;
  PutLe16(b, 17, FShape.RootEntries);
  if (!fat32 && total < 0x10000) PutLe16(b, 19, static_cast<std::uint16_t>(total));
  else PutLe32(b, 32, total);
  b[21] = 0xF8;
  if (fat32) {
    PutLe32(b, 36, FFatSectors);
    PutLe16(b, 40, Shape.ExtFlags);
    PutLe32(b, 44, 2);
    b[66] = 0x29;
    std::memcpy(&b[71], "NO NAME    FAT32   ", 19);
  } else {
    PutLe16(b, 22, static_cast<std::uint16_t>(FFatSectors));
    b[38] = 0x29;
    std::memcpy(&b[43], Shape.Kind == TFileSystemKind::Fat12 ? "NO NAME    FAT12   " : "NO NAME    FAT16   ", 19);
  }
  b[510] = 0x55, b[511] = 0xAA;
  SetFat(0, codec.EndOfChain & 0xFFFFFFF8);
  SetFat(1, codec.EndOfChain);
  if (fat32) SetFat(2, codec.EndOfChain);
}

std::int64_t TFatVolumeBuilder::FatOffset(int Table) const {
  const std::int64_t reserved = FShape.Kind == TFileSystemKind::Fat32 ? 8 : 1;
  return (reserved + std::int64_t{Table} * FFatSectors) * FShape.BytesPerSector;
}

std::int64_t TFatVolumeBuilder::RootOffset() const { return FatOffset(FShape.Fats); }

std::int64_t TFatVolumeBuilder::ClusterOffset(std::uint32_t Cluster) const {
  const std::int64_t rootBytes = (FShape.RootEntries * 32 + FShape.BytesPerSector - 1) / FShape.BytesPerSector *
                                 std::int64_t{FShape.BytesPerSector};
  return RootOffset() + rootBytes + std::int64_t{Cluster - 2} * FClusterSize;
}

std::uint32_t TFatVolumeBuilder::EndOfChain() const { return FatEntryCodec(FShape.Kind).EndOfChain; }

// Whole clusters: a directory window past the end of the image would not be read.
void TFatVolumeBuilder::Grow(std::int64_t End) {
  const std::int64_t data = ClusterOffset(2);
  if (End > data) End = data + (End - data + FClusterSize - 1) / FClusterSize * FClusterSize;
  if (End > static_cast<std::int64_t>(FBytes.size())) FBytes.resize(static_cast<std::size_t>(End));
}

void TFatVolumeBuilder::SetFatIn(int Table, std::uint32_t Cluster, std::uint32_t Value) {
  const TFatEntryCodec& codec = FatEntryCodec(FShape.Kind);
  const auto at = static_cast<std::size_t>(FatOffset(Table) + static_cast<std::int64_t>(codec.ByteOffset(Cluster)));
  Grow(static_cast<std::int64_t>(at) + 4);
  if (codec.EntryBits == 12) {
    const std::uint16_t old = static_cast<std::uint16_t>(FBytes[at] | (FBytes[at + 1] << 8));
    const std::uint16_t v = (Cluster & 1) ? static_cast<std::uint16_t>((old & 0x000F) | (Value << 4))
                                          : static_cast<std::uint16_t>((old & 0xF000) | (Value & 0x0FFF));
    PutLe16(FBytes, at, v);
  } else if (codec.EntryBits == 16) {
    PutLe16(FBytes, at, static_cast<std::uint16_t>(Value));
  } else {
    PutLe32(FBytes, at, Value);
  }
}

void TFatVolumeBuilder::SetFat(std::uint32_t Cluster, std::uint32_t Value) {
  for (int t = 0; t < FShape.Fats; ++t) SetFatIn(t, Cluster, Value);
}

void TFatVolumeBuilder::Chain(const std::vector<std::uint32_t>& Clusters) {
  for (std::size_t i = 0; i < Clusters.size(); ++i)
    SetFat(Clusters[i], i + 1 < Clusters.size() ? Clusters[i + 1] : EndOfChain());
}

void TFatVolumeBuilder::PutBytes(std::int64_t Offset, const std::vector<std::uint8_t>& Bytes) {
  Grow(Offset + static_cast<std::int64_t>(Bytes.size()));
  std::copy(Bytes.begin(), Bytes.end(), FBytes.begin() + Offset);
}

void TFatVolumeBuilder::PutSlots(std::int64_t Offset, const std::vector<TSlot>& Slots) {
  for (const TSlot& s : Slots) Offset = Put(Offset, s);
}

std::int64_t TFatVolumeBuilder::Put(std::int64_t Offset, const TSlot& Slot) {
  PutBytes(Offset, std::vector<std::uint8_t>(Slot.begin(), Slot.end()));
  return Offset + 32;
}

void TRecordedReports::FolderAdded(TDiskObject*, PFileInfo Info) {
  Events.push_back({'D', Info});
}

void TRecordedReports::FileAdded(TDiskObject*, PFileInfo Info) {
  Events.push_back({'F', Info});
  if (OnFile) OnFile(Info);
}

void TRecordedReports::ScanFinished(TDiskObject*) {
  Events.push_back({'E', nullptr});
  ++Finished;
}

std::unique_ptr<TScannedDisk> ScanImage(const std::filesystem::path& Image,
                                        const std::function<void(TScannedDisk&)>& Prepare) {
  auto scanned = std::make_unique<TScannedDisk>();
  scanned->Disk = std::make_unique<TDiskObject>(
      platform::TDriveSpec{'d', Image.string(), "", platform::TDriveType::Fixed}, &scanned->Reports);
  if (Prepare) Prepare(*scanned);
  if (scanned->Disk->Scanner) scanned->Disk->Scanner->ScanForFiles();
  return scanned;
}

std::unique_ptr<TScannedDisk> ScanBuilt(TFatVolumeBuilder& Volume, const std::filesystem::path& Dir,
                                        const std::function<void(TScannedDisk&)>& Prepare) {
  const auto image = Dir / "volume.img";
  WriteFile(image, Volume.Bytes());
  return ScanImage(image, Prepare);
}

std::string ItemPath(const TFileInfo* Item) {
  std::string path = Item->Name;
  for (const TFileInfo* f = Item->Parent; f && f->Parent; f = f->Parent) path = f->Name + "/" + path;
  return path;
}

}  // namespace kestrine::test
