// The NTFS recovery stream: resident, plain, sparse and compressed data, named streams, and the raw
// form of encrypted files.

#include <gtest/gtest.h>

#include "engine/ntfs/efs_raw.h"
#include "engine/ntfs/ntfs_stream.h"
#include "engine/volume/byte_order.h"
#include "tests/engine/ntfs/ntfs_image_builder.h"
#include "tests/support/test_support.h"

namespace kestrine::test {
namespace {

constexpr std::uint32_t kCluster = 4096;

std::vector<std::uint8_t> RepeatChunk(std::uint8_t Byte) { return {0x03, 0xB0, 0x02, Byte, 0xFC, 0x0F}; }

// A chunk that could not be compressed: stored as it is.
std::vector<std::uint8_t> StoredChunk(const std::vector<std::uint8_t>& Data) {
  std::vector<std::uint8_t> chunk = {0xFF, 0x3F};
  chunk.insert(chunk.end(), Data.begin(), Data.end());
  return chunk;
}

class StreamTest : public ::testing::Test {
 protected:
  PFileInfo Scan(std::int64_t RecNo) {
    if (!Result) Result = ScanNtfsImage(Image.WriteTo(Dir.Path()));
    return Result->File(RecNo);
  }
  TTempDir Dir;
  TNtfsImageBuilder Image;
  std::unique_ptr<TNtfsScan> Result;
};

TRecordBuilder Deleted(const TNtfsImageBuilder& Image, std::u16string_view Name, std::uint32_t Flags = 0x20) {
  auto r = Image.NewRecord();
  r.StandardInfo(Flags).FileName(5, Name);
  return r;
}

TEST_F(StreamTest, ResidentDataInPieces) {
  const auto data = Pattern(300, 1);
  Image.PutRecord(20, Deleted(Image, u"tiny.txt").Data(data));
  PFileInfo item = Scan(20);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Condition, 100);
  TRecoveryNtfsStream stream(item->Disk, item);
  std::vector<std::uint8_t> buf(250);
  EXPECT_EQ(stream.Read(buf.data(), 250), 250u);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), data.begin()));
  EXPECT_EQ(stream.Read(buf.data(), 250), 50u);
  EXPECT_EQ(buf[49], data[299]);
  EXPECT_EQ(stream.Read(buf.data(), 250), 0u);
  EXPECT_EQ(stream.Seek(10, TSeekOrigin::End), 290);
  EXPECT_EQ(stream.Read(buf.data(), 250), 10u);
  EXPECT_EQ(buf[9], data[299]);
}

TEST_F(StreamTest, PlainSparseAndPartlyInitializedData) {
  const auto clusters = Pattern(3 * kCluster, 2);
  Image.PutClusters(100, clusters);
  // 5000 bytes in two clusters: the read stops at the data's end, not at the cluster's.
  Image.PutRecord(20, Deleted(Image, u"plain.bin").NonResidentData({{2, 100}}, 5000));
  // One stored cluster, a hole of two, one more stored: the hole reads as zeros.
  Image.PutRecord(21, Deleted(Image, u"sparse.bin", 0x220).NonResidentData({{1, 100}, {2, -1}, {1, 102}}, 4 * kCluster));
  // Only the first 1000 bytes were ever written: the rest of the cluster reads as zeros.
  Image.PutRecord(22, Deleted(Image, u"init.bin").NonResident(0x80, u"", {{1, 101}}, 4000, 0, 0, 1000));
  PFileInfo plain = Scan(20);
  ASSERT_NE(plain, nullptr);
  TRecoveryNtfsStream stream(plain->Disk, plain);
  std::vector<std::uint8_t> buf(65536);
  EXPECT_EQ(stream.Read(buf.data(), 65536), 5000u);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 5000, clusters.begin()));
  EXPECT_EQ(stream.Read(buf.data(), 65536), 0u);

  const auto sparse = ReadWholeStream(Scan(21));
  ASSERT_EQ(sparse.size(), 4u * kCluster);
  EXPECT_TRUE(std::equal(sparse.begin(), sparse.begin() + kCluster, clusters.begin()));
  EXPECT_TRUE(std::all_of(sparse.begin() + kCluster, sparse.begin() + 3 * kCluster, [](auto B) { return B == 0; }));
  EXPECT_TRUE(std::equal(sparse.begin() + 3 * kCluster, sparse.end(), clusters.begin() + 2 * kCluster));

  const auto init = ReadWholeStream(Scan(22));
  ASSERT_EQ(init.size(), 4000u);
  EXPECT_TRUE(std::equal(init.begin(), init.begin() + 1000, clusters.begin() + kCluster));
  EXPECT_TRUE(std::all_of(init.begin() + 1000, init.end(), [](auto B) { return B == 0; }));
}

