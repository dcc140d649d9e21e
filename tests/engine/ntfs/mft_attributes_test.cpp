// Attribute lookups (direct and through $ATTRIBUTE_LIST) and the decoders built on them.

#include <gtest/gtest.h>

#include "engine/ntfs/mft_reader.h"
#include "engine/ntfs/mft_record.h"
#include "tests/engine/ntfs/ntfs_image_builder.h"
#include "tests/support/test_support.h"

namespace kestrine::test {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view S) { return {S.begin(), S.end()}; }

// A reader over a built volume, and records decoded from it.
class AttributeTest : public ::testing::Test {
 protected:
  void Open() {
    Handle = platform::TVolumeSource::Open(Image.WriteTo(Dir.Path()).string());
    Reader = std::make_unique<TMftReader>(Handle.get());
  }
  std::unique_ptr<TNtfsFileInfo> Record(std::int64_t RecNo) {
    bool found = false;
    return Reader->ReadFileInfo(0, found, RecNo);
  }
  std::unique_ptr<TNtfsFileInfo> Put(std::int64_t RecNo, const TRecordBuilder& Builder) {
    Image.PutRecord(RecNo, Builder);
    Open();
    return Record(RecNo);
  }
  TTempDir Dir;
  TNtfsImageBuilder Image;
  TVolumeHandle Handle;
  std::unique_ptr<TMftReader> Reader;
};

TEST_F(AttributeTest, NamesByNamespace) {
  struct TCase {
    TRecordBuilder Builder;
    std::string Name;
    std::int64_t Parent;
  };
  std::vector<TCase> cases = {
      // DOS first, Win32 second: the Win32 name and its parent.
      {Image.NewRecord().FileName(0x000300000000002A, u"LONGNA~1.TXT", 2).FileName(0x0002000000000029, u"Long name.txt", 1),
       "Long name.txt", 0x29},
      {Image.NewRecord().FileName(40, u"posix:only", 0), "posix:only", 40},
      {Image.NewRecord().FileName(41, u"both.txt", 3), "both.txt", 41},
      // Only a DOS name: empty, and the parent stays 0.
      {Image.NewRecord().FileName(42, u"SHORT.TXT", 2), "", 0},
      // Characters beyond the Basic Multilingual Plane and unpaired surrogates.
      {Image.NewRecord().FileName(43, u"Привет \U0001F600 caf\u00e9", 1), "Привет \xF0\x9F\x98\x80 café", 43},
      {Image.NewRecord().FileName(44, std::u16string(u"a") + char16_t(0xD800) + u"b", 1), "a\xEF\xBF\xBD" "b", 44},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) Image.PutRecord(20 + static_cast<std::int64_t>(i), cases[i].Builder);
  Open();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    auto info = Record(20 + static_cast<std::int64_t>(i));
    ASSERT_TRUE(info);
    std::string name = "x";
    Reader->GetFileName(*info, name);
    EXPECT_EQ(name, cases[i].Name) << i;
    EXPECT_EQ(info->ParentRef, cases[i].Parent) << i;
  }
}

TEST_F(AttributeTest, AFileNameLongerThanItsValueIsPassedOver) {
  auto record = Image.NewRecord().FileName(50, u"good.txt").Build(0);
  const std::size_t at = IndexAttributes(record).Slots[1][0];
  record[at + 0x18 + 0x40] = 200;  // 200 units in a value of 0x42 + 16 bytes
  Image.PutRecordBytes(20, TRecordBuilder(1024).Build(0));
  Image.PutBytes(Image.RecordOffset(20), record);
  Open();
  auto info = Record(20);
  ASSERT_TRUE(info);
  std::string name = "x";
  Reader->GetFileName(*info, name);
  EXPECT_EQ(name, "");
  EXPECT_EQ(info->ParentRef, 0);
}

TEST_F(AttributeTest, StandardInformationFlags) {
  auto info = Put(20, Image.NewRecord().StandardInfo(0x4820, 111, 222));
  ASSERT_TRUE(info);
  TFileInfo item;
  EXPECT_TRUE(Reader->GetStandardInfo(item, *info));
  EXPECT_EQ(item.Attributes, 0x4820u);
  EXPECT_EQ(item.CreationTime, 111u);
  EXPECT_EQ(item.LastWriteTime, 222u);
  EXPECT_TRUE(info->Compressed);
  EXPECT_TRUE(info->Encrypted);
  // None, or one too short to hold the flags.
  auto none = Put(21, Image.NewRecord().FileName(5, u"x"));
  EXPECT_FALSE(Reader->GetStandardInfo(item, *none));
  const std::vector<std::uint8_t> shortValue(0x20);
  auto cut = Put(22, Image.NewRecord().Resident(0x10, u"", shortValue));
  EXPECT_FALSE(Reader->GetStandardInfo(item, *cut));
}

