// Damaged FAT volumes: every scan ends, with bounded results and no fault under the sanitizers.

#include <gtest/gtest.h>

#include <functional>
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

// Such a boot sector is no FAT volume to the drive list; the engine, handed one all the same (a
// volume rewritten since it was listed), refuses to walk it and says why.
TEST_F(FatDamage, GeometryFatDoesNotAllowYieldsNothing) {
  for (const auto& [bytesPerSector, sectorsPerCluster] : std::vector<std::pair<std::uint16_t, std::uint8_t>>{{520, 1}, {512, 3}, {8192, 1}}) {
    TFatVolumeBuilder v({.Kind = TFileSystemKind::Fat12});
    v.Put(v.RootOffset(), Deleted(ShortSlot("?ILE    TXT", kFile, 0, 0)));
    test::PutLe16(v.Bytes(), 11, bytesPerSector);
    v.Bytes()[13] = sectorsPerCluster;
    const auto scan = test::ScanBuilt(v, Dir.Path(), [](test::TScannedDisk& S) {
      EXPECT_EQ(S.Disk->FileSystem, TFileSystemKind::None);
      EXPECT_EQ(S.Disk->Scanner, nullptr);
      S.Disk->Scanner = CreateScannerForKind(S.Disk.get(), TFileSystemKind::Fat12);
    });
    ASSERT_NE(scan->Disk->Scanner, nullptr);
    EXPECT_EQ(scan->Disk->Files.Count(), 0);
    EXPECT_EQ(scan->Reports.Finished, 1);
    EXPECT_NE(EnglishText(scan->Disk->Scanner->ScanFailure()).find("not FAT"), std::string::npos)
        << EnglishText(scan->Disk->Scanner->ScanFailure());
  }
}

