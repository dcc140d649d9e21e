// Boot-sector geometry, update-sequence fix-ups, attribute walks and mapping pairs.

#include <gtest/gtest.h>

#include "engine/ntfs/mft_reader.h"
#include "engine/ntfs/mft_record.h"
#include "engine/ntfs/run_list.h"
#include "tests/engine/ntfs/ntfs_image_builder.h"
#include "tests/support/test_support.h"

namespace kestrine::test {
namespace {

std::unique_ptr<TMftReader> OpenReader(const std::filesystem::path& Image, TVolumeHandle& Handle) {
  Handle = platform::TVolumeSource::Open(Image.string());
  return std::make_unique<TMftReader>(Handle.get());
}

TEST(MftGeometry, RecordSizeFromNegativePowerOrClusters) {
  TTempDir dir;
  TVolumeHandle handle;
  const auto small = OpenReader(TNtfsImageBuilder().WriteTo(dir.Path(), "a.img"), handle);
  EXPECT_EQ(small->RecordSize(), 1024u);  // 0xF6
  EXPECT_EQ(small->BootSector()[0x40], 0xF6);
  EXPECT_EQ(small->BootSector()[0x43], 0xFF);  // the kept field is sign-extended
  EXPECT_EQ(small->ClusterSize(), 4096u);
  EXPECT_EQ(small->RecordCount(), 64);

  TNtfsGeometry big;
  big.RecordSize = 8192;  // the field holds 2 clusters of 8 sectors of 512 bytes
  TVolumeHandle handle2;
  const auto large = OpenReader(TNtfsImageBuilder(big).WriteTo(dir.Path(), "b.img"), handle2);
  EXPECT_EQ(large->BootSector()[0x40], 2);
  EXPECT_EQ(large->RecordSize(), 8192u);
  EXPECT_EQ(large->RecordCount(), 64);
}

TEST(MftGeometry, SizesNtfsCannotHaveLeaveTheReaderEmpty) {
  TTempDir dir;
  const std::vector<std::pair<std::size_t, std::uint8_t>> damage = {
      {0x40, 0x20},  // 32 clusters of 4 KiB: records of 128 KiB
      {0x40, 0xE0},  // 2^-32 taken modulo 32: records of 1 byte
      {0x40, 0x03},  // three clusters: not a power of two
      {0x40, 0x00},  // no records at all
      {0x0D, 0x03},  // three sectors per cluster
      {0x0D, 0x00},
      {0x0D, 0xE0},  // clusters of 2^32 sectors
      {0x0C, 0x00},  // 0 bytes per sector (0x0B-0x0C)
  };
  for (const auto& [offset, value] : damage) {
    TNtfsImageBuilder image;
    image.Bytes()[offset] = value;
    if (offset == 0x0C) image.Bytes()[0x0B] = 0;
    TVolumeHandle handle;
    const auto reader = OpenReader(image.WriteTo(dir.Path()), handle);
    EXPECT_EQ(reader->RecordSize(), 0u) << offset << "=" << int(value);
    EXPECT_EQ(reader->RecordCount(), 0);
    EXPECT_TRUE(reader->ReadMftRec(0).empty());
  }
}

TEST(MftGeometry, LargeClustersUseTheNegativeEncoding) {
  TNtfsGeometry g;
  g.ClusterSize = 128 * 1024;
  g.Clusters = 64;
  g.MftLcn = 4;
  g.BitmapLcn = 6;
  g.FirstFreeLcn = 8;
  TNtfsImageBuilder image(g);
  ASSERT_EQ(image.Bytes()[0x0D], 0xF8);  // 2^8 sectors
  TTempDir dir;
  TVolumeHandle handle;
  const auto reader = OpenReader(image.WriteTo(dir.Path()), handle);
  EXPECT_EQ(reader->ClusterSize(), 128u * 1024);
  EXPECT_EQ(reader->RecordSize(), 1024u);
  EXPECT_EQ(reader->RecordCount(), 64);
}

std::vector<std::uint8_t> RecordWithDataOverSectorEnds(std::uint32_t Size) {
  // A resident value that covers the last two bytes of every 512-byte block.
  return TRecordBuilder(Size).InUse().Data(Pattern(Size - 0x100, 7)).Build(0);
}

TEST(Fixups, AreCheckedAndUndoneWithTheSectorStride) {
  // The data value starts at 0x50 (first attribute at 0x38, value at 0x18 in it) with either stride,
  // and fills the record.
  const auto data = Pattern(1024 - 0x50, 7);
  auto expectWord = [&](const std::vector<std::uint8_t>& R, std::size_t At) {
    EXPECT_EQ(R[At], data[At - 0x50]) << At;
    EXPECT_EQ(R[At + 1], data[At + 1 - 0x50]) << At;
  };
  // 512-byte sectors: words at 510 and 1022.
  auto r512 = TRecordBuilder(1024).InUse().Data(data).Build(512, 0x4242);
  EXPECT_EQ(r512[0x06], 3);
  EXPECT_EQ(r512[510], 0x42);
  EXPECT_EQ(r512[1023], 0x42);
  ASSERT_TRUE(ApplyFixups(r512, 512));
  expectWord(r512, 510);
  expectWord(r512, 1022);
  // 1024-byte sectors: one word, at 1022; the word at 510 is data.
  auto r1024 = TRecordBuilder(1024).InUse().Data(data).Build(1024, 0x4242);
  EXPECT_EQ(r1024[0x06], 2);
  expectWord(r1024, 510);
  EXPECT_EQ(r1024[1022], 0x42);
  ASSERT_TRUE(ApplyFixups(r1024, 1024));
  expectWord(r1024, 510);
  expectWord(r1024, 1022);
}

TEST(Fixups, CountZeroIsTakenAsReadAndAnyMismatchRejectsTheRecord) {
  auto unprotected = RecordWithDataOverSectorEnds(1024);
  const auto before = unprotected;
  ASSERT_EQ(unprotected[0x06], 0);
  EXPECT_TRUE(ApplyFixups(unprotected, 512));
  EXPECT_EQ(unprotected, before);

  for (std::size_t at : {510u, 1022u}) {
    auto damaged = TRecordBuilder(1024).InUse().Data(Pattern(700, 1)).Build(512);
    damaged[at] ^= 0xFF;
    EXPECT_FALSE(ApplyFixups(damaged, 512)) << at;
  }
  // An array that would lie or patch past the record.
  auto wide = TRecordBuilder(1024).Build(512);
  wide[0x06] = 4;  // three sectors of 512 in a 1024-byte record
  EXPECT_FALSE(ApplyFixups(wide, 512));
  auto far = TRecordBuilder(1024).Build(512);
  far[0x04] = 0xFE, far[0x05] = 0x03;  // array at 1022
  EXPECT_FALSE(ApplyFixups(far, 512));
}

TEST(Fixups, FourKiBRecordsCount512ByteBlocksOnFourKiBSectors) {
  // As Windows writes them on 4Kn disks: 9 entries, one per 512 bytes.
  auto record = TRecordBuilder(4096).InUse().Data(Pattern(3000, 3)).Build(512);
  EXPECT_EQ(record[0x06], 9);
  EXPECT_TRUE(ApplyFixups(record, 4096));
  auto one = TRecordBuilder(4096).InUse().Data(Pattern(3000, 3)).Build(4096);
  EXPECT_EQ(one[0x06], 2);
  EXPECT_TRUE(ApplyFixups(one, 4096));
}

TEST(AttributeWalk, StaysInsideTheRecord) {
  auto record = TRecordBuilder(1024).InUse().StandardInfo().FileName(5, u"a.txt").Data(Pattern(40, 2)).Build(0);
  const TAttrIndex index = IndexAttributes(record);
  EXPECT_EQ(index.Slots[2].size(), 1u);
  EXPECT_EQ(index.Slots[1].size(), 1u);
  EXPECT_EQ(index.Slots[0].size(), 1u);

  // The data attribute claims to run past the record: it is left out and the walk ends.
  const std::size_t dataAt = index.Slots[0][0];
  PutLe32(record, dataAt + 4, 2000);
  const TAttrIndex cut = IndexAttributes(record);
  EXPECT_EQ(cut.Slots[1].size(), 1u);
  EXPECT_TRUE(cut.Slots[0].empty());
  EXPECT_FALSE(FindAttrInRecord(record, 0x80, -1));

  // A zero length ends the walk too.
  PutLe32(record, dataAt + 4, 0);
  EXPECT_TRUE(IndexAttributes(record).Slots[0].empty());

  // A resident value or a name that points outside its attribute reads as empty.
  auto odd = TRecordBuilder(1024).InUse().Data(Pattern(16, 2), u"s").Build(0);
  const std::size_t at = IndexAttributes(odd).Slots[0][0];
  PutLe32(odd, at + 0x10, 5000);
  const auto attr = TNtfsAttr::View(odd, at);
  ASSERT_TRUE(attr);
  EXPECT_TRUE(attr->Value().empty());
  odd[at + 9] = 200;
  EXPECT_FALSE(TNtfsAttr::View(odd, at)->Name());
}

TEST(AttributeWalk, FirstAttributeOffsetPastTheRecordYieldsNothingButCountsAsFound) {
  TTempDir dir;
  TNtfsImageBuilder image;
  auto record = image.NewRecord().StandardInfo().FileName(5, u"x").Build(0);
  PutLe16(record, 0x14, 1024);
  image.PutRecordBytes(20, record);
  TVolumeHandle handle;
  const auto reader = OpenReader(image.WriteTo(dir.Path()), handle);
  bool found = false;
  EXPECT_FALSE(reader->ReadFileInfo(0, found, 20));
  EXPECT_TRUE(found);
  // An in-use record, and an extension record, are not deleted base records.
  image.PutRecord(21, image.NewRecord().InUse().StandardInfo().FileName(5, u"live"));
  image.PutRecord(22, image.NewRecord().BaseRef(21).Data(Pattern(10, 1)));
  image.PutRecord(23, image.NewRecord().StandardInfo().FileName(5, u"gone"));
  TVolumeHandle handle2;
  const auto again = OpenReader(image.WriteTo(dir.Path()), handle2);
  for (std::int64_t recNo : {21, 22}) {
    EXPECT_FALSE(again->ReadFileInfo(ReadFileInfoFlags::DeletedBaseOnly, found, recNo));
    EXPECT_TRUE(found);
  }
  const auto gone = again->ReadFileInfo(ReadFileInfoFlags::DeletedBaseOnly, found, 23);
  ASSERT_TRUE(gone);
  EXPECT_TRUE(gone->Deleted);
  EXPECT_EQ(gone->RecNo, 23);
  // Zeroed positions are not records.
  EXPECT_FALSE(again->ReadFileInfo(0, found, 30));
  EXPECT_FALSE(found);
}

TRunList Decode(std::vector<std::uint8_t> Pairs, std::int64_t StartVcn = 0) {
  TRunList runs;
  DecodeMappingPairs(Pairs, StartVcn, runs);
  return runs;
}

TEST(MappingPairs, WorkedExamples) {
  EXPECT_EQ(Decode({0x21, 0x18, 0x34, 0x56, 0x11, 0x30, 0xE0, 0x00}),
            (TRunList{{0, 22068, 24}, {24, 22036, 48}}));
  EXPECT_EQ(Decode({0x01, 0x40, 0x00}), (TRunList{{0, -1, 64}}));
  // A header without a length field ends decoding; the runs before it stay.
  EXPECT_EQ(Decode({0x11, 0x05, 0x10, 0x30, 0x01, 0x02, 0x03, 0x00}), (TRunList{{0, 16, 5}}));
  // The first VCN of an extent carries on.
  EXPECT_EQ(Decode({0x11, 0x04, 0x20, 0x00}, 100), (TRunList{{100, 32, 4}}));
}

TEST(MappingPairs, DamageEndsDecodingInsideTheAttribute) {
  // Fields wider than 8 bytes.
  EXPECT_TRUE(Decode({0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0}).empty());
  EXPECT_EQ(Decode({0x11, 0x02, 0x10, 0x91, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 0}), (TRunList{{0, 16, 2}}));
  // A field running past the end of the pairs.
  EXPECT_TRUE(Decode({0x44, 0x01, 0x02}).empty());
  // No terminator: decoding stops at the end of the buffer.
  EXPECT_EQ(Decode({0x11, 0x01, 0x05}), (TRunList{{0, 5, 1}}));
  // A cluster number that goes below 0.
  EXPECT_EQ(Decode({0x11, 0x01, 0x05, 0x11, 0x01, 0xF0, 0x00}), (TRunList{{0, 5, 1}}));
  // A length no volume can hold.
  EXPECT_TRUE(Decode({0x18, 0, 0, 0, 0, 0, 0, 0, 0x10, 0}).empty());
}

TEST(MappingPairs, PresentButZeroOffsetIsAHoleExceptInTheFirstRun) {
  EXPECT_EQ(Decode({0x11, 0x02, 0x00, 0x00}), (TRunList{{0, 0, 2}}));
  EXPECT_EQ(Decode({0x11, 0x02, 0x10, 0x11, 0x03, 0x00, 0x11, 0x01, 0x04, 0x00}),
            (TRunList{{0, 16, 2}, {2, -1, 3}, {5, 20, 1}}));
}

TEST(MftRuns, RecordsAcrossTwoExtentsAreJoinedAndRecordsPastTheMftAreAbsent) {
  // 512-byte clusters and 1024-byte records: a run of an odd number of clusters splits a record.
  TNtfsGeometry g;
  g.ClusterSize = 512;
  g.Clusters = 4096;
  g.MftLcn = 64;
  g.MftRecords = 32;
  g.BitmapLcn = 200;
  g.FirstFreeLcn = 256;
  TNtfsImageBuilder image(g);
  // The MFT: 33 clusters at 64, then 31 at 300. Record 16 starts in the last cluster of the first run.
  const auto first = TRecordBuilder(1024).InUse().StandardInfo().FileName(5, u"$MFT").NonResidentData(
      {{33, 64}, {31, 300}}, 32 * 1024);
  image.PutRecord(0, first);
  const auto split = TRecordBuilder(1024).StandardInfo().FileName(5, u"split.txt").Data(Pattern(600, 9)).Build(512);
  image.PutBytes(64 * 512 + 16 * 1024, std::span(split).first(512));
  image.PutBytes(300 * 512, std::span(split).subspan(512));
  const auto later = TRecordBuilder(1024).StandardInfo().FileName(5, u"later.txt").Build(512);
  image.PutBytes(300 * 512 + 512 + 5 * 1024, later);  // record 22
  TTempDir dir;
  TVolumeHandle handle;
  const auto reader = OpenReader(image.WriteTo(dir.Path()), handle);
  ASSERT_EQ(reader->MftRuns().size(), 2u);
  EXPECT_EQ(reader->RecordCount(), 32);
  EXPECT_EQ(reader->GetMftRecOffset(15), 64 * 512 + 15 * 1024);
  EXPECT_EQ(reader->GetMftRecOffset(22), 300 * 512 + 512 + 5 * 1024);
  bool found = false;
  auto info = reader->ReadFileInfo(0, found, 16);
  ASSERT_TRUE(info);
  std::string name;
  reader->GetFileName(*info, name);
  EXPECT_EQ(name, "split.txt");
  info = reader->ReadFileInfo(0, found, 22);
  ASSERT_TRUE(info);
  reader->GetFileName(*info, name);
  EXPECT_EQ(name, "later.txt");
  // Past the MFT's runs no record exists, whatever lies after its first cluster.
  EXPECT_EQ(reader->GetMftRecOffset(40), -1);
  EXPECT_TRUE(reader->ReadMftRec(40).empty());
}

}  // namespace
}  // namespace kestrine::test