TEST_F(StreamTest, CompressedUnitWithASparseTail) {
  // Unit 0: 16 chunks in 10 stored clusters, then 6 sparse ones; unit 1: one more chunk, short.
  std::vector<std::uint8_t> stored;
  for (int i = 0; i < 16; ++i) {
    const auto chunk = RepeatChunk(static_cast<std::uint8_t>('A' + i));
    stored.insert(stored.end(), chunk.begin(), chunk.end());
  }
  stored.resize(10 * kCluster);
  Image.PutClusters(100, stored);
  std::vector<std::uint8_t> tail = RepeatChunk('z');
  tail.resize(kCluster);
  Image.PutClusters(110, tail);
  Image.PutRecord(20, Deleted(Image, u"packed.log", 0x820).NonResidentData({{10, 100}, {6, -1}, {1, 110}, {15, -1}},
                                                                            65536 + 3000, u"", 4));
  PFileInfo item = Scan(20);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Condition, 100);
  const auto data = ReadWholeStream(item);
  ASSERT_EQ(data.size(), 65536u + 3000);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(data[i * 4096 + 123], 'A' + i) << i;
  EXPECT_EQ(data[65536 + 2999], 'z');

  // A read that starts inside the sparse tail, or goes back, is served from the decompressed unit.
  TRecoveryNtfsStream stream(item->Disk, item);
  std::uint8_t byte = 0;
  stream.Seek(50000, TSeekOrigin::Beginning);
  ASSERT_EQ(stream.Read(&byte, 1), 1u);
  EXPECT_EQ(byte, 'A' + 50000 / 4096);
  stream.Seek(66000, TSeekOrigin::Beginning);
  ASSERT_EQ(stream.Read(&byte, 1), 1u);
  EXPECT_EQ(byte, 'z');
  stream.Seek(5, TSeekOrigin::Beginning);
  ASSERT_EQ(stream.Read(&byte, 1), 1u);
  EXPECT_EQ(byte, 'A');
}

TEST_F(StreamTest, CompressedUnitStoredInTwoRunsAndUnitsThatStartWithAStoredChunk) {
  // Four stored chunks (16392 bytes) cross from a 4-cluster run into a 6-cluster one.
  std::vector<std::uint8_t> stored, expected;
  for (int i = 0; i < 16; ++i) {
    if (i < 4) {
      const auto plain = Pattern(4096, 10 + i);
      const auto chunk = StoredChunk(plain);
      stored.insert(stored.end(), chunk.begin(), chunk.end());
      expected.insert(expected.end(), plain.begin(), plain.end());
    } else {
      const auto chunk = RepeatChunk(static_cast<std::uint8_t>(i));
      stored.insert(stored.end(), chunk.begin(), chunk.end());
      expected.insert(expected.end(), 4096, static_cast<std::uint8_t>(i));
    }
  }
  stored.resize(10 * kCluster);
  Image.PutClusters(100, std::span(stored).first(4 * kCluster));
  Image.PutClusters(200, std::span(stored).subspan(4 * kCluster));
  Image.PutRecord(20, Deleted(Image, u"fragmented.log", 0x820).NonResidentData({{4, 100}, {6, 200}, {6, -1}}, 65536,
                                                                                u"", 4));
  // A unit whose first chunk could not be compressed (stored, header bit 15 clear).
  const auto raw = Pattern(4096, 99);
  std::vector<std::uint8_t> mixed = StoredChunk(raw);
  for (int i = 1; i < 16; ++i) {
    const auto chunk = RepeatChunk(static_cast<std::uint8_t>(i));
    mixed.insert(mixed.end(), chunk.begin(), chunk.end());
  }
  mixed.resize(2 * kCluster);
  Image.PutClusters(300, mixed);
  Image.PutRecord(21, Deleted(Image, u"mixed.bin", 0x820).NonResidentData({{2, 300}, {14, -1}}, 65536, u"", 4));

  EXPECT_EQ(ReadWholeStream(Scan(20)), expected);
  const auto second = ReadWholeStream(Scan(21));
  ASSERT_EQ(second.size(), 65536u);
  EXPECT_TRUE(std::equal(raw.begin(), raw.end(), second.begin()));
  EXPECT_EQ(second[4096 * 15], 15);
}

