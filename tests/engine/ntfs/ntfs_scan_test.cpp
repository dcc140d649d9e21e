// The MFT walk over crafted volumes: folder chains, cycles, conditions, stopping, rescans and damage.

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "engine/ntfs/ntfs_scanner.h"
#include "engine/ntfs/ntfs_stream.h"
#include "engine/volume/disk_scanner.h"
#include "tests/engine/ntfs/ntfs_image_builder.h"
#include "tests/support/test_support.h"

namespace kestrine::test {
namespace {

TRecordBuilder File(const TNtfsImageBuilder& Image, std::uint64_t Parent, std::u16string_view Name) {
  auto r = Image.NewRecord();
  r.StandardInfo().FileName(Parent, Name).Data(Pattern(40, static_cast<std::uint32_t>(Name.size())));
  return r;
}

TRecordBuilder Folder(const TNtfsImageBuilder& Image, std::uint64_t Parent, std::u16string_view Name, bool InUse) {
  auto r = Image.NewRecord();
  r.InUse(InUse).Directory().StandardInfo(0x10).FileName(Parent, Name);
  return r;
}

std::set<std::string> Paths(const TNtfsScan& Scan) {
  std::set<std::string> paths;
  for (PFileInfo item : Scan.Disk->Files.Snapshot()) paths.insert(PathBelowRoot(item));
  return paths;
}

class ScanTest : public ::testing::Test {
 protected:
  std::unique_ptr<TNtfsScan> Run() { return ScanNtfsImage(Image.WriteTo(Dir.Path())); }
  TTempDir Dir;
  TNtfsImageBuilder Image;
};

TEST_F(ScanTest, FolderChainsSharedFoldersAndReusedParents) {
  Image.PutRecord(20, Folder(Image, 5, u"Documents", true));
  Image.PutRecord(21, Folder(Image, 20, u"Old", false));
  Image.PutRecord(22, File(Image, 21, u"one.txt"));
  Image.PutRecord(23, File(Image, 21, u"two.txt"));
  Image.PutRecord(24, Folder(Image, 5, u"Empty deleted", false));
  Image.PutRecord(25, Image.NewRecord().InUse().StandardInfo().FileName(5, u"Replacement.txt"));  // was a folder
  Image.PutRecord(26, File(Image, 25, u"orphan.txt"));
  Image.PutRecord(27, File(Image, 5, u"top.txt"));
  Image.PutRecord(28, Image.NewRecord().StandardInfo().FileName(5, u"SHORT.TXT", 2).Data(Pattern(5, 1)));
  const auto scan = Run();
  EXPECT_EQ(Paths(*scan), (std::set<std::string>{"Documents/Old/one.txt", "Documents/Old/two.txt",
                                                 "$folder_25/orphan.txt", "top.txt", ""}));
  EXPECT_EQ(scan->Disk->Folders.Count(), 4);  // root, Documents, Old, $folder_25
  const PFileInfo orphan = scan->File(26);
  ASSERT_NE(orphan->Parent, nullptr);
  EXPECT_TRUE(orphan->Parent->FsInfo->IsDeleted());
  EXPECT_EQ(orphan->Parent->Parent->Name, "d: ()");
  EXPECT_FALSE(scan->File(22)->Parent->Parent->FsInfo->IsDeleted());  // Documents is still there
  EXPECT_EQ(scan->File(22)->Parent, scan->File(23)->Parent);
  // A record with only a DOS name: no name and no known parent.
  EXPECT_EQ(scan->File(28)->Parent, nullptr);
  // True record numbers and sizes rolled up into the folders.
  EXPECT_EQ(scan->File(27)->Info<TNtfsFileInfo>()->RecordNumber(), 27u);
  EXPECT_EQ(scan->File(22)->Parent->Size.load(), 80);
}

// A parent reference names a record and the sequence number it had; a folder record that carries
// another number now belongs to another folder (freeing a record counts its number up by one).
TEST_F(ScanTest, ParentFolderRecordsReusedByOtherFolders) {
  const auto ref = [](std::uint64_t RecNo, std::uint64_t Seq) { return Seq << 48 | RecNo; };
  Image.PutRecord(20, Folder(Image, ref(5, 5), u"B", true).Sequence(2));    // took the record of a deleted folder
  Image.PutRecord(21, Folder(Image, ref(5, 5), u"A", false).Sequence(2));   // deleted, not reused
  Image.PutRecord(22, Folder(Image, ref(5, 5), u"C", false).Sequence(3));   // reused, then deleted again
  Image.PutRecord(23, Folder(Image, ref(20, 1), u"Inner", false).Sequence(2));
  Image.PutRecord(30, File(Image, ref(20, 1), u"was in the old folder.txt"));
  Image.PutRecord(31, File(Image, ref(20, 2), u"in B.txt"));
  Image.PutRecord(32, File(Image, ref(21, 1), u"in A.txt"));
  Image.PutRecord(33, File(Image, ref(22, 1), u"in the first C.txt"));
  Image.PutRecord(34, File(Image, ref(20, 1), u"also in the old folder.txt"));
  Image.PutRecord(35, File(Image, ref(23, 1), u"deeper.txt"));
  Image.PutRecord(36, File(Image, 20, u"no sequence.txt"));
  const auto scan = Run();
  EXPECT_EQ(Paths(*scan), (std::set<std::string>{"$folder_20/was in the old folder.txt", "B/in B.txt", "A/in A.txt",
                                                 "$folder_22/in the first C.txt",
                                                 "$folder_20/also in the old folder.txt", "$folder_20/Inner/deeper.txt",
                                                 "B/no sequence.txt"}));
  const PFileInfo standIn = scan->File(30)->Parent;
  EXPECT_EQ(scan->File(34)->Parent, standIn);
  EXPECT_EQ(scan->File(35)->Parent->Parent, standIn);
  EXPECT_TRUE(standIn->FsInfo->IsDeleted());
  EXPECT_FALSE(scan->File(31)->Parent->FsInfo->IsDeleted());
  EXPECT_EQ(standIn->Parent, scan->File(31)->Parent->Parent);  // both below the root
  EXPECT_EQ(scan->Disk->Folders.Count(), 6);  // root, $folder_20, B, A, $folder_22, Inner
}

TEST_F(ScanTest, ParentCyclesAreCutUnderTheRoot) {
  Image.PutRecord(20, Folder(Image, 21, u"A", false));
  Image.PutRecord(21, Folder(Image, 22, u"B", false));
  Image.PutRecord(22, Folder(Image, 20, u"C", false));
  Image.PutRecord(23, File(Image, 20, u"in A.txt"));
  Image.PutRecord(24, Folder(Image, 24, u"Self", false));
  Image.PutRecord(25, File(Image, 24, u"in self.txt"));
  Image.PutRecord(26, File(Image, 22, u"in C.txt"));
  const auto scan = Run();
  // Walking up from A meets A again above C: C is the folder at the cut.
  EXPECT_EQ(Paths(*scan), (std::set<std::string>{"C/B/A/in A.txt", "Self/in self.txt", "C/in C.txt"}));
  EXPECT_EQ(scan->Disk->Folders.Count(), 5);
}

TEST_F(ScanTest, ARootThatIsNoFolderEndsTheChain) {
  Image.PutRecord(5, Image.NewRecord().InUse().StandardInfo().FileName(5, u"not a folder"));
  Image.PutRecord(20, File(Image, 5, u"a.txt"));
  Image.PutRecord(21, Image.NewRecord().InUse().StandardInfo().FileName(5, u"file now"));
  Image.PutRecord(22, File(Image, 21, u"b.txt"));
  const auto scan = Run();
  EXPECT_EQ(PathBelowRoot(scan->File(20)), "$folder_5/a.txt");
  EXPECT_EQ(PathBelowRoot(scan->File(22)), "$folder_5/$folder_21/b.txt");
  EXPECT_EQ(scan->Reports.Finished, 1);
}

TEST_F(ScanTest, ExcludedNames) {
  Image.PutRecord(20, File(Image, 5, u"$EABCDEF.BAK"));
  Image.PutRecord(21, File(Image, 5, u"_EABCDEF.bak"));
  Image.PutRecord(22, File(Image, 5, u"$EABCDEFG.bak"));
  Image.PutRecord(23, File(Image, 5, u"$eABCDEF.BAK"));
  EXPECT_EQ(Paths(*Run()), (std::set<std::string>{"$EABCDEFG.bak", "$eABCDEF.BAK"}));
  EXPECT_TRUE(IsExcludedName("_Exxxxxx.BaK"));
  EXPECT_FALSE(IsExcludedName("_Exxxxxx.bax"));
}

TEST_F(ScanTest, ConditionFromTheClusterBitmap) {
  auto nonResident = [&](std::u16string_view Name, const TRunShape& Runs) {
    auto r = Image.NewRecord();
    r.StandardInfo().FileName(5, Name).NonResidentData(Runs, 4 * 4096);
    return r;
  };
  Image.PutRecord(20, File(Image, 5, u"resident.txt"));
  Image.PutRecord(21, nonResident(u"all used.bin", {{4, 100}}));
  Image.PutRecord(22, nonResident(u"three free.bin", {{4, 200}}));
  Image.PutRecord(23, nonResident(u"holes.bin", {{2, -1}, {2, 300}}));
  Image.PutRecord(24, nonResident(u"off the bitmap.bin", {{2, 300}, {2, 100000}}));
  Image.MarkUsed(100, 4);
  Image.MarkUsed(203, 1);
  const auto scan = Run();
  EXPECT_EQ(scan->File(20)->Condition, 100);
  EXPECT_EQ(scan->File(21)->Condition, 0);
  EXPECT_EQ(scan->File(22)->Condition, 75);
  EXPECT_EQ(scan->File(23)->Condition, 100);
  EXPECT_EQ(scan->File(24)->Condition, 50);
  auto* scanner = dynamic_cast<TNtfsScaner*>(scan->Disk->Scanner.get());
  EXPECT_TRUE(scanner->IsClusterFree(202));
  EXPECT_FALSE(scanner->IsClusterFree(203));
  EXPECT_FALSE(scanner->IsClusterFree(512 * 8));  // past the bitmap
  EXPECT_EQ(scanner->BitmapItem()->Size.load(), 64);
}

TEST_F(ScanTest, StoppingEndsTheWalkAndStillReportsTheEnd) {
  for (int i = 0; i < 10; ++i) Image.PutRecord(20 + i, File(Image, 5, u"f" + std::u16string(1, u'0' + i) + u".txt"));
  const auto path = Image.WriteTo(Dir.Path());
  struct TStopper final : TScanReports {
    std::function<void()> Stop;
    int Files = 0, Finished = 0;
    void FolderAdded(TDiskObject*, PFileInfo) override {}
    void FileAdded(TDiskObject*, PFileInfo) override {
      if (++Files == 3) Stop();
    }
    void ScanProgress(TDiskObject*, std::int64_t, std::int64_t) override {}
    void ScanFinished(TDiskObject*) override { ++Finished; }
  } reports;
  TDiskObject disk({'d', path.string(), "", platform::TDriveType::Fixed}, &reports);
  reports.Stop = [&] { disk.Scanner->SetStopped(true); };
  disk.Scanner->SetStopped(true);  // a stop before the scan starts does not count
  disk.Scanner->ScanForFiles();
  EXPECT_EQ(reports.Files, 3);
  EXPECT_EQ(reports.Finished, 1);

  // A stop while the folders of a file are made leaves its condition at 0; it is still published.
  Image.PutRecord(30, Folder(Image, 5, u"Gone", false));
  Image.PutRecord(31, Image.NewRecord().StandardInfo().FileName(30, u"late.bin").NonResidentData({{2, 300}}, 8192));
  struct TFolderStopper final : TScanReports {
    std::function<void()> Stop;
    std::vector<PFileInfo> Files;
    void FolderAdded(TDiskObject*, PFileInfo Item) override {
      if (Item->Name == "Gone") Stop();
    }
    void FileAdded(TDiskObject*, PFileInfo Item) override { Files.push_back(Item); }
    void ScanProgress(TDiskObject*, std::int64_t, std::int64_t) override {}
    void ScanFinished(TDiskObject*) override {}
  } folderReports;
  TDiskObject again({'d', Image.WriteTo(Dir.Path(), "b.img").string(), "", platform::TDriveType::Fixed},
                    &folderReports);
  folderReports.Stop = [&] { again.Scanner->SetStopped(true); };
  again.Scanner->ScanForFiles();
  ASSERT_FALSE(folderReports.Files.empty());
  EXPECT_EQ(folderReports.Files.back()->Name, "late.bin");
  EXPECT_EQ(folderReports.Files.back()->Condition, 0);
}

TEST_F(ScanTest, ARescanStartsFromAnEmptyFolderIndex) {
  Image.PutRecord(20, Folder(Image, 5, u"Gone", false));
  Image.PutRecord(21, File(Image, 20, u"a.txt"));
  const auto scan = Run();
  const auto first = Paths(*scan);
  scan->Disk->Scanner->ScanForFiles();
  EXPECT_EQ(Paths(*scan), first);
  EXPECT_EQ(scan->Disk->Folders.Count(), 2);
  EXPECT_EQ(scan->Reports.Finished, 2);
  // The folders of the second scan were made again, not taken from the first.
  EXPECT_EQ(scan->Reports.Folders.size(), 4u);
}

TEST_F(ScanTest, EveryRecordAfterADamagedOneIsVisitedWithItsOwnNumber) {
  // Records 20-23 share one cluster; 20 is damaged, so a walk by clusters would lose 21-23.
  auto broken = File(Image, 5, u"broken.txt").Build(512);
  broken[1022] ^= 0x55;
  Image.PutRecordBytes(20, broken);
  Image.PutRecord(21, File(Image, 5, u"r21.txt"));
  std::vector<std::uint8_t> zeros(1024), random = Pattern(1024, 77);
  Image.PutRecordBytes(22, zeros);
  Image.PutRecordBytes(23, random);
  Image.PutRecord(24, File(Image, 5, u"r24.txt"));
  random[0] = 'F', random[1] = 'I', random[2] = 'L', random[3] = 'E';
  Image.PutRecordBytes(25, random);
  Image.PutRecord(26, File(Image, 5, u"r26.txt"));
  // Just past the MFT's run: not a record of the MFT.
  Image.PutRecord(64, File(Image, 5, u"outside.txt"));
  const auto scan = Run();
  EXPECT_EQ(Paths(*scan), (std::set<std::string>{"r21.txt", "r24.txt", "r26.txt"}));
  EXPECT_EQ(scan->File(21)->Name, "r21.txt");
  EXPECT_EQ(scan->File(24)->Name, "r24.txt");
  EXPECT_EQ(scan->File(26)->Name, "r26.txt");
  EXPECT_EQ(scan->Reports.LastTotal, 64 * 1024);
  EXPECT_EQ(scan->Reports.LastDone, 64 * 1024);
}

// Whatever keeps the MFT walk from starting is a failure with its reason, never an empty result.
TEST_F(ScanTest, VolumesThatCannotBeWalkedSayWhy) {
  struct TCase {
    const char* What;
    std::function<void(TNtfsImageBuilder&)> Apply;
    const char* Reason;
  };
  const std::vector<TCase> cases = {
      {"0 bytes per sector", [](TNtfsImageBuilder& I) { PutLe16(I.Bytes(), 0x0B, 0); }, "0 bytes per sector"},
      {"520 bytes per sector", [](TNtfsImageBuilder& I) { PutLe16(I.Bytes(), 0x0B, 520); }, "520 bytes per sector"},
      {"0 sectors per cluster", [](TNtfsImageBuilder& I) { I.Bytes()[0x0D] = 0; }, "sectors-per-cluster"},
      {"3 sectors per cluster", [](TNtfsImageBuilder& I) { I.Bytes()[0x0D] = 3; }, "sectors-per-cluster"},
      {"MFT cluster beyond the volume", [](TNtfsImageBuilder& I) { PutLe64(I.Bytes(), 0x30, 1ull << 40); },
       "lies beyond the volume"},
      {"MFT cluster just past the end", [](TNtfsImageBuilder& I) { PutLe64(I.Bytes(), 0x30, 512); },
       "lies beyond the volume"},
      {"record-size byte 0x80", [](TNtfsImageBuilder& I) { I.Bytes()[0x40] = 0x80; }, "record-size"},
      {"record-size byte 0", [](TNtfsImageBuilder& I) { I.Bytes()[0x40] = 0; }, "record-size"},
      {"zeroed record 0", [](TNtfsImageBuilder& I) { I.PutRecordBytes(0, std::vector<std::uint8_t>(1024)); },
       "MFT record 0"},
      {"MFT without runs", [](TNtfsImageBuilder& I) { I.PutRecord(0, I.NewRecord().InUse().FileName(5, u"$MFT")); },
       "MFT record 0"},
      {"MFT runs that start elsewhere", [](TNtfsImageBuilder& I) {
         I.PutRecord(0, I.NewRecord().InUse().FileName(5, u"$MFT").NonResidentData({{16, 200}}, 64 * 1024));
       }, "record 0"},
      {"MFT runs that start outside", [](TNtfsImageBuilder& I) {
         I.PutRecord(0, I.NewRecord().InUse().FileName(5, u"$MFT").NonResidentData({{16, 5000}}, 64 * 1024));
       }, "record 0"},
      // The volume is what can be read of it.
      {"image cut before the MFT", [](TNtfsImageBuilder& I) { I.Bytes().resize(16 * 4096 + 512); },
       "lies beyond the volume's 16 clusters"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TNtfsImageBuilder image;
    image.PutRecord(30, File(image, 5, u"deleted.txt"));
    c.Apply(image);
    const auto scan = ScanNtfsImage(image.WriteTo(Dir.Path()));
    ASSERT_NE(scan->Disk->Scanner, nullptr);
    EXPECT_EQ(scan->Reports.Finished, 1);
    EXPECT_EQ(scan->Disk->Files.Count(), 0);
    const std::string why = EnglishText(scan->Disk->Scanner->ScanFailure());
    EXPECT_NE(why.find(c.Reason), std::string::npos) << why;
  }
}

// A volume that walks reports no failure: with nothing deleted on it, with damaged records further
// on, and in a scan after one that failed.
TEST_F(ScanTest, VolumesThatWalkReportNoFailure) {
  const auto clean = Run();
  EXPECT_EQ(clean->Disk->Files.Count(), 0);
  EXPECT_EQ(EnglishText(clean->Disk->Scanner->ScanFailure()), "");

  Image.PutRecordBytes(20, std::vector<std::uint8_t>(1024));
  auto broken = File(Image, 5, u"broken.txt").Build(512);
  broken[1022] ^= 0x55;
  Image.PutRecordBytes(21, broken);
  Image.PutRecord(22, File(Image, 5, u"kept.txt"));
  const auto scan = Run();
  EXPECT_EQ(Paths(*scan), (std::set<std::string>{"kept.txt"}));
  EXPECT_EQ(EnglishText(scan->Disk->Scanner->ScanFailure()), "");

  const auto image = Dir / "ntfs.img";
  auto bytes = ReadFile(image);
  bytes[0x40] = 0x80;
  WriteFile(image, bytes);
  scan->Disk->Scanner->ScanForFiles();
  EXPECT_NE(EnglishText(scan->Disk->Scanner->ScanFailure()), "");
  bytes[0x40] = Image.Bytes()[0x40];
  WriteFile(image, bytes);
  scan->Disk->Scanner->ScanForFiles();
  EXPECT_EQ(EnglishText(scan->Disk->Scanner->ScanFailure()), "");
  EXPECT_EQ(scan->Disk->Files.Count(), 1);
}

// Damage that must neither crash nor hang the scan; each still ends with one finish report.
TEST_F(ScanTest, DamagedVolumesScanToTheEnd) {
  struct TDamage {
    const char* What;
    std::function<void(TNtfsImageBuilder&)> Apply;
  };
  const std::vector<TDamage> damage = {
      {"absurd record size", [](TNtfsImageBuilder& I) { I.Bytes()[0x40] = 0x7F; }},
      {"MFT beyond the volume", [](TNtfsImageBuilder& I) { PutLe64(I.Bytes(), 0x30, 1ull << 40); }},
      {"MFT runs off the volume", [](TNtfsImageBuilder& I) {
         I.PutRecord(0, I.NewRecord().InUse().FileName(5, u"$MFT").NonResidentData({{16, 16}, {1ull << 40, 1ull << 30}},
                                                                                   1ull << 60));
       }},
      {"MFT without runs", [](TNtfsImageBuilder& I) { I.PutRecord(0, I.NewRecord().InUse().FileName(5, u"$MFT")); }},
      {"zeroed record 0", [](TNtfsImageBuilder& I) { I.PutRecordBytes(0, std::vector<std::uint8_t>(1024)); }},
      {"random records", [](TNtfsImageBuilder& I) {
         for (int r = 7; r < 64; ++r) {
           auto bytes = Pattern(1024, static_cast<std::uint32_t>(r));
           bytes[0] = 'F', bytes[1] = 'I', bytes[2] = 'L', bytes[3] = 'E';
           bytes[0x06] = 0;  // no update sequence, so the walk reaches the attributes
           bytes[0x14] = 0x38, bytes[0x15] = 0;
           bytes[0x16] = 0;
           std::fill(bytes.begin() + 0x20, bytes.begin() + 0x28, 0);
           I.PutRecordBytes(r, bytes);
         }
       }},
      {"attribute lists to missing and looping records", [](TNtfsImageBuilder& I) {
         std::vector<TListEntry> list;
         for (int i = 0; i < 20; ++i) list.emplace_back(0x80, 20 + i % 3, 0);
         list.emplace_back(0x30, 63, 0);
         I.PutRecord(20, I.NewRecord().StandardInfo().AttributeList(list));
         I.PutRecord(21, I.NewRecord().BaseRef(20).StandardInfo().AttributeList(list).NonResidentData({{1, 100}}, 100));
         I.PutRecord(22, I.NewRecord().StandardInfo().AttributeList({{0x20, 22, 0}, {0x80, 9999999, 0}}));
       }},
      {"a non-resident attribute list claiming 4 TiB", [](TNtfsImageBuilder& I) {
         I.PutRecord(20, I.NewRecord().StandardInfo().NonResident(0x20, u"", {{1ull << 30, 100}}, 1ull << 42));
       }},
      {"file runs off the volume", [](TNtfsImageBuilder& I) {
         I.PutRecord(20, I.NewRecord().StandardInfo().FileName(5, u"far.bin").NonResidentData(
                             {{1ull << 40, 1ull << 40}, {1ull << 40, -1}, {1ull << 40, 5}}, 1ull << 60));
       }},
      {"absurd compression unit", [](TNtfsImageBuilder& I) {
         I.PutRecord(20, I.NewRecord().StandardInfo(0x820).FileName(5, u"odd.bin").NonResidentData({{4, 100}}, 9000, u"", 15));
       }},
      {"parent cycle through deleted folders", [](TNtfsImageBuilder& I) {
         for (int r = 20; r < 60; ++r) I.PutRecord(r, Folder(I, r == 59 ? 20 : r + 1, u"loop", false));
         I.PutRecord(60, File(I, 40, u"deep.txt"));
       }},
  };
  for (const TDamage& d : damage) {
    SCOPED_TRACE(d.What);
    TNtfsImageBuilder image;
    image.PutRecord(30, File(image, 5, u"survivor.txt"));
    d.Apply(image);
    const auto scan = ScanNtfsImage(image.WriteTo(Dir.Path()));
    EXPECT_EQ(scan->Reports.Finished, 1);
    EXPECT_FALSE(scan->FileNamed("odd.bin"));
    // The streams of whatever was found read without trouble (a bounded part of each).
    for (PFileInfo item : scan->Disk->Files.Snapshot()) {
      TRecoveryNtfsStream stream(item->Disk, item);
      std::vector<std::uint8_t> buf(65536);
      for (int i = 0; i < 4 && stream.Read(buf.data(), 65536) > 0; ++i) {
      }
      stream.Seek(1ll << 50, TSeekOrigin::Beginning);
      stream.Read(buf.data(), 65536);
    }
  }
  // Where the MFT itself is sound, the other files are still found.
  TNtfsImageBuilder image;
  image.PutRecord(30, File(image, 5, u"survivor.txt"));
  damage[6].Apply(image);
  damage[8].Apply(image);
  damage[9].Apply(image);
  EXPECT_TRUE(ScanNtfsImage(image.WriteTo(Dir.Path()))->FileNamed("survivor.txt"));
}

}  // namespace
}  // namespace kestrine::test
