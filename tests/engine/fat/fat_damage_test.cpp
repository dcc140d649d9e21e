// Damaged FAT volumes: every scan ends, with bounded results and no fault under the sanitizers.

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "engine/fat/fat_records.h"
#include "engine/fat/fat_scanner.h"
#include "engine/volume/boot_sector.h"
#include "engine/volume/scanner_factory.h"
#include "engine/volume/recovery_stream.h"
#include "tests/engine/fat/fat_volume_builder.h"
#include "tests/support/test_support.h"

namespace kestrine {
namespace {

using test::Deleted;
using test::ShortSlot;
using test::TFatVolumeBuilder;

constexpr std::uint8_t kFile = 0x20;
constexpr std::uint8_t kDir = 0x10;

std::multiset<std::string> FilePaths(const TDiskObject& Disk) {
  std::multiset<std::string> paths;
  for (PFileInfo f : Disk.Files.Snapshot()) paths.insert(test::ItemPath(f));
  return paths;
}

// What every scan must leave, however damaged its volume: one end report, results no larger than the
// slots the volume holds, and streams that read no more than their files' sizes.
void ExpectSaneResult(test::TScannedDisk& Scan, std::size_t ImageBytes) {
  EXPECT_EQ(Scan.Reports.Finished, 1);
  TDiskObject& disk = *Scan.Disk;
  const auto slots = static_cast<int>(ImageBytes / 32);
  EXPECT_LE(disk.Files.Count(), slots);
  EXPECT_LE(disk.Folders.Count(), slots + 1);
  std::vector<std::uint8_t> buffer(64 * 1024);
  int streams = 0;
  for (PFileInfo f : disk.Files.Snapshot()) {
    EXPECT_GE(f->Condition, 0);
    EXPECT_LE(f->Condition, 100);
    if (++streams > 20) break;
    auto stream = CreateStreamForKind(&disk, disk.FileSystem, f, "");
    ASSERT_NE(stream, nullptr);
    std::int64_t total = 0;
    while (const std::uint32_t n = stream->Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()))) total += n;
    EXPECT_LE(total, f->Size.load());
  }
}

class FatDamage : public ::testing::Test {
 protected:
  test::TTempDir Dir;
};

TEST_F(FatDamage, LoopingChainsAndFoldersThatPointBackAreReadOnce) {
  TFatVolumeBuilder v({.Kind = TFileSystemKind::Fat32});
  const std::uint32_t a = 3, a2 = 4, sub = 5;
  v.SetFat(a, a2);
  v.SetFat(a2, a);  // A's chain loops
  v.Chain({sub});
  v.Put(v.ClusterOffset(2), ShortSlot("A          ", kDir, a, 0));
  v.Put(v.ClusterOffset(2) + 32, ShortSlot("ROOTAGAIN  ", kDir, 2, 0));  // points at the root
  v.PutSlots(v.ClusterOffset(a), {ShortSlot("SUB        ", kDir, sub, 0), Deleted(ShortSlot("?IRST   TXT", kFile, 0, 0))});
  v.Put(v.ClusterOffset(a2), Deleted(ShortSlot("?ECOND  TXT", kFile, 0, 0)));
  // SUB points at A, its own parent, and at itself.
  v.PutSlots(v.ClusterOffset(sub), {ShortSlot("PARENT     ", kDir, a, 0), ShortSlot("SELF       ", kDir, sub, 0),
                                    Deleted(ShortSlot("?HIRD   TXT", kFile, 0, 0))});
  const auto scan = test::ScanBuilt(v, Dir.Path());
  EXPECT_EQ(FilePaths(*scan->Disk), (std::multiset<std::string>{"A/$IRST.TXT", "A/$ECOND.TXT", "A/SUB/$HIRD.TXT"}));
  ExpectSaneResult(*scan, v.Bytes().size());
}

// A deleted folder whose first cluster now belongs to a live folder reads nothing: the live
// folder's deleted files keep their own path.
TEST_F(FatDamage, ReusedClusterOfADeletedFolderBelongsToItsNewOwner) {
  TFatVolumeBuilder v({.Kind = TFileSystemKind::Fat12});
  v.Chain({5});
  v.PutSlots(v.RootOffset(), {Deleted(ShortSlot("?LDDIR     ", kDir, 5, 0)), ShortSlot("NEWDIR     ", kDir, 5, 0)});
  v.Put(v.ClusterOffset(5), Deleted(ShortSlot("?OTE    TXT", kFile, 0, 0)));
  const auto scan = test::ScanBuilt(v, Dir.Path());
  EXPECT_EQ(FilePaths(*scan->Disk), (std::multiset<std::string>{"NEWDIR/$OTE.TXT"}));
}