TEST_F(StreamTest, NamedStreamsAreReadWholeWhateverTheMainSize) {
  const auto big = Pattern(3 * kCluster - 100, 4);
  Image.PutClusters(100, big);
  Image.PutRecord(20, Deleted(Image, u"with streams.txt")
                          .Data(Pattern(10, 5))
                          .NonResidentData({{3, 100}}, big.size(), u"thumbnail")
                          .Data(Pattern(26, 6), u"Zone.Identifier"));
  PFileInfo item = Scan(20);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Info<TNtfsFileInfo>()->NamedStreams().size(), 2u);
  EXPECT_EQ(ReadWholeStream(item, "thumbnail"), big);
  EXPECT_EQ(ReadWholeStream(item, "zone.identifier"), Pattern(26, 6));
  TRecoveryNtfsStream named(item->Disk, "thumbnail", item);
  EXPECT_EQ(named.GetSize(), static_cast<std::int64_t>(big.size()));
  TRecoveryNtfsStream missing(item->Disk, "nothing", item);
  EXPECT_FALSE(missing.Found());
  std::uint8_t byte;
  EXPECT_EQ(missing.Read(&byte, 1), 0u);
}

TEST_F(StreamTest, RunsOffTheVolumeCutTheStreamAndNeverHang) {
  // A stream holds at most what its runs hold inside the volume: here 4 clusters of the 10 GiB
  // recorded. (Clusters off the volume once read as zeros, and the whole 10 GiB was delivered.)
  Image.PutClusters(400, Pattern(4 * kCluster, 8));
  Image.PutRecord(20, Deleted(Image, u"far.bin").NonResidentData({{4, 400}, {1000000, 600}}, 10ull << 30));
  // A terabyte claimed over one cluster.
  Image.PutRecord(21, Deleted(Image, u"huge.bin").NonResidentData({{1, 400}}, 1ull << 40));
  // Holes are held whatever their length; a recorded size beyond the allocated one is damage.
  Image.PutRecord(22, Deleted(Image, u"holes.bin", 0x220).NonResidentData({{1, 400}, {11, -1}}, 20 * kCluster));
  // Inside the volume nothing is cut.
  Image.PutRecord(23, Deleted(Image, u"fits.bin").NonResidentData({{2, 400}}, 2 * kCluster - 1));
  PFileInfo item = Scan(20);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Condition, 0);
  EXPECT_EQ(item->Size, 10ll << 30) << "the listed size stays as recorded";
  TRecoveryNtfsStream stream(item->Disk, item);
  EXPECT_EQ(stream.GetSize(), 4 * kCluster);
  EXPECT_EQ(EnglishText(stream.SizeCut()), "its runs hold only 16384 of its recorded 10737418240 bytes inside the volume; "
                              "cut to 16384 bytes");
  EXPECT_EQ(ReadWholeStream(item), Pattern(4 * kCluster, 8));
  std::vector<std::uint8_t> buf(65536, 0xCC);
  stream.Seek(2ll << 30, TSeekOrigin::Beginning);
  EXPECT_EQ(stream.Read(buf.data(), 65536), 0u);

  TRecoveryNtfsStream huge(Scan(21)->Disk, Scan(21));
  EXPECT_EQ(huge.GetSize(), kCluster);
  EXPECT_NE(EnglishText(huge.SizeCut()).find("cut to 4096 bytes"), std::string::npos);

  TRecoveryNtfsStream holes(Scan(22)->Disk, Scan(22));
  EXPECT_EQ(holes.GetSize(), 12 * kCluster);
  EXPECT_EQ(EnglishText(holes.SizeCut()), "its recorded size of 81920 bytes is more than the 49152 bytes allocated to it; "
                             "cut to 49152 bytes");
  const auto data = ReadWholeStream(Scan(22));
  ASSERT_EQ(data.size(), 12u * kCluster);
  EXPECT_TRUE(std::all_of(data.begin() + kCluster, data.end(), [](auto B) { return B == 0; }));

  TRecoveryNtfsStream fits(Scan(23)->Disk, Scan(23));
  EXPECT_EQ(fits.GetSize(), 2 * kCluster - 1);
  EXPECT_EQ(EnglishText(fits.SizeCut()), "");
}