TEST_F(AttributeTest, SizesAndStreams) {
  const auto alpha = Bytes("alpha stream");
  auto onlyNamed = Put(20, Image.NewRecord().Data(alpha, u"alpha"));
  EXPECT_EQ(Reader->GetFileSize(*onlyNamed), 0);

  auto streams = Put(21, Image.NewRecord()
                             .NonResidentData({{3, 100}}, 10000, u"", 4)
                             .Data(alpha, u"Zone")
                             .Data(Bytes("second"), u"ZONE")
                             .NonResidentData({{1, 120}}, 700, u"thumb"));
  EXPECT_EQ(Reader->GetFileSize(*streams), 10000);
  EXPECT_EQ(streams->CompressionUnit, 4);
  TNtfsDataStreamInfoArr list;
  Reader->GetFileStreams(*streams, list);
  // Names that differ only in case are one stream: the first one counts.
  EXPECT_EQ(list, (TNtfsDataStreamInfoArr{{"", 10000}, {"Zone", 12}, {"thumb", 700}}));

  TRunList runs;
  auto resident = Reader->GetFileDataStreamsRunList(*streams, "zone", runs);
  ASSERT_TRUE(resident);
  EXPECT_FALSE(resident->NonResident());
  EXPECT_EQ(resident->StreamSize(), 12u);
  EXPECT_TRUE(runs.empty());
  auto main = Reader->GetFileDataStreamsRunList(*streams, "", runs);
  ASSERT_TRUE(main);
  EXPECT_EQ(main->DataSize(), 10000u);
  EXPECT_EQ(runs, (TRunList{{0, 100, 3}}));
  EXPECT_FALSE(Reader->GetFileDataStreamsRunList(*streams, "missing", runs));
  EXPECT_TRUE(runs.empty());
}

TEST_F(AttributeTest, EfsMetadata) {
  std::vector<std::uint8_t> meta(0x238, 0xEE);
  PutLe32(meta, 0, 0x238);
  auto resident = Put(20, Image.NewRecord().Resident(0x100, u"$efs", meta));
  EXPECT_EQ(Reader->GetEfsData(*resident), meta);
  std::vector<std::uint8_t> cluster(4096, 0xAB);
  PutLe32(cluster, 0, 0x300);
  Image.PutClusters(130, cluster);
  auto outside = Put(21, Image.NewRecord().Resident(0x100, u"$TXF_DATA", meta).NonResident(0x100, u"$EFS", {{1, 130}}, 0x300));
  const auto read = Reader->GetEfsData(*outside);
  ASSERT_EQ(read.size(), 0x300u);
  EXPECT_EQ(read[0], 0x00);
  EXPECT_EQ(read[5], 0xAB);
  auto none = Put(22, Image.NewRecord().Resident(0x100, u"$TXF_DATA", meta));
  EXPECT_TRUE(Reader->GetEfsData(*none).empty());
}

