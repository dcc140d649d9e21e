// Device identity over a sysfs and mountinfo tree of the test's own making.

#include "platform/device_identity.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>

#include "tests/support/test_support.h"

namespace kestrine::platform {
namespace {

namespace fs = std::filesystem;

void Put(const fs::path& File, const std::string& Text) {
  fs::create_directories(File.parent_path());
  std::ofstream(File) << Text << "\n";
}

std::string Number(dev_t D) { return std::to_string(major(D)) + ":" + std::to_string(minor(D)); }

// A fake /sys: devices under "devices/", "class/block/NAME" and "dev/block/MAJ:MIN" linking to them.
class DeviceIdentity : public ::testing::Test {
 protected:
  DeviceIdentity() {
    Topology.SysBlock = (Dir / "class" / "block").string();
    Topology.SysDevBlock = (Dir / "dev" / "block").string();
    Topology.MountInfo = (Dir / "mountinfo").string();
    fs::create_directories(Topology.SysBlock);
    fs::create_directories(Topology.SysDevBlock);
    Put(Topology.MountInfo, "");
  }
  // Device Name at Where (below "devices/") with number Device.
  fs::path AddDevice(const std::string& Where, dev_t Device) {
    const fs::path dir = Dir / "devices" / Where;
    Put(dir / "dev", Number(Device));
    fs::create_directory_symlink(dir, fs::path(Topology.SysBlock) / dir.filename());
    fs::create_directory_symlink(dir, fs::path(Topology.SysDevBlock) / Number(Device));
    return dir;
  }
  void AddPartition(const std::string& Where, dev_t Device) {
    Put(AddDevice(Where, Device) / "partition", "1");
  }
  void AddSlave(const fs::path& Holder, const std::string& SlaveWhere) {
    fs::create_directories(Holder / "slaves");
    fs::create_directory_symlink(Dir / "devices" / SlaveWhere, Holder / "slaves" / fs::path(SlaveWhere).filename());
  }

  test::TTempDir Dir;
  TDeviceTopology Topology;
};

TEST_F(DeviceIdentity, APartitionLiesOnItsDiskAndAMappingOnWhatItMaps) {
  const dev_t disk = makedev(8, 0), part1 = makedev(8, 1), part2 = makedev(8, 2), crypt = makedev(253, 3),
              lvm = makedev(253, 4);
  AddDevice("sda", disk);
  AddPartition("sda/sda1", part1);
  AddPartition("sda/sda2", part2);
  AddSlave(AddDevice("dm-3", crypt), "sda/sda2");
  AddSlave(AddDevice("dm-4", lvm), "dm-3");

  EXPECT_EQ(DevicesBeneath(part1, Topology), (std::vector<dev_t>{part1, disk}));
  EXPECT_EQ(DevicesBeneath(disk, Topology), (std::vector<dev_t>{disk}));
  EXPECT_EQ(DevicesBeneath(lvm, Topology), (std::vector<dev_t>{lvm, crypt, part2, disk}));
  // A device sysfs does not know is only itself.
  EXPECT_EQ(DevicesBeneath(makedev(9, 9), Topology), (std::vector<dev_t>{makedev(9, 9)}));
}

TEST_F(DeviceIdentity, SlavesThatLoopBackEndTheWalk) {
  const dev_t a = makedev(253, 0), b = makedev(253, 1);
  const fs::path da = AddDevice("dm-0", a);
  AddSlave(AddDevice("dm-1", b), "dm-0");
  AddSlave(da, "dm-1");
  EXPECT_EQ(DevicesBeneath(a, Topology), (std::vector<dev_t>{a, b}));
}

TEST_F(DeviceIdentity, AnImageIsReadThroughTheLoopDevicesThatServeIt) {
  const fs::path image = Dir / "disk.img";
  test::WriteFile(image, std::vector<std::uint8_t>(4096));
  Put(AddDevice("loop3", makedev(7, 3)) / "loop" / "backing_file", fs::canonical(image).string());
  Put(AddDevice("loop4", makedev(7, 4)) / "loop" / "backing_file", (Dir / "other.img").string());
  EXPECT_EQ(SourceDevices(image.string(), Topology), (std::vector<dev_t>{makedev(7, 3)}));
  EXPECT_TRUE(SourceDevices((Dir / "missing.img").string(), Topology).empty());

  // A split image is read from every piece, so a loop device over any of them serves it.
  test::WriteFile(Dir / "split.001", std::vector<std::uint8_t>(4096));
  test::WriteFile(Dir / "split.002", std::vector<std::uint8_t>(100));
  Put(AddDevice("loop5", makedev(7, 5)) / "loop" / "backing_file", fs::canonical(Dir / "split.002").string());
  EXPECT_EQ(SourceDevices((Dir / "split.001").string(), Topology), (std::vector<dev_t>{makedev(7, 5)}));
}

TEST_F(DeviceIdentity, DestinationOnAPartitionOfTheSourceIsOnTheSource) {
  // The image is attached as a loop device whose first partition holds the destination folder.
  const fs::path out = Dir / "out";
  fs::create_directories(out);
  const auto folder = FolderDevice(out.string(), Topology);
  ASSERT_TRUE(folder.has_value());
  const dev_t loop = makedev(7, 200);
  const fs::path image = Dir / "disk.img";
  test::WriteFile(image, std::vector<std::uint8_t>(4096));
  const fs::path loopDir = AddDevice("loop200", loop);
  Put(loopDir / "loop" / "backing_file", fs::canonical(image).string());
  AddPartition("loop200/loop200p1", *folder);

  EXPECT_TRUE(DestinationOnSource(out.string(), image.string(), Topology));
  // Not made yet: its nearest existing parent decides.
  EXPECT_TRUE(DestinationOnSource((out / "new" / "deeper").string(), image.string(), Topology));
  const fs::path other = Dir / "other.img";
  test::WriteFile(other, std::vector<std::uint8_t>(4096));
  EXPECT_FALSE(DestinationOnSource(out.string(), other.string(), Topology));
}

TEST_F(DeviceIdentity, FileSystemsWithoutADeviceOfTheirOwnAreFoundByTheirMountSource) {
  // /proc has an anonymous device number; a mount line naming a block device gives that device.
  struct stat proc {}, block {};
  ASSERT_EQ(::stat("/proc", &proc), 0);
  ASSERT_EQ(major(proc.st_dev), 0u);
  const char* node = nullptr;
  for (const char* candidate : {"/dev/loop0", "/dev/sda", "/dev/vda", "/dev/nvme0n1"})
    if (::stat(candidate, &block) == 0 && S_ISBLK(block.st_mode)) {
      node = candidate;
      break;
    }
  if (!node) GTEST_SKIP() << "no block device node to name";
  Put(Topology.MountInfo, "22 27 " + Number(proc.st_dev) + " / /proc rw,relatime - btrfs " + node + " rw");
  EXPECT_EQ(FolderDevice("/proc", Topology), block.st_rdev);
  Put(Topology.MountInfo, "22 27 " + Number(proc.st_dev) + " / /proc rw,relatime - proc proc rw");
  EXPECT_EQ(FolderDevice("/proc", Topology), proc.st_dev);
}

}  // namespace
}  // namespace kestrine::platform
