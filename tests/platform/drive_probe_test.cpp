#include "platform/drive_probe.h"

#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "platform/volume_source.h"
#include "tests/support/test_support.h"

namespace kestrine::platform {
namespace {

TEST(DriveMap, KeepsGoodEntriesAndNamesTheBadOnes) {
  test::TTempDir dir;
  test::WriteFile(dir / "a.img", std::vector<std::uint8_t>(512));
  const std::string img = (dir / "a.img").string();
  const auto result = ParseDriveMap("D=" + img + "; e = " + img + ";;x;1=/y;f=" + img + ";g=/no/such.img;d=" + img);
  ASSERT_EQ(result.Drives.size(), 3u);
  EXPECT_EQ(result.Drives[0].Letter, 'd');
  EXPECT_EQ(result.Drives[1].Letter, 'e');
  EXPECT_EQ(result.Drives[1].Source, img);
  EXPECT_EQ(result.Drives[2].Letter, 'f');
  ASSERT_EQ(result.Errors.size(), 4u);
  EXPECT_NE(result.Errors[0].find("\"x\""), std::string::npos);
  EXPECT_NE(result.Errors[1].find("\"1=/y\""), std::string::npos);
  EXPECT_NE(result.Errors[2].find("g=/no/such.img"), std::string::npos);
  EXPECT_NE(result.Errors[3].find("mapped twice"), std::string::npos);
  EXPECT_TRUE(ParseDriveMap("").Drives.empty());
}

// An MBR entry: type, first sector and sector count.
void PutEntry(std::vector<std::uint8_t>& Disk, std::size_t Sector, int Index, std::uint8_t Type, std::uint32_t Start,
              std::uint32_t Count) {
  std::uint8_t* e = Disk.data() + Sector * 512 + 0x1BE + Index * 16;
  e[4] = Type;
  for (int i = 0; i < 4; ++i) {
    e[8 + i] = static_cast<std::uint8_t>(Start >> (8 * i));
    e[12 + i] = static_cast<std::uint8_t>(Count >> (8 * i));
  }
  Disk[Sector * 512 + 510] = 0x55;
  Disk[Sector * 512 + 511] = 0xAA;
}

TEST(DriveProbe, PartitionTablesListPrimaryAndLogicalEntriesClippedToTheImage) {
  test::TTempDir dir;
  std::vector<std::uint8_t> disk(10240 * 512);
  PutEntry(disk, 0, 0, 0x0C, 2048, 2048);
  PutEntry(disk, 0, 1, 0x05, 4096, 4096);     // extended: its container is no entry
  PutEntry(disk, 0, 2, 0x07, 8192, 100000);   // runs past the end of the image
  PutEntry(disk, 4096, 0, 0x06, 63, 1000);    // the first logical, relative to its EBR
  test::WriteFile(dir / "disk.img", disk);
  auto source = TVolumeSource::Open((dir / "disk.img").string());
  ASSERT_TRUE(source);
  const auto parts = ListPartitions(*source);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].Number, 1);
  EXPECT_EQ(parts[0].Offset, 2048 * 512);
  EXPECT_EQ(parts[0].Length, 2048 * 512);
  EXPECT_FALSE(parts[0].Clipped);
  EXPECT_EQ(parts[1].Number, 3);
  EXPECT_EQ(parts[1].Offset, 8192 * 512);
  EXPECT_EQ(parts[1].Length, 2048 * 512);
  EXPECT_TRUE(parts[1].Clipped);
  EXPECT_EQ(parts[2].Number, 5);
  EXPECT_EQ(parts[2].Offset, (4096 + 63) * 512);
  EXPECT_EQ(parts[2].Length, 1000 * 512);

  // A volume without a table, and a partition seen on its own, hold no entries.
  test::WriteFile(dir / "plain.img", std::vector<std::uint8_t>(1 << 20));
  auto plain = TVolumeSource::Open((dir / "plain.img").string());
  ASSERT_TRUE(plain);
  EXPECT_TRUE(ListPartitions(*plain).empty());
  auto first = TVolumeSource::Open((dir / "disk.img").string(), parts[0].Offset, parts[0].Length);
  ASSERT_TRUE(first);
  EXPECT_TRUE(ListPartitions(*first).empty());
}

TEST(DriveProbe, DevicesAreOrderedAsPeopleCountThem) {
  std::vector<std::string> names = {"sda10", "sdb", "loop2", "sda2", "loop10", "sda", "nvme0n1p2", "nvme0n1p10"};
  std::sort(names.begin(), names.end(), DeviceOrderLess);
  EXPECT_EQ(names, (std::vector<std::string>{"loop2", "loop10", "nvme0n1p2", "nvme0n1p10", "sda", "sda2", "sda10",
                                             "sdb"}));
}

TEST(DriveProbe, MountPointComesFromMountInfoWithEscapes) {
  test::TTempDir dir;
  std::ofstream(dir / "mountinfo") << "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
                                      "30 27 8:17 /sub /bind rw - vfat /dev/sdb1 rw\n"
                                      "31 27 8:17 / /media/My\\040Stick rw - vfat /dev/sdb1 rw\n";
  const std::string info = (dir / "mountinfo").string();
  EXPECT_EQ(FindMountPoint(makedev(8, 17), info), "/media/My Stick");
  EXPECT_EQ(FindMountPoint(makedev(8, 18), info), "");
  EXPECT_EQ(FindMountPoint(makedev(8, 17), (dir / "none").string()), "");
}

TEST(DriveProbe, OnlyRemovableFixedAndRamDisksAreRecoverable) {
  EXPECT_TRUE(IsRecoverableDriveType(TDriveType::Removable));
  EXPECT_TRUE(IsRecoverableDriveType(TDriveType::Fixed));
  EXPECT_TRUE(IsRecoverableDriveType(TDriveType::RamDisk));
  EXPECT_FALSE(IsRecoverableDriveType(TDriveType::CdRom));
  EXPECT_FALSE(IsRecoverableDriveType(TDriveType::Remote));
  EXPECT_FALSE(IsRecoverableDriveType(TDriveType::Unknown));
}

}  // namespace
}  // namespace kestrine::platform
