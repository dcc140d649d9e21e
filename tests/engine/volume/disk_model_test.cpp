// Disk objects, the disk list and the recovery manager over hand-made volume images.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>

#include "engine/volume/boot_sector.h"
#include "engine/volume/disk_scanner.h"
#include "engine/volume/recovery_manager.h"
#include "tests/support/test_support.h"
#include "support/debug_log.h"
#include "workflow/workflow.h"

namespace kestrine {
namespace {

using test::PutLe16;
using test::PutLe32;

// A FAT16 volume: 512-byte sectors, 4 per cluster, 2 tables of 20 sectors, 512 root entries.
std::vector<std::uint8_t> Fat16Image(std::uint8_t SectorsPerCluster = 4) {
  std::vector<std::uint8_t> img(20000 * 512ull / 8);  // the data area need not exist for these tests
  PutLe16(img, 11, 512);
  img[13] = SectorsPerCluster;
  PutLe16(img, 14, 1);
  img[16] = 2;
  PutLe16(img, 17, 512);
  PutLe16(img, 19, 20000);
  PutLe16(img, 22, 20);
  // Clusters 2 and 3 in use (one chain), the rest free.
  PutLe16(img, 512 + 0, 0xFFF8);
  PutLe16(img, 512 + 2, 0xFFFF);
  PutLe16(img, 512 + 4, 3);
  PutLe16(img, 512 + 6, 0xFFFF);
  return img;
}

struct TRecordingReports final : TScanReports {
  std::mutex M;
  std::condition_variable Cv;
  int Finished = 0;
  void FolderAdded(TDiskObject*, PFileInfo) override {}
  void FileAdded(TDiskObject*, PFileInfo) override {}
  void ScanProgress(TDiskObject*, std::int64_t, std::int64_t) override {}
  void ScanFinished(TDiskObject*) override {
    std::lock_guard l(M);
    ++Finished;
    Cv.notify_all();
  }
};

class DiskModel : public ::testing::Test {
 protected:
  test::TTempDir Dir;
  std::string Image(const std::string& Name, const std::vector<std::uint8_t>& Bytes) {
    const auto path = Dir / Name;
    test::WriteFile(path, Bytes);
    return path.string();
  }
  static platform::TDriveSpec Spec(char Letter, const std::string& Path,
                                   platform::TDriveType Type = platform::TDriveType::Fixed) {
    return {Letter, Path, "", Type};
  }
};

TEST_F(DiskModel, UnmountedFatVolumeReportsKindAndItsOwnSpace) {
  TDiskObject disk(Spec('d', Image("fat16.img", Fat16Image())));
  EXPECT_EQ(disk.FileSystem, TFileSystemKind::Fat16);
  EXPECT_EQ(disk.TotalSize, 4981ll * 2048);
  EXPECT_EQ(disk.FreeSize, 4979ll * 2048);
}

TEST_F(DiskModel, UnreadableOrShortSourceIsListedWithNothingKnown) {
  TDiskList list({{Spec('a', (Dir / "missing.img").string()), Spec('b', Image("short.img", {1, 2, 3}))}, {}});
  ASSERT_EQ(list.DiskCount(), 2);
  for (int i = 0; i < 2; ++i) {
    const TDiskObject* d = list.GetDisk(i);
    EXPECT_EQ(d->FileSystem, TFileSystemKind::None);
    EXPECT_EQ(d->TotalSize, 0);
    EXPECT_EQ(d->FreeSize, 0);
    EXPECT_TRUE(d->VolumeLabel.empty());
    EXPECT_EQ(d->Scanner, nullptr);
  }
}

TEST_F(DiskModel, ZeroSectorsPerClusterDropsTheDriveWithItsLogLine) {
  SetLogFileName((Dir / "debug.log").string());
  TDiskList list({{Spec('e', Image("bad.img", Fat16Image(0))), Spec('f', Image("good.img", Fat16Image()))}, {}});
  SetLogFileName({});
  ASSERT_EQ(list.DiskCount(), 1);
  EXPECT_EQ(list.GetDisk(0)->Letter, 'f');
  ASSERT_EQ(list.Errors().size(), 1u);
  EXPECT_NE(list.Errors()[0].find("e="), std::string::npos);
  const auto log = test::ReadFile(Dir / "debug.log");
  const std::string text(log.begin(), log.end());
  EXPECT_NE(text.find("DiskList.FillDiskListItems: unable to create DiskObject; Disk = e\r\n"), std::string::npos);
}

TEST_F(DiskModel, ListKeepsRecoverableTypesInLetterOrder) {
  const std::string img = Image("v.img", Fat16Image());
  TDiskList list({{Spec('z', img), Spec('d', img, platform::TDriveType::CdRom), Spec('c', img),
                   Spec('y', img, platform::TDriveType::Remote), Spec('a', img, platform::TDriveType::Removable),
                   Spec('r', img, platform::TDriveType::RamDisk)},
                  {}});
  std::string letters;
  for (int i = 0; i < list.DiskCount(); ++i) letters += list.GetDisk(i)->Letter;
  EXPECT_EQ(letters, "acrz");
  EXPECT_EQ(list.GetDisk(-1), nullptr);
  EXPECT_EQ(list.GetDisk(list.DiskCount()), nullptr);
}

TEST_F(DiskModel, DiscoveredDevicesTakeTheLettersTheMapLeftFree) {
  TDriveListing listing{{Spec('c', "/x"), Spec('e', "/y")}, {}};
  AssignFreeLetters(listing, {{"sda1", "/dev/sda1", platform::TDriveType::Fixed, 0},
                              {"sdb", "/dev/sdb", platform::TDriveType::Removable, 0}});
  ASSERT_EQ(listing.Drives.size(), 4u);
  EXPECT_EQ(listing.Drives[2].Letter, 'd');
  EXPECT_EQ(listing.Drives[2].Source, "/dev/sda1");
  EXPECT_EQ(listing.Drives[3].Letter, 'f');
  EXPECT_EQ(listing.Drives[3].Type, platform::TDriveType::Removable);

  // A device the map names already is not listed a second time.
  TDriveListing mapped{{Spec('x', "/dev/loop7")}, {}};
  AssignFreeLetters(mapped, {{"loop7", "/dev/loop7", platform::TDriveType::Fixed, 0},
                             {"sdb", "/dev/sdb", platform::TDriveType::Fixed, 0}});
  ASSERT_EQ(mapped.Drives.size(), 2u);
  EXPECT_EQ(mapped.Drives[1].Letter, 'c');
  EXPECT_EQ(mapped.Drives[1].Source, "/dev/sdb");
}

TEST_F(DiskModel, ManagerFindsDisksByLetterInEitherCase) {
  const std::string img = Image("v.img", Fat16Image());
  TRecoveryManager manager({{Spec('c', img), Spec('d', img)}, {}});
  ASSERT_NE(manager.FindDisk('C'), nullptr);
  EXPECT_EQ(manager.FindDisk('C'), manager.FindDisk('c'));
  EXPECT_NE(manager.FindDisk('c'), manager.FindDisk('d'));  // one image, two independent disks
  EXPECT_EQ(manager.FindDisk('q'), nullptr);
  manager.StopScan('q');  // not listed: nothing happens
}

TEST_F(DiskModel, ScanOfDiskWithoutScannerEndsAtOnceWithItsFinishReport) {
  TRecoveryManager manager({{Spec('c', Image("zero.img", std::vector<std::uint8_t>(4096)))}, {}});
  TRecordingReports reports;
  TWorkflowConnection workflow(manager, reports);
  TDiskObject* disk = manager.FindDisk('c');
  ASSERT_NE(disk, nullptr);
  ASSERT_EQ(disk->Scanner, nullptr);
  auto thread = manager.StartScan(disk);
  ASSERT_NE(thread, nullptr);
  thread->WaitFor();
  EXPECT_TRUE(thread->Finished());
  EXPECT_EQ(reports.Finished, 1);
  EXPECT_EQ(manager.StartScan(nullptr), nullptr);
}

TEST_F(DiskModel, NoStreamWithoutDiskOrForKindWithoutEngine) {
  TRecoveryManager manager({{Spec('c', Image("zero.img", std::vector<std::uint8_t>(4096)))}, {}});
  TFileInfo orphan;
  EXPECT_EQ(manager.CreateStream(&orphan), nullptr);
  TFileInfo item;
  item.Disk = manager.FindDisk('c');
  EXPECT_EQ(manager.CreateStream(&item), nullptr);
  EXPECT_EQ(manager.RecoverItems(TDiskItems()), nullptr);
}

// A scanner that publishes a hand-made tree, for the base class's bookkeeping.
class TTreeScanner final : public TDiskScaner {
 public:
  using TDiskScaner::TDiskScaner;
  PFileInfo Add(const char* Name, PFileInfo Parent, std::int64_t Size, bool Folder) {
    PFileInfo item = NewItem();
    item->Name = Name;
    item->Parent = Parent;
    item->Size = Size;
    (Folder ? Disk->Folders : Disk->Files).Add(item);
    Folder ? NotifyFolderAdded(item) : NotifyFileAdded(item);
    return item;
  }
};

TEST_F(DiskModel, PublishedFileGrowsEveryFolderAboveIt) {
  TDiskObject disk(Spec('c', Image("zero.img", std::vector<std::uint8_t>(4096))));
  TTreeScanner scanner(&disk);
  PFileInfo root = scanner.Add("c: ()", nullptr, 1000, true);
  PFileInfo a = scanner.Add("a", root, 0, true);
  PFileInfo b = scanner.Add("b", a, 0, true);
  PFileInfo c = scanner.Add("c", b, 0, true);
  PFileInfo f = scanner.Add("f.txt", c, 10, false);
  EXPECT_EQ(root->Size, 1010);
  EXPECT_EQ(a->Size, 10);
  EXPECT_EQ(b->Size, 10);
  EXPECT_EQ(c->Size, 10);
  EXPECT_EQ(f->Disk, &disk);
  EXPECT_FALSE(f->IsFolder);
  EXPECT_TRUE(c->IsFolder);
  EXPECT_FALSE(f->Checked);
  EXPECT_EQ(f->TreeNode.load(), nullptr);

  // A selection list never owns its records.
  { TDiskItems selection = disk.Files; }
  EXPECT_EQ(disk.Files.Items(0)->Name, "f.txt");
  scanner.FreeAllItems();
  EXPECT_EQ(disk.Files.Count(), 0);
  EXPECT_EQ(disk.Folders.Count(), 0);
}

TEST_F(DiskModel, StopSignalsAreIndependentAndResetByEveryScan) {
  TDiskObject disk(Spec('c', Image("zero.img", std::vector<std::uint8_t>(4096))));
  TTreeScanner one(&disk), two(&disk);
  one.SetStopped(true);
  EXPECT_TRUE(one.Stopped());
  EXPECT_FALSE(two.Stopped());
  one.ScanForFiles();  // a stop signalled before a scan starts has no effect on it
  EXPECT_FALSE(one.Stopped());
  one.SetStopped(true);
  EXPECT_TRUE(one.Init());
  EXPECT_FALSE(one.Stopped());
}

}  // namespace
}  // namespace kestrine
