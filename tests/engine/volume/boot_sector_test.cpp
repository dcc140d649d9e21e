#include "engine/volume/boot_sector.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace kestrine {
namespace {

struct TSectorBuilder {
  std::array<std::uint8_t, kBootSectorSize> B{};
  TSectorBuilder& U8(std::size_t at, std::uint8_t v) { return B[at] = v, *this; }
  TSectorBuilder& U16(std::size_t at, std::uint16_t v) { return U8(at, v & 0xFF).U8(at + 1, v >> 8); }
  TSectorBuilder& U32(std::size_t at, std::uint32_t v) { return U16(at, v & 0xFFFF).U16(at + 2, v >> 16); }
  // A FAT boot sector with one reserved sector and two tables.
  static TSectorBuilder Fat(std::uint16_t bps, std::uint8_t spc, std::uint16_t rootEntries, std::uint32_t total,
                            std::uint32_t fatSize) {
    TSectorBuilder s;
    s.U16(11, bps).U8(13, spc).U16(14, 1).U8(16, 2).U16(17, rootEntries);
    if (total < 0x10000) s.U16(19, static_cast<std::uint16_t>(total)); else s.U32(32, total);
    if (fatSize < 0x10000 && rootEntries) s.U16(22, static_cast<std::uint16_t>(fatSize)); else s.U32(36, fatSize);
    return s;
  }
};

TEST(BootSector, WorkedFat16ExampleGivesLayoutAndKind) {
  auto s = TSectorBuilder::Fat(512, 4, 512, 20000, 20);
  const auto layout = ComputeFatLayout(ParseBpb(s.B));
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->RootDirSectors, 32u);
  EXPECT_EQ(layout->ClusterCount, 4981u);
  EXPECT_EQ(ClassifyBootSector(s.B), TFileSystemKind::Fat16);
}

TEST(BootSector, ClusterCountThresholdsSeparateTheFatKinds) {
  // One sector per cluster, no root: clusters = total - 1 reserved - 2 * fat size.
  auto kindFor = [](std::uint32_t clusters, std::uint16_t rootEntries) {
    const std::uint32_t fat = 64;
    const std::uint32_t root = (rootEntries * 32 + 511) / 512;
    return ClassifyBootSector(TSectorBuilder::Fat(512, 1, rootEntries, clusters + 1 + 2 * fat + root, fat).B);
  };
  EXPECT_EQ(kindFor(4084, 224), TFileSystemKind::Fat12);
  EXPECT_EQ(kindFor(4085, 224), TFileSystemKind::Fat16);
  EXPECT_EQ(kindFor(65524, 512), TFileSystemKind::Fat16);
  EXPECT_EQ(kindFor(65525, 0), TFileSystemKind::Fat32);
}

TEST(BootSector, NtfsIsRecognisedByEmptyFatFieldsAndItsName) {
  TSectorBuilder s;
  std::memcpy(s.B.data() + 3, "NTFS    ", 8);
  s.U16(11, 512).U8(13, 8).U32(32, 0xDEADBEEF);  // other fields do not matter
  EXPECT_EQ(ClassifyBootSector(s.B), TFileSystemKind::Ntfs);
}

TEST(BootSector, BlankOrForeignSectorIsNoFileSystem) {
  TSectorBuilder zeros;
  EXPECT_EQ(ClassifyBootSector(zeros.B), TFileSystemKind::None);
  TSectorBuilder oem;
  std::memcpy(oem.B.data() + 3, "EXFAT  ", 7);
  EXPECT_EQ(ClassifyBootSector(oem.B), TFileSystemKind::None);
}

// exFAT zeroes the FAT fields and names itself; its engine checks the rest and says what is wrong.
TEST(BootSector, ExFatNamesItself) {
  TSectorBuilder oem;
  std::memcpy(oem.B.data() + 3, "EXFAT   ", 8);
  EXPECT_EQ(ClassifyBootSector(oem.B), TFileSystemKind::ExFat);
}

// A partition table's boot code has bytes where a FAT volume keeps its geometry; sizes no FAT volume
// has make it no file system rather than a FAT volume to walk.
TEST(BootSector, SectorSizesClusterSizesAndTablesNoFatHasAreNoFileSystem) {
  TSectorBuilder mbr;  // Windows MBR boot code: 0x33 0xC0 0x8E 0xD0 0xBC 0x00 0x7C ...
  const std::uint8_t code[] = {0x33, 0xC0, 0x8E, 0xD0, 0xBC, 0x00, 0x7C, 0x8E, 0xC0, 0x8E, 0xD8, 0xBE, 0x00,
                               0x7C, 0xBF, 0x00, 0x06, 0xB9, 0x00, 0x02, 0xFC, 0xF3, 0xA4, 0x50, 0x68, 0x1C};
  std::memcpy(mbr.B.data(), code, sizeof code);
  mbr.U8(510, 0x55).U8(511, 0xAA);
  EXPECT_EQ(ParseBpb(mbr.B).BytesPerSector, 190);
  EXPECT_EQ(ClassifyBootSector(mbr.B), TFileSystemKind::None);
  for (const std::uint16_t bps : {256, 520, 1000, 8192})
    EXPECT_EQ(ClassifyBootSector(TSectorBuilder::Fat(bps, 4, 512, 20000, 20).B), TFileSystemKind::None) << bps;
  for (const std::uint8_t spc : {3, 6, 255})
    EXPECT_EQ(ClassifyBootSector(TSectorBuilder::Fat(512, spc, 512, 20000, 20).B), TFileSystemKind::None) << +spc;
  EXPECT_EQ(ClassifyBootSector(TSectorBuilder::Fat(512, 4, 512, 20000, 20).U8(16, 0).B), TFileSystemKind::None);
  // Every size FAT allows still classifies.
  for (const std::uint16_t bps : {512, 1024, 2048, 4096})
    for (const std::uint8_t spc : {1, 2, 64, 128})
      EXPECT_TRUE(IsFat(ClassifyBootSector(TSectorBuilder::Fat(bps, spc, 512, 60000, 64).B).value_or(TFileSystemKind::None)))
          << bps << " " << +spc;
}

TEST(BootSector, ZeroGeometryCannotBeClassified) {
  EXPECT_FALSE(ClassifyBootSector(TSectorBuilder::Fat(512, 0, 512, 20000, 20).B));
  EXPECT_FALSE(ClassifyBootSector(TSectorBuilder::Fat(0, 4, 512, 20000, 20).B));
}

TEST(BootSector, OverheadLargerThanVolumeIsFlaggedInconsistent) {
  const auto layout = ComputeFatLayout(ParseBpb(TSectorBuilder::Fat(512, 1, 512, 100, 200).B));
  ASSERT_TRUE(layout);
  EXPECT_FALSE(layout->Consistent);
}

}  // namespace
}  // namespace kestrine
