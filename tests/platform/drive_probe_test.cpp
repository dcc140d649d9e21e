#include "platform/drive_probe.h"

#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

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