// Read alone against ranges copied from the image with Read for the rest, from position From on.
void ExpectRangesGiveWhatReadGives(PFileInfo Item, int ExpectedRanges, std::int64_t From = 0) {
  ASSERT_NE(Item, nullptr);
  TRecoveryNtfsStream reader(Item->Disk, Item);
  reader.Seek(From, TSeekOrigin::Beginning);
  std::vector<std::uint8_t> expected, block(65536);
  while (const std::uint32_t n = reader.Read(block.data(), 65536)) expected.insert(expected.end(), block.begin(), block.begin() + n);
  for (const std::int64_t max : {std::int64_t{1} << 20, std::int64_t{5000}}) {
    TRecoveryNtfsStream stream(Item->Disk, Item);
    stream.Seek(From, TSeekOrigin::Beginning);
    int ranges = 0;
    EXPECT_EQ(ReadByVolumeRanges(stream, Item->Disk->SourcePath, max, &ranges), expected)
        << Item->Name << " from " << From << ", ranges of " << max;
    if (max == std::int64_t{1} << 20) {
      EXPECT_EQ(ranges, ExpectedRanges) << Item->Name << " from " << From;
    }
  }
}

TEST_F(StreamTest, VolumeRangesCoverStoredPlainDataAndNothingReadMakesItself) {
  Image.PutClusters(100, Pattern(12 * kCluster, 3));
  Image.PutClusters(120, Pattern(20 * kCluster, 5));
  // Three runs apart from one another, a hole longer than a read between two runs, a partly
  // initialized cluster.
  Image.PutRecord(20, Deleted(Image, u"fragmented.bin").NonResidentData({{2, 100}, {1, 110}, {3, 104}}, 6 * kCluster - 10));
  Image.PutRecord(21, Deleted(Image, u"sparse.bin", 0x220).NonResidentData({{1, 100}, {20, -1}, {20, 120}}, 41 * kCluster));
  Image.PutRecord(22, Deleted(Image, u"init.bin").NonResident(0x80, u"", {{1, 101}}, 4000, 0, 0, 1000));
  // Runs into the clusters past the volume's last one.
  Image.PutRecord(23, Deleted(Image, u"edge.bin").NonResidentData({{4, 510}}, 4 * kCluster));
  // Runs that start at cluster 3: Read has nothing for a unit that does not start with a run.
  Image.PutRecord(24, Deleted(Image, u"late.bin").NonResident(0x80, u"", {{20, 120}}, 24 * kCluster, 0, 3));
  // Resident, compressed and encrypted data are made by Read.
  Image.PutRecord(25, Deleted(Image, u"tiny.txt").Data(Pattern(300, 1)));
  std::vector<std::uint8_t> packed;
  for (int i = 0; i < 16; ++i) {
    const auto chunk = RepeatChunk(static_cast<std::uint8_t>('A' + i));
    packed.insert(packed.end(), chunk.begin(), chunk.end());
  }
  Image.PutClusters(200, packed);
  Image.PutRecord(26, Deleted(Image, u"packed.log", 0x820).NonResidentData({{1, 200}, {15, -1}}, 65536, u"", 4));
  std::vector<std::uint8_t> meta(0x238, 0x5A);
  PutLe32(meta, 0, 0x238);
  Image.PutRecord(27, Deleted(Image, u"secret.doc", 0x4020).NonResidentData({{2, 100}}, 8000).Resident(0x100, u"$EFS", meta));

  ExpectRangesGiveWhatReadGives(Scan(20), 3);
  ExpectRangesGiveWhatReadGives(Scan(20), 3, 100);
  ExpectRangesGiveWhatReadGives(Scan(20), 2, 2 * kCluster + 7);
  ExpectRangesGiveWhatReadGives(Scan(21), 2);
  ExpectRangesGiveWhatReadGives(Scan(22), 1);
  ExpectRangesGiveWhatReadGives(Scan(23), 1);
  ExpectRangesGiveWhatReadGives(Scan(24), 0);
  ExpectRangesGiveWhatReadGives(Scan(24), 0, 3 * kCluster);
  ExpectRangesGiveWhatReadGives(Scan(24), 1, 16 * kCluster);
  ExpectRangesGiveWhatReadGives(Scan(25), 0);
  ExpectRangesGiveWhatReadGives(Scan(26), 0);
  ExpectRangesGiveWhatReadGives(Scan(27), 0);
  ASSERT_TRUE(Scan(27)->Info<TNtfsFileInfo>()->IsEncrypted());
}

