// The deleted-file walk over hand-made FAT12, FAT16 and FAT32 volumes.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "engine/fat/fat_records.h"
#include "engine/fat/fat_scanner.h"
#include "engine/volume/boot_sector.h"
#include "tests/engine/fat/fat_volume_builder.h"
#include "tests/support/test_support.h"

namespace kestrine {
namespace {

using test::Deleted;
using test::LongNameSlots;
using test::ShortSlot;
using test::TFatVolumeBuilder;
using test::TSlot;

constexpr std::uint8_t kFile = 0x20;
constexpr std::uint8_t kDir = 0x10;

std::map<std::string, PFileInfo> FilesByPath(const TDiskObject& Disk) {
  std::map<std::string, PFileInfo> files;
  for (PFileInfo f : Disk.Files.Snapshot()) files[test::ItemPath(f)] = f;
  return files;
}

std::vector<std::string> Paths(const std::vector<PFileInfo>& Items) {
  std::vector<std::string> paths;
  for (PFileInfo f : Items) paths.push_back(f->Parent ? test::ItemPath(f) : "<root>");
  return paths;
}

TFatScaner& ScannerOf(TDiskObject& Disk) { return dynamic_cast<TFatScaner&>(*Disk.Scanner); }

class FatScanner : public ::testing::Test {
 protected:
  test::TTempDir Dir;
};

// A FAT12 volume of 4096-byte clusters holding most of what the walk must tell apart.
TEST_F(FatScanner, ListsDeletedFilesOnlyWithTheirNamesSizesAndConditions) {
  TFatVolumeBuilder v({.Kind = TFileSystemKind::Fat12, .SectorsPerCluster = 8, .Clusters = 200});
  std::int64_t root = v.RootOffset();
  root = v.Put(root, ShortSlot("LIVE    TXT", kFile, 2, 100));
  v.SetFat(2, v.EndOfChain());
  root = v.Put(root, Deleted(ShortSlot("?REPORT TXT", kFile, 10, 5000)));
  const TSlot quarterly = ShortSlot("QUARTE~1XLS", kFile, 12, 8192);
  for (const TSlot& s : LongNameSlots(u"Quarterly figures.xls", quarterly)) root = v.Put(root, Deleted(s));
  root = v.Put(root, Deleted(quarterly));
  root = v.Put(root, TSlot{});  // a free slot ends nothing
  root = v.Put(root, Deleted(ShortSlot("?MPTY      ", kFile, 0, 0)));
  root = v.Put(root, Deleted(ShortSlot("?E123456BAK", kFile, 20, 10)));
  root = v.Put(root, Deleted(ShortSlot("?e123456bak", kFile, 21, 10)));
  // 10 000 bytes from cluster 30: 30 and 32 free, 31 in use.
  root = v.Put(root, Deleted(ShortSlot("?ONDITIO66 ", kFile, 30, 10000)));
  v.SetFat(31, v.EndOfChain());
  // Data of the live file in cluster 2 looks like a deleted entry; the root region ends before it,
  // although its last window of one cluster would reach into it.
  v.Put(v.ClusterOffset(2), Deleted(ShortSlot("?NOTROOTTXT", kFile, 40, 10)));

  const auto scan = test::ScanBuilt(v, Dir.Path());
  const TDiskObject& disk = *scan->Disk;
  const auto files = FilesByPath(disk);
  std::vector<std::string> names;
  for (const auto& [path, f] : files) names.push_back(path);
  EXPECT_EQ(names, (std::vector<std::string>{"$MPTY", "$ONDITIO.66", "$REPORT.TXT", "$e123456.bak",
                                             "Quarterly figures.xls"}));
  const PFileInfo report = files.at("$REPORT.TXT");
  EXPECT_EQ(report->Size, 5000);
  EXPECT_EQ(report->Condition, 100);
  EXPECT_EQ(report->Attributes, kFile);
  EXPECT_TRUE(report->Info<TFatEntryInfo>()->IsDeleted());
  EXPECT_EQ(report->Info<TFatEntryInfo>()->FirstCluster, 10u);
  EXPECT_NE(report->LastWriteTime, 0u);
  EXPECT_EQ(files.at("$ONDITIO.66")->Condition, 66);
  EXPECT_EQ(files.at("$MPTY")->Condition, 0);

  ASSERT_EQ(disk.Folders.Count(), 1);
  const PFileInfo rootItem = disk.Folders.Items(0);
  EXPECT_EQ(rootItem->Name, "d: ()");
  EXPECT_EQ(rootItem->Size, disk.TotalSize + 5000 + 8192 + 10 + 10000);
  // 224 entries of 32 bytes on 4096-byte clusters: two windows.
  EXPECT_EQ(rootItem->Info<TFatDirInfo>()->Entry.ClusChain.size(), 2u);
  EXPECT_EQ(rootItem->Info<TFatDirInfo>()->FileIndexes.size(), 5u);
  EXPECT_EQ(scan->Reports.Finished, 1);
}

TEST_F(FatScanner, FixedRootTakesOneWindowPerClusterOfItsRegion) {
  for (const auto& [sectors, windows] : std::vector<std::pair<std::uint8_t, std::size_t>>{{1, 14}, {4, 4}}) {
    TFatVolumeBuilder v({.Kind = TFileSystemKind::Fat12, .SectorsPerCluster = sectors});
    v.Put(v.RootOffset(), Deleted(ShortSlot("?ILE    TXT", kFile, 0, 0)));
    const auto scan = test::ScanBuilt(v, Dir.Path());
    ASSERT_EQ(scan->Disk->Folders.Count(), 1);
    EXPECT_EQ(scan->Disk->Folders.Items(0)->Info<TFatDirInfo>()->Entry.ClusChain.size(), windows);
  }
}

// root/A/B/C/deep.txt with nothing deleted before it; KEEP holds no deleted file; OLD is a deleted
// folder of recorded size 0 whose entries were not marked themselves.
TEST_F(FatScanner, PublishesFoldersRootFirstAndStoresThemDeepestFirst) {
  TFatVolumeBuilder v({.Kind = TFileSystemKind::Fat16, .SectorsPerCluster = 2});
  const std::uint32_t a = 3, b = 4, c = 5, keep = 6, old = 7;
  v.Chain({a});
  v.Chain({b});
  v.Chain({c});
  v.Chain({keep});
  std::int64_t root = v.RootOffset();
  root = v.Put(root, ShortSlot("KEEP       ", kDir, keep, 0));
  root = v.Put(root, ShortSlot("A          ", kDir, a, 0));
  root = v.Put(root, Deleted(ShortSlot("?LD        ", kDir, old, 0)));
  v.Put(v.ClusterOffset(keep), ShortSlot("STAYS   TXT", kFile, 8, 10));
  v.Put(v.ClusterOffset(a), ShortSlot("B          ", kDir, b, 0));
  v.Put(v.ClusterOffset(b), ShortSlot("C          ", kDir, c, 0));
  v.Put(v.ClusterOffset(c), Deleted(ShortSlot("?EEP    TXT", kFile, 9, 10)));
  v.Put(v.ClusterOffset(old), ShortSlot("INSIDE  TXT", kFile, 10, 20));

  const auto scan = test::ScanBuilt(v, Dir.Path());
  std::vector<std::string> order;
  for (const auto& e : scan->Reports.Events)
    order.push_back(std::string(1, e.Kind) + (e.Item ? Paths({e.Item}).front() : ""));
  EXPECT_EQ(order, (std::vector<std::string>{"D<root>", "D$LD", "F$LD/INSIDE.TXT", "DA", "DA/B", "DA/B/C",
                                             "FA/B/C/$EEP.TXT", "E"}));
  EXPECT_EQ(Paths(scan->Disk->Folders.Snapshot()), (std::vector<std::string>{"$LD", "<root>", "A/B/C", "A/B", "A"}));
  const auto files = FilesByPath(*scan->Disk);
  const PFileInfo inside = files.at("$LD/INSIDE.TXT");
  EXPECT_TRUE(inside->Info<TFatEntryInfo>()->IsDeleted());
  EXPECT_TRUE(inside->Parent->Info<TFatDirInfo>()->IsDeleted());
  EXPECT_EQ(inside->Parent->Size, 1024 + 20);  // one cluster, then the file published below it
  EXPECT_EQ(files.at("A/B/C/$EEP.TXT")->Parent->Parent->Parent->Size, 10);
  EXPECT_FALSE(files.at("A/B/C/$EEP.TXT")->Parent->Info<TFatDirInfo>()->IsDeleted());
}

// Folders whose name is gone still make a path component of their own, named by their cluster.
TEST_F(FatScanner, FoldersWithoutANameAreNamedByTheirCluster) {
  TFatVolumeBuilder v({.Kind = TFileSystemKind::Fat12});
  std::int64_t root = v.RootOffset();
  root = v.Put(root, Deleted(ShortSlot("?          ", kDir, 7, 0)));
  root = v.Put(root, Deleted(ShortSlot("           ", kDir, 8, 0)));
  root = v.Put(root, Deleted(ShortSlot("?A         ", kDir, 9, 0)));
  v.Put(v.ClusterOffset(7), ShortSlot("INSIDE  TXT", kFile, 10, 20));
  v.Put(v.ClusterOffset(8), ShortSlot("BLANK   TXT", kFile, 11, 20));
  v.Put(v.ClusterOffset(9), ShortSlot("NAMED   TXT", kFile, 12, 20));
  const auto scan = test::ScanBuilt(v, Dir.Path());
  std::vector<std::string> paths;
  for (const auto& [path, item] : FilesByPath(*scan->Disk)) paths.push_back(path);
  EXPECT_EQ(paths, (std::vector<std::string>{"$A/NAMED.TXT", "$folder_7/INSIDE.TXT", "$folder_8/BLANK.TXT"}));
}

// A FAT16 volume of 4096-byte sectors: tables, root and data lie where the sector size puts them.
TEST_F(FatScanner, FindsFilesInMultiClusterFoldersOnLargeSectors) {
  TFatVolumeBuilder v({.Kind = TFileSystemKind::Fat16, .BytesPerSector = 4096, .RootEntries = 512});
  const std::uint32_t first = 3, second = 9;
  v.Chain({first, second});
  v.Put(v.RootOffset(), ShortSlot("DOCS       ", kDir, first, 0));
  // A long name that starts at the end of the first cluster and ends in the second.
  const TSlot shortSlot = Deleted(ShortSlot("?PLIT~1 TXT", kFile, 20, 6000));
  const std::vector<TSlot> longName = LongNameSlots(u"split across clusters.txt", shortSlot);
  ASSERT_EQ(longName.size(), 2u);
  v.PutSlots(v.ClusterOffset(first) + 4096 - 64, {Deleted(longName[0]), Deleted(longName[1])});
  v.Put(v.ClusterOffset(second), shortSlot);
  v.Put(v.ClusterOffset(second) + 32, Deleted(ShortSlot("?ECOND  BIN", kFile, 22, 1)));

  const auto scan = test::ScanBuilt(v, Dir.Path());
  EXPECT_EQ(scan->Disk->FileSystem, TFileSystemKind::Fat16);
  const auto files = FilesByPath(*scan->Disk);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files.at("DOCS/split across clusters.txt")->Size, 6000);
  EXPECT_EQ(files.count("DOCS/$ECOND.BIN"), 1u);
}

TEST_F(FatScanner, ReadsTheAllocationTableOfEachForm) {
  // FAT12: cluster 2 is the low 12 bits of bytes 3..4, cluster 3 the high 12 bits of bytes 4..5;
  // cluster 341 has its entry at bytes 511..512, across two table sectors.
  TFatVolumeBuilder v12({.Kind = TFileSystemKind::Fat12, .Clusters = 2000});
  v12.SetFat(2, 0xABC);
  v12.SetFat(3, 0x123);
  v12.SetFat(341, 0x5A5);
  test::WriteFile(Dir / "fat12.img", v12.Bytes());
  TDiskObject disk12({'d', (Dir / "fat12.img").string(), "", platform::TDriveType::Fixed});
  TFatScaner& s12 = ScannerOf(disk12);
  ASSERT_TRUE(s12.Init());
  const std::vector<std::uint8_t> table(v12.Bytes().begin() + v12.FatOffset(), v12.Bytes().begin() + v12.FatOffset() + 6);
  EXPECT_EQ(table[3] | ((table[4] & 0x0F) << 8), 0xABC);
  EXPECT_EQ(s12.GetNextCluster(2), 0xABCu);
  EXPECT_EQ(s12.GetNextCluster(3), 0x123u);
  EXPECT_EQ(s12.GetNextCluster(341), 0x5A5u);
  EXPECT_EQ(s12.GetNextCluster(s12.ClusterCount + 2), s12.Codec.BadCluster);

  // FAT32: cluster 200 lies in the second table sector at offset 288; flags 0x81 choose table 1.
  for (const auto& [flags, expected] : std::vector<std::pair<std::uint16_t, std::uint32_t>>{{0x0001, 111}, {0x0081, 222}}) {
    TFatVolumeBuilder v32({.Kind = TFileSystemKind::Fat32, .ExtFlags = flags});
    v32.SetFatIn(0, 200, 111);
    v32.SetFatIn(1, 200, 222);
    std::vector<std::uint8_t>& bytes = v32.Bytes();
    EXPECT_EQ(bytes[v32.FatOffset(0) + 512 + 288], 111);
    test::WriteFile(Dir / "fat32.img", bytes);
    TDiskObject disk32({'d', (Dir / "fat32.img").string(), "", platform::TDriveType::Fixed});
    TFatScaner& s32 = ScannerOf(disk32);
    ASSERT_TRUE(s32.Init());
    EXPECT_EQ(s32.GetNextCluster(200), expected);
  }
}

TEST_F(FatScanner, ChainsEndAtMarkersFreeEntriesAndClustersPastTheVolume) {
  TFatVolumeBuilder v({.Kind = TFileSystemKind::Fat32});
  const std::vector<std::uint32_t> ends = {0x0FFFFFF8, 0x0FFFFFF7, 0x0FFFFFFF, 0, 1, v.ClusterCount() + 2, 0x0FFFFFF0};
  for (std::size_t i = 0; i < ends.size(); ++i) {
    const auto first = static_cast<std::uint32_t>(100 + 2 * i);
    v.SetFat(first, first + 1);
    v.SetFat(first + 1, ends[i]);
  }
  test::WriteFile(Dir / "fat32.img", v.Bytes());
  TDiskObject disk({'d', (Dir / "fat32.img").string(), "", platform::TDriveType::Fixed});
  TFatScaner& scanner = ScannerOf(disk);
  ASSERT_TRUE(scanner.Init());
  for (std::size_t i = 0; i < ends.size(); ++i) {
    TFatEntryInfo live;
    live.FirstCluster = static_cast<std::uint32_t>(100 + 2 * i);
    const TClusChain chain = scanner.GetFileClusChain(live, 10 * scanner.ClusterSize);
    EXPECT_EQ(chain, (TClusChain{scanner.ClusterOffset(live.FirstCluster), scanner.ClusterOffset(live.FirstCluster + 1)}))
        << std::hex << ends[i];
  }
}

TEST_F(FatScanner, StopEndsTheWalkAndStillFinishes) {
  TFatVolumeBuilder v({.Kind = TFileSystemKind::Fat12});
  std::int64_t at = v.RootOffset();
  for (int i = 0; i < 3; ++i) {
    const std::string name = "D" + std::to_string(i) + "         ";
    at = v.Put(at, ShortSlot(name.substr(0, 11), kDir, 10 + i, 0));
    v.Chain({static_cast<std::uint32_t>(10 + i)});
    v.PutSlots(v.ClusterOffset(10 + i), {Deleted(ShortSlot("?NE     TXT", kFile, 0, 0)), Deleted(ShortSlot("?WO     TXT", kFile, 0, 0))});
  }
  // Stopped on the first file found: nothing more is read, queued folders are freed (the
  // sanitizer build checks for leaks), and the end is still reported once.
  const auto stopped = test::ScanBuilt(v, Dir.Path(), [](test::TScannedDisk& s) {
    s.Reports.OnFile = [&s](PFileInfo) { s.Disk->Scanner->SetStopped(true); };
  });
  EXPECT_EQ(stopped->Disk->Files.Count(), 1);
  EXPECT_EQ(stopped->Reports.Finished, 1);
  EXPECT_EQ(stopped->Reports.Events.back().Kind, 'E');
  // A stop signalled before the scan starts does not stop it.
  const auto full = test::ScanBuilt(v, Dir.Path(), [](test::TScannedDisk& s) { s.Disk->Scanner->SetStopped(true); });
  EXPECT_EQ(full->Disk->Files.Count(), 6);
}

}  // namespace
}  // namespace kestrine