TEST_F(FatDamage, HugeRecordedSizesAreBoundedByTheVolume) {
  TFatVolumeBuilder v({.Kind = TFileSystemKind::Fat16});
  v.PutSlots(v.RootOffset(), {Deleted(ShortSlot("?IGDIR     ", kDir, 4000, 0xFFFFFFFF)),
                              Deleted(ShortSlot("?IGFILE BIN", kFile, 4090, 0xFFFFFFFF))});
  v.Put(v.ClusterOffset(4000), Deleted(ShortSlot("?N      TXT", kFile, 0, 0)));
  const auto scan = test::ScanBuilt(v, Dir.Path());
  EXPECT_EQ(FilePaths(*scan->Disk), (std::multiset<std::string>{"$IGFILE.BIN", "$IGDIR/$N.TXT"}));
  auto& scanner = dynamic_cast<TFatScaner&>(*scan->Disk->Scanner);
  scanner.Init();
  for (PFileInfo f : scan->Disk->Files.Snapshot())
    EXPECT_LE(scanner.GetFileClusChain(*f->Info<TFatEntryInfo>(), static_cast<std::uint32_t>(f->Size)).size(),
              scanner.ClusterCount);
  ExpectSaneResult(*scan, v.Bytes().size());
}

TEST_F(FatDamage, GeometryFatDoesNotAllowYieldsNothing) {
  for (const auto& [bytesPerSector, sectorsPerCluster] : std::vector<std::pair<std::uint16_t, std::uint8_t>>{{520, 1}, {512, 3}, {8192, 1}}) {
    TFatVolumeBuilder v({.Kind = TFileSystemKind::Fat12});
    v.Put(v.RootOffset(), Deleted(ShortSlot("?ILE    TXT", kFile, 0, 0)));
    test::PutLe16(v.Bytes(), 11, bytesPerSector);
    v.Bytes()[13] = sectorsPerCluster;
    const auto scan = test::ScanBuilt(v, Dir.Path());
    ASSERT_NE(scan->Disk->Scanner, nullptr);
    EXPECT_EQ(scan->Disk->Files.Count(), 0);
    EXPECT_EQ(scan->Reports.Finished, 1);
  }
}

// Random tables and directories, and volumes cut short, of every form.
TEST_F(FatDamage, RandomBytesAndTruncatedImagesScanToTheEnd) {
  for (const TFileSystemKind kind : {TFileSystemKind::Fat12, TFileSystemKind::Fat16, TFileSystemKind::Fat32}) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
      TFatVolumeBuilder v({.Kind = kind, .SectorsPerCluster = 2});
      std::mt19937 random(seed * 7919 + static_cast<unsigned>(kind));
      const std::int64_t fatStart = v.FatOffset(), dataStart = v.ClusterOffset(2);
      std::vector<std::uint8_t>& bytes = v.Bytes();
      bytes.resize(static_cast<std::size_t>(dataStart + 64 * v.ClusterSize()));
      // Tables and root (or the first clusters) get random bytes; seeds alternate between mostly
      // random slots and sparse damage to a plausible tree.
      for (std::size_t i = static_cast<std::size_t>(fatStart); i < bytes.size(); ++i)
        if (seed % 2 || random() % 8 == 0) bytes[i] = static_cast<std::uint8_t>(random());
      for (std::size_t i = static_cast<std::size_t>(dataStart); i < bytes.size(); i += 32)
        if (random() % 3 == 0) bytes[i] = 0xE5;
      SCOPED_TRACE(testing::Message() << "kind " << int(kind) << " seed " << seed);
      const auto scan = test::ScanBuilt(v, Dir.Path());
      ExpectSaneResult(*scan, bytes.size());
      // The same volume cut inside its tables and inside its data.
      for (const std::int64_t cut : {fatStart + 700, dataStart + 3 * std::int64_t{v.ClusterSize()} + 100}) {
        std::vector<std::uint8_t> truncated(bytes.begin(), bytes.begin() + cut);
        test::WriteFile(Dir / "cut.img", truncated);
        const auto cutScan = test::ScanImage(Dir / "cut.img");
        if (cutScan->Disk->Scanner) ExpectSaneResult(*cutScan, truncated.size());
      }
    }
  }
}

}  // namespace
}  // namespace kestrine