TEST_F(StreamTest, AVolumeRangeHoldsOnlyTheClustersTheImageHoldsWhole) {
  Image.PutClusters(449, Pattern(2 * kCluster, 7));
  Image.PutRecord(20, Deleted(Image, u"cut.bin").NonResidentData({{4, 449}}, 4 * kCluster));
  const auto image = Image.WriteTo(Dir.Path());
  std::filesystem::resize_file(image, 450 * kCluster + 100);
  Result = ScanNtfsImage(image);
  ExpectRangesGiveWhatReadGives(Result->File(20), 1);
  TRecoveryNtfsStream stream(Result->Disk.get(), Result->File(20));
  const TVolumeRange range = stream.NextVolumeRange(1 << 20);
  EXPECT_EQ(range.Offset, 449 * std::int64_t{kCluster});
  EXPECT_EQ(range.Length, kCluster) << "the cut cluster is past the volume: Read's";
}

TEST(EfsRaw, HeaderAroundTheMetadata) {
  std::vector<std::uint8_t> meta(0x238, 0x5A);
  PutLe32(meta, 0, 0x238);
  const auto header = BuildEfsRawHeader(meta);
  ASSERT_EQ(header.size(), 676u);
  EXPECT_EQ(ReadLe32(header, 0x00), 0x100u);
  EXPECT_EQ(std::string(header.begin() + 4, header.begin() + 12), std::string("R\0O\0B\0S\0", 8));
  EXPECT_EQ(ReadLe32(header, 0x14), 30u);
  EXPECT_EQ(ReadLe16(header, 0x30), 0x1910);
  EXPECT_EQ(ReadLe32(header, 0x32), 0x248u);
  EXPECT_EQ(std::string(header.begin() + 0x36, header.begin() + 0x3E), std::string("G\0U\0R\0E\0", 8));
  EXPECT_TRUE(std::equal(meta.begin(), meta.end(), header.begin() + 0x42));
  const auto stream = std::span(header).subspan(0x42 + 0x238);
  EXPECT_EQ(ReadLe32(stream, 0), 42u);
  EXPECT_EQ(ReadLe32(stream, 0x18), 14u);
  EXPECT_EQ(std::string(stream.begin() + 0x1C, stream.end()), std::string(":\0:\0$\0D\0A\0T\0A\0", 14));
  EXPECT_EQ(EfsTemplate1().size(), 66u);
  EXPECT_EQ(ReadLe32(EfsTemplate1(), 0x32), 568u);

  PutLe32(meta, 0, 0);
  EXPECT_TRUE(BuildEfsRawHeader(meta).empty());
  PutLe32(meta, 0, 65537);
  EXPECT_TRUE(BuildEfsRawHeader(meta).empty());
  PutLe32(meta, 0, 0x239);  // more than the metadata holds
  EXPECT_TRUE(BuildEfsRawHeader(meta).empty());
}