// Whatever keeps the walk from starting is a failure with its reason, never an empty result.
TEST_F(FatDamage, VolumesThatCannotBeWalkedSayWhy) {
  struct TCase {
    const char* Name;
    TFileSystemKind Kind;
    std::function<void(TFatVolumeBuilder&)> Damage;
    const char* Reason;
    bool PartRead = false;  // what the readable part of the root holds is found all the same
  };
  const std::vector<TCase> cases = {
      {"root cluster is an end marker", TFileSystemKind::Fat32,
       [](TFatVolumeBuilder& V) { test::PutLe32(V.Bytes(), 44, 0x0FFFFFFF); }, "root folder's first cluster"},
      {"root cluster past the volume", TFileSystemKind::Fat32,
       [](TFatVolumeBuilder& V) { test::PutLe32(V.Bytes(), 44, V.ClusterCount() + 2); }, "lies outside"},
      {"255 tables", TFileSystemKind::Fat16, [](TFatVolumeBuilder& V) { V.Bytes()[16] = 255; }, "not FAT"},
      {"255 tables that fit", TFileSystemKind::Fat12,
       [](TFatVolumeBuilder& V) { V.Bytes()[16] = 255; test::PutLe16(V.Bytes(), 22, 1); test::PutLe16(V.Bytes(), 19, 60000); },
       "255 allocation tables"},
      {"no reserved sector", TFileSystemKind::Fat16, [](TFatVolumeBuilder& V) { test::PutLe16(V.Bytes(), 14, 0); },
       "reserved"},
      {"FAT16 table of one sector", TFileSystemKind::Fat16,
       [](TFatVolumeBuilder& V) { test::PutLe16(V.Bytes(), 22, 1); }, "cannot describe"},
      {"FAT32 table of one sector", TFileSystemKind::Fat32,
       [](TFatVolumeBuilder& V) { test::PutLe32(V.Bytes(), 36, 1); }, "cannot describe"},
      {"FAT12 cut before the root", TFileSystemKind::Fat12,
       [](TFatVolumeBuilder& V) { V.Bytes().resize(static_cast<std::size_t>(V.RootOffset())); }, "root folder could not be read"},
      {"FAT16 cut inside the root", TFileSystemKind::Fat16,
       [](TFatVolumeBuilder& V) { V.Bytes().resize(static_cast<std::size_t>(V.RootOffset() + 1024)); },
       "root folder could not be read", true},
      {"FAT32 cut before the root", TFileSystemKind::Fat32,
       [](TFatVolumeBuilder& V) { V.Bytes().resize(static_cast<std::size_t>(V.ClusterOffset(2))); },
       "root folder could not be read"},
      {"FAT16 root of no entries", TFileSystemKind::Fat16,
       [](TFatVolumeBuilder& V) { test::PutLe16(V.Bytes(), 17, 0); }, "root folder no entries"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TFatVolumeBuilder v({.Kind = c.Kind});
    const std::int64_t root = c.Kind == TFileSystemKind::Fat32 ? v.ClusterOffset(2) : v.RootOffset();
    v.Put(root, Deleted(ShortSlot("?ILE    TXT", kFile, 0, 0)));
    v.Bytes().resize(static_cast<std::size_t>(v.ClusterOffset(2) + 4 * v.ClusterSize()));
    c.Damage(v);
    const auto scan = test::ScanBuilt(v, Dir.Path(), [&c](test::TScannedDisk& S) {
      // Damage that changes the sector's count of clusters changes its kind; the engine is the volume's.
      if (!S.Disk->Scanner) return;
      S.Disk->Scanner = CreateScannerForKind(S.Disk.get(), c.Kind);
    });
    ASSERT_NE(scan->Disk->Scanner, nullptr);
    EXPECT_EQ(scan->Reports.Finished, 1);
    EXPECT_EQ(scan->Disk->Files.Count(), c.PartRead ? 1 : 0);
    const std::string why = EnglishText(scan->Disk->Scanner->ScanFailure());
    EXPECT_NE(why.find(c.Reason), std::string::npos) << why;
  }
}

// A volume that walks reports no failure: with nothing deleted on it, with a later scan after a
// failed one, and with a folder further down that cannot be read.
TEST_F(FatDamage, VolumesThatWalkReportNoFailure) {
  for (const TFileSystemKind kind : {TFileSystemKind::Fat12, TFileSystemKind::Fat16, TFileSystemKind::Fat32}) {
    SCOPED_TRACE(static_cast<int>(kind));
    TFatVolumeBuilder empty({.Kind = kind});
    empty.Bytes().resize(static_cast<std::size_t>(empty.ClusterOffset(2) + 4 * empty.ClusterSize()));
    const auto clean = test::ScanBuilt(empty, Dir.Path());
    ASSERT_NE(clean->Disk->Scanner, nullptr);
    EXPECT_EQ(clean->Disk->Files.Count(), 0);
    EXPECT_EQ(EnglishText(clean->Disk->Scanner->ScanFailure()), "");

    TFatVolumeBuilder v({.Kind = kind});
    const std::int64_t root = kind == TFileSystemKind::Fat32 ? v.ClusterOffset(2) : v.RootOffset();
    const std::uint32_t lost = v.ClusterCount() - 1;  // the image ends long before it
    v.Chain({lost});
    v.PutSlots(root, {ShortSlot("LOST       ", kDir, lost, 0), Deleted(ShortSlot("?ILE    TXT", kFile, 0, 0))});
    v.Bytes().resize(static_cast<std::size_t>(v.ClusterOffset(2) + 4 * v.ClusterSize()));
    const auto scan = test::ScanBuilt(v, Dir.Path());
    EXPECT_EQ(FilePaths(*scan->Disk), (std::multiset<std::string>{"$ILE.TXT"}));
    EXPECT_EQ(EnglishText(scan->Disk->Scanner->ScanFailure()), "");

    // The failure of one scan is not carried into the next.
    test::PutLe16(v.Bytes(), 11, 520);
    test::WriteFile(Dir / "volume.img", v.Bytes());
    scan->Disk->Scanner->ScanForFiles();
    EXPECT_NE(EnglishText(scan->Disk->Scanner->ScanFailure()), "");
    test::PutLe16(v.Bytes(), 11, 512);
    test::WriteFile(Dir / "volume.img", v.Bytes());
    scan->Disk->Scanner->ScanForFiles();
    EXPECT_EQ(EnglishText(scan->Disk->Scanner->ScanFailure()), "");
    EXPECT_EQ(scan->Disk->Files.Count(), 1);
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