// Record 30 keeps its names and data in records 31 and 32 through an attribute list.
TEST_F(AttributeTest, AttributeListLookupsReadTheRecordsItNames) {
  Image.PutRecord(31, Image.NewRecord().BaseRef(30).FileName(5, u"first.txt").NonResidentData({{2, 100}}, 20000));
  auto extent = Image.NewRecord().BaseRef(30);
  extent.NonResident(0x80, u"", {{3, 200}}, 20000, 0, 2);  // VCN 2 on
  extent.Data(Bytes("named"), u"side");
  Image.PutRecord(32, extent);
  const std::vector<TListEntry> list = {
      {0x10, 30, 0}, {0x30, 31, 0}, {0x80, 31, 1}, {0x80, 32, 0, 2}, {0x80, 32, 1, 0, u"side"},
  };
  auto info = Put(30, Image.NewRecord().StandardInfo(0x20).AttributeList(list));
  ASSERT_TRUE(info);
  ASSERT_TRUE(info->HasAttributeList());
  std::string name;
  Reader->GetFileName(*info, name);
  EXPECT_EQ(name, "first.txt");
  EXPECT_EQ(info->ParentRef, 5);
  TFileInfo item;
  EXPECT_TRUE(Reader->GetStandardInfo(item, *info));  // found again in the base record itself
  EXPECT_EQ(Reader->GetFileSize(*info), 20000);
  TRunList runs;
  Reader->GetFileRunList(*info, runs);
  EXPECT_EQ(runs, (TRunList{{0, 100, 2}, {2, 200, 3}}));
  TNtfsDataStreamInfoArr streams;
  Reader->GetFileStreams(*info, streams);
  EXPECT_EQ(streams, (TNtfsDataStreamInfoArr{{"", 20000}, {"side", 5}}));

  // The lookup hands out copies and walks the list once per open.
  TNtfsAttrLookupContext context;
  Reader->OpenAttrSearchContext(*info, 0x80, context);
  int seen = 0;
  while (auto attr = Reader->FindNextAttr(context)) {
    EXPECT_TRUE(context.ByList);
    ++seen;
  }
  Reader->CloseAttrSearchContext(context);
  EXPECT_EQ(seen, 3);
}

// A driver that deletes a file may shrink a non-resident list's recorded size without writing the
// entries back: an entry reaching past that size still counts, a left-behind copy of one inside it
// does not.
TEST_F(AttributeTest, NonResidentListsAreReadToTheirLastCluster) {
  Image.PutRecord(51, Image.NewRecord().BaseRef(50).FileName(5, u"shrunk.txt").NonResidentData({{1, 100}}, 4096).Data(
                          Bytes("named"), u"side"));
  const std::vector<TListEntry> list = {
      {0x10, 50, 0}, {0x30, 51, 0}, {0x80, 51, 1}, {0x80, 51, 2, 0, u"side"}, {0x80, 51, 1},
  };
  Image.PutClusters(70, EncodeAttributeList(list));
  const std::uint64_t recorded = 3 * 0x20 + 8;  // cuts the entry of "side"
  auto info = Put(50, Image.NewRecord().StandardInfo().NonResident(0x20, u"", {{1, 70}}, recorded));
  ASSERT_TRUE(info);
  std::string name;
  Reader->GetFileName(*info, name);
  EXPECT_EQ(name, "shrunk.txt");
  TNtfsDataStreamInfoArr streams;
  Reader->GetFileStreams(*info, streams);
  EXPECT_EQ(streams, (TNtfsDataStreamInfoArr{{"", 4096}, {"side", 5}}));
  TRunList runs;
  Reader->GetFileRunList(*info, runs);
  EXPECT_EQ(runs, (TRunList{{0, 100, 1}}));
}

TEST_F(AttributeTest, AttributeListsPointingAtMissingForeignOrLoopingRecords) {
  // 41 is not a record, 42 now belongs to another file, 43 is named twenty times.
  Image.PutRecord(42, Image.NewRecord().BaseRef(99).FileName(5, u"foreign.txt"));
  Image.PutRecord(43, Image.NewRecord().BaseRef(40).FileName(5, u"looped.txt"));
  std::vector<TListEntry> list = {{0x30, 41, 0}, {0x30, 42, 0}, {0x30, 700000, 0}};
  for (int i = 0; i < 20; ++i) list.push_back({0x30, 43, 0});
  auto info = Put(40, Image.NewRecord().StandardInfo().AttributeList(list));
  ASSERT_TRUE(info);
  std::string name;
  Reader->GetFileName(*info, name);
  EXPECT_EQ(name, "looped.txt");
  TNtfsAttrLookupContext context;
  Reader->OpenAttrSearchContext(*info, 0x30, context);
  int seen = 0;
  while (Reader->FindNextAttr(context)) ++seen;
  Reader->CloseAttrSearchContext(context);
  EXPECT_EQ(seen, 20);  // each entry once, then the end

  // A list entry whose length runs past the list ends it.
  auto record = Image.NewRecord().StandardInfo().AttributeList({{0x30, 43, 0}}).Build(0);
  const std::size_t at = IndexAttributes(record).Slots[3][0];
  PutLe16(record, at + 0x18 + 4, 0x400);
  Image.PutBytes(Image.RecordOffset(44), record);
  Open();
  auto broken = Record(44);
  ASSERT_TRUE(broken);
  Reader->GetFileName(*broken, name);
  EXPECT_EQ(name, "");
}

}  // namespace
}  // namespace kestrine::test