TEST(EfsRaw, BlockHeaders) {
  const auto h1000 = BuildEfsBlockHeader(1000, 0);
  EXPECT_EQ(ReadLe32(h1000, 0x00), 1536u);
  EXPECT_EQ(std::string(h1000.begin() + 4, h1000.begin() + 12), std::string("G\0U\0R\0E\0", 8));
  EXPECT_EQ(ReadLe64(h1000, 0x10), 0u);
  EXPECT_EQ(ReadLe32(h1000, 0x18), 496u);
  EXPECT_EQ(ReadLe32(h1000, 0x1C), 1000u);
  EXPECT_EQ(ReadLe32(h1000, 0x20), 1000u);
  EXPECT_EQ(ReadLe64(h1000, 0x24), 0x0001010910100000u);
  EXPECT_EQ(ReadLe32(h1000, 0x2C), 1024u);
  const auto full = BuildEfsBlockHeader(65536, 0);
  EXPECT_EQ(ReadLe32(full, 0x00), 65536u + 512);
  EXPECT_EQ(ReadLe32(full, 0x2C), 65536u);
  const auto empty = BuildEfsBlockHeader(0, 1);
  EXPECT_EQ(ReadLe32(empty, 0x00), 512u);
  EXPECT_EQ(ReadLe32(empty, 0x2C), 0u);
  EXPECT_EQ(ReadLe64(BuildEfsBlockHeader(100, 3), 0x10), 196608u);
  EXPECT_EQ(EfsBlockCount(65536), 2);
  EXPECT_EQ(EfsBlockCount(0), 1);
  EXPECT_EQ(EfsRawLength(676, 0), 676 + 512);
  EXPECT_FALSE(EfsRawApiAvailable);
}

TEST_F(StreamTest, EncryptedFilesAreDeliveredInTheirRawForm) {
  std::vector<std::uint8_t> meta(0x238, 0x5A);
  PutLe32(meta, 0, 0x238);
  const auto cipher = Pattern(18 * kCluster, 8);
  Image.PutClusters(100, cipher);
  auto encrypted = [&](std::u16string_view Name, std::uint64_t Size, std::uint64_t Clusters) {
    auto r = Deleted(Image, Name, 0x4020);
    r.NonResidentData({{Clusters, 100}}, Size).Resident(0x100, u"$EFS", meta);
    return r;
  };
  Image.PutRecord(20, encrypted(u"secret.doc", 70000, 18));
  Image.PutRecord(21, encrypted(u"exact.doc", 65536, 16));
  Image.PutRecord(22, encrypted(u"empty.doc", 0, 0));
  Image.PutRecord(23, Deleted(Image, u"no metadata.doc", 0x4020).NonResidentData({{1, 100}}, 1000));

  PFileInfo item = Scan(20);
  ASSERT_NE(item, nullptr);
  ASSERT_TRUE(item->Info<TNtfsFileInfo>()->IsEncrypted());
  const auto raw = ReadWholeStream(item);
  const std::size_t h = 676;
  ASSERT_EQ(raw.size(), h + 512 + 65536 + 512 + 4608);
  EXPECT_EQ(ReadLe32(raw, 0x32), 0x248u);
  EXPECT_EQ(ReadLe32(raw, h + 0x1C), 65536u);
  EXPECT_TRUE(std::equal(raw.begin() + h + 512, raw.begin() + h + 512 + 65536, cipher.begin()));
  const std::size_t block1 = h + 66048;
  EXPECT_EQ(ReadLe32(raw, block1 + 0x1C), 4464u);
  EXPECT_EQ(ReadLe32(raw, block1 + 0x2C), 4608u);
  EXPECT_EQ(ReadLe32(raw, block1 + 0x12), 1u);
  // The last block carries whole 512-byte units of ciphertext, past the file's size.
  EXPECT_TRUE(std::equal(raw.begin() + block1 + 512, raw.end(), cipher.begin() + 65536));
  TRecoveryNtfsStream stream(item->Disk, item);
  EXPECT_EQ(stream.GetSize(), static_cast<std::int64_t>(raw.size()));
  EXPECT_EQ(stream.EfsHeaderLength(), h);

  const auto exact = ReadWholeStream(Scan(21));
  ASSERT_EQ(exact.size(), h + 512 + 65536 + 512);
  EXPECT_EQ(ReadLe32(exact, h + 66048), 512u);
  EXPECT_EQ(ReadLe32(exact, h + 66048 + 0x1C), 0u);
  const auto empty = ReadWholeStream(Scan(22));
  ASSERT_EQ(empty.size(), h + 512);
  EXPECT_EQ(ReadLe32(empty, h + 0x1C), 0u);

  // Without metadata the file counts as plain: its stored bytes come as they are.
  PFileInfo plain = Scan(23);
  const auto stored = ReadWholeStream(plain);
  EXPECT_TRUE(std::equal(stored.begin(), stored.end(), cipher.begin()));
  EXPECT_EQ(stored.size(), 1000u);
  EXPECT_FALSE(plain->Info<TNtfsFileInfo>()->IsEncrypted());
}

