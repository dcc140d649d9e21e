// Found NTFS files keep what the scan drew from their records, not the records: a stream reads the
// record again, and must never deliver another file's bytes from a record taken since the scan.

#include <gtest/gtest.h>

#include "engine/ntfs/ntfs_scanner.h"
#include "engine/ntfs/ntfs_stream.h"
#include "tests/engine/ntfs/ntfs_image_builder.h"
#include "tests/support/test_support.h"

namespace kestrine::test {
namespace {

class RereadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Image.PutRecord(20, Deleted(u"resident.txt").Data(Original));
    Image.PutClusters(100, Clusters);
    Image.PutRecord(21, Deleted(u"outside.bin").NonResidentData({{2, 100}}, 6000).Data(Original, u"extra"));
    Result = ScanNtfsImage(Image.WriteTo(Dir.Path()));
  }
  TRecordBuilder Deleted(std::u16string_view Name, std::uint16_t Sequence = 1) {
    auto r = Image.NewRecord();
    r.Sequence(Sequence).StandardInfo().FileName(5, Name);
    return r;
  }
  // The volume as it is after the scan: the file is written again over the one scanned.
  void Rewrite() { Image.WriteTo(Dir.Path()); }
  static std::string Failure(PFileInfo Item) { return EnglishText(TRecoveryNtfsStream(Item->Disk, Item).Failure()); }

  TTempDir Dir;
  TNtfsImageBuilder Image;
  const std::vector<std::uint8_t> Original = Pattern(300, 1);
  const std::vector<std::uint8_t> Clusters = Pattern(2 * 4096, 2);
  std::unique_ptr<TNtfsScan> Result;
};

TEST_F(RereadTest, FoundFilesHoldNoRecordBytesAndStillRead) {
  for (PFileInfo item : Result->Disk->Files.Snapshot()) {
    ASSERT_NE(item->Info<TNtfsFileInfo>(), nullptr);
    EXPECT_EQ(item->Info<TNtfsFileInfo>()->Record, nullptr) << item->Name;
  }
  for (PFileInfo folder : Result->Disk->Folders.Snapshot())
    EXPECT_EQ(folder->Info<TNtfsFileInfo>()->Record, nullptr) << folder->Name;
  EXPECT_EQ(ReadWholeStream(Result->File(20)), Original);
  const auto outside = ReadWholeStream(Result->File(21));
  ASSERT_EQ(outside.size(), 6000u);
  EXPECT_TRUE(std::equal(outside.begin(), outside.end(), Clusters.begin()));
  ASSERT_EQ(Result->File(21)->Info<TNtfsFileInfo>()->NamedStreams().size(), 1u);
  EXPECT_EQ(ReadWholeStream(Result->File(21), "extra"), Original);
  EXPECT_EQ(Failure(Result->File(20)), "");
  // The item's record is still let go after its streams were read.
  EXPECT_EQ(Result->File(20)->Info<TNtfsFileInfo>()->Record, nullptr);
}

TEST_F(RereadTest, ARecordTakenSinceTheScanGivesAFailedStreamNotAnotherFilesBytes) {
  const auto other = Pattern(300, 9);
  // Record 20 now holds a file in use; record 21 was used and freed again (its sequence moved on).
  Image.PutRecord(20, Deleted(u"resident.txt").InUse().Data(other));
  Image.PutRecord(21, Deleted(u"outside.bin", 2).Data(other));
  Rewrite();
  for (std::int64_t recNo : {20, 21}) {
    SCOPED_TRACE(recNo);
    PFileInfo item = Result->File(recNo);
    TRecoveryNtfsStream stream(item->Disk, item);
    EXPECT_FALSE(stream.Found());
    EXPECT_NE(EnglishText(stream.Failure()).find("MFT record " + std::to_string(recNo) + " belongs to another file"),
              std::string::npos)
        << EnglishText(stream.Failure());
    std::vector<std::uint8_t> buf(8192);
    EXPECT_EQ(stream.Read(buf.data(), 8192), 0u);
    EXPECT_EQ(stream.GetSize(), 0);
    TRecoveryNtfsStream named(item->Disk, "extra", item);
    EXPECT_FALSE(named.Found());
  }
}

TEST_F(RereadTest, ARecordThatCannotBeReadAnyMoreGivesAFailedStream) {
  std::vector<std::uint8_t> wiped(Image.Geometry().RecordSize, 0);
  Image.PutRecordBytes(20, wiped);
  Rewrite();
  EXPECT_NE(Failure(Result->File(20)).find("can no longer be read"), std::string::npos);
}

TEST_F(RereadTest, HeldRecordsOutliveTheirReuse) {
  PFileInfo item = Result->File(20);
  TNtfsScaner holder(Result->Disk.get());
  ASSERT_TRUE(holder.Init());
  const std::vector<PFileInfo> held = holder.HoldRecords({item, Result->File(21)});
  EXPECT_EQ(held.size(), 2u);
  // A recovery that writes onto its own source takes the record after it was held.
  Image.PutRecord(20, Deleted(u"resident.txt").InUse().Data(Pattern(300, 9)));
  Rewrite();
  EXPECT_EQ(ReadWholeStream(item), Original);
  holder.LetGoRecords(held);
  EXPECT_EQ(item->Info<TNtfsFileInfo>()->Record, nullptr);
  EXPECT_FALSE(Failure(item).empty());
  // A record taken before the hold is not held.
  TNtfsScaner later(Result->Disk.get());
  ASSERT_TRUE(later.Init());
  EXPECT_TRUE(later.HoldRecords({item}).empty());
}

// Hundreds of thousands of these make a large scan's memory; growing them is a choice to make on purpose.
TEST(FoundItemLayout, StaysSmall) {
  EXPECT_LE(sizeof(TFileInfo), 104u);
  EXPECT_LE(sizeof(TNtfsFileInfo), 56u);
}

}  // namespace
}  // namespace kestrine::test