TEST_F(StreamTest, ASourceCutShortEndsTheReadAtTheFirstClusterItDoesNotHold) {
  Image.PutClusters(440, Pattern(12 * kCluster, 9));
  // Plain data across the cut: only the cluster before it is delivered, never zeros for the rest.
  Image.PutRecord(20, Deleted(Image, u"cut.bin").NonResidentData({{4, 448}}, 4 * kCluster));
  // Past the initialized size the bytes are zeros whether or not they can be read.
  Image.PutRecord(21, Deleted(Image, u"init.bin").NonResident(0x80, u"", {{2, 449}}, 2 * kCluster, 0, 0, kCluster));
  // A hole past the cut is no read.
  Image.PutRecord(22, Deleted(Image, u"sparse.bin", 0x220).NonResidentData({{1, 449}, {3, -1}}, 4 * kCluster));
  // A compressed unit whose stored clusters pass the cut cannot be decompressed: nothing of it.
  std::vector<std::uint8_t> packed;
  for (int i = 0; i < 16; ++i) {
    const auto chunk = RepeatChunk(static_cast<std::uint8_t>('A' + i));
    packed.insert(packed.end(), chunk.begin(), chunk.end());
  }
  Image.PutClusters(440, packed);
  Image.PutRecord(23, Deleted(Image, u"packed.log", 0x820).NonResidentData({{1, 440}, {15, -1}, {2, 449}, {14, -1}},
                                                                            2 * 65536, u"", 4));
  // A unit whose first cluster lies past the cut: nothing of the unit, whether read or copied.
  Image.PutRecord(24, Deleted(Image, u"gap.bin").NonResidentData({{1, 460}, {3, 441}}, 4 * kCluster));
  const auto image = Image.WriteTo(Dir.Path());
  std::filesystem::resize_file(image, 450 * kCluster + 100);
  Result = ScanNtfsImage(image);
  const auto pattern = Pattern(12 * kCluster, 9);
  EXPECT_TRUE(ReadWholeStream(Result->File(24)).empty());
  ExpectRangesGiveWhatReadGives(Result->File(24), 0, kCluster);

  TRecoveryNtfsStream cut(Result->Disk.get(), Result->File(20));
  EXPECT_EQ(cut.GetSize(), 4 * kCluster) << "the volume holds it; the source does not";
  EXPECT_EQ(EnglishText(cut.SizeCut()), "");
  const auto first = ReadWholeStream(Result->File(20));
  ASSERT_EQ(first.size(), 2u * kCluster);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), pattern.begin() + 8 * kCluster));
  ExpectRangesGiveWhatReadGives(Result->File(20), 1);

  const auto init = ReadWholeStream(Result->File(21));
  ASSERT_EQ(init.size(), 2u * kCluster);
  EXPECT_TRUE(std::all_of(init.begin() + kCluster, init.end(), [](auto B) { return B == 0; }));

  EXPECT_EQ(ReadWholeStream(Result->File(22)).size(), 4u * kCluster);

  const auto unit = ReadWholeStream(Result->File(23));
  ASSERT_EQ(unit.size(), 65536u) << "the first unit whole, the second not at all";
  EXPECT_EQ(unit[65535], 'P');
}

}  // namespace
}  // namespace kestrine::test
