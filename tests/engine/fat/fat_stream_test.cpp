// Reading found files back through the FAT recovery stream.

#include <gtest/gtest.h>

#include <numeric>

#include "engine/fat/fat_records.h"
#include "engine/fat/fat_stream.h"
#include "engine/volume/boot_sector.h"
#include "tests/engine/fat/fat_volume_builder.h"
#include "tests/support/test_support.h"

namespace kestrine {
namespace {

using test::Deleted;
using test::ShortSlot;
using test::TFatVolumeBuilder;

std::vector<std::uint8_t> Pattern(std::size_t Size, std::uint8_t Seed) {
  std::vector<std::uint8_t> bytes(Size);
  for (std::size_t i = 0; i < Size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + Seed + i / 251);
  return bytes;
}

std::vector<std::uint8_t> ReadAll(TRecoveryStream& Stream, std::uint32_t Chunk) {
  std::vector<std::uint8_t> out, buffer(Chunk);
  while (const std::uint32_t n = Stream.Read(buffer.data(), Chunk)) out.insert(out.end(), buffer.begin(), buffer.begin() + n);
  return out;
}

class FatStream : public ::testing::Test {
 protected:
  // FAT12 with 2048-byte clusters; "$IVE.BIN" is 5000 deleted bytes from cluster 10, "$MPTY" has none.
  FatStream() : Volume({.Kind = TFileSystemKind::Fat12, .SectorsPerCluster = 4}), Content(Pattern(5000, 3)) {
    Volume.PutSlots(Volume.RootOffset(), {Deleted(ShortSlot("?IVE    BIN", 0x20, 10, 5000)),
                                          Deleted(ShortSlot("?MPTY      ", 0x20, 0, 0))});
    Volume.PutBytes(Volume.ClusterOffset(10), Content);
  }
  PFileInfo Found(const std::string& Name) {
    for (PFileInfo f : Scan->Disk->Files.Snapshot())
      if (f->Name == Name) return f;
    return nullptr;
  }
  void ScanVolume() { Scan = test::ScanBuilt(Volume, Dir.Path()); }

  test::TTempDir Dir;
  TFatVolumeBuilder Volume;
  std::vector<std::uint8_t> Content;
  std::unique_ptr<test::TScannedDisk> Scan;
};

TEST_F(FatStream, DeliversExactlyTheRecordedSizeFromContiguousClusters) {
  ScanVolume();
  TRecoveryFatStream stream(Scan->Disk.get(), Found("$IVE.BIN"));
  ASSERT_EQ(stream.Chain().size(), 3u);
  std::vector<std::uint8_t> buffer(65536);
  ASSERT_EQ(stream.Read(buffer.data(), 65536), 5000u);
  EXPECT_TRUE(std::equal(Content.begin(), Content.end(), buffer.begin()));
  EXPECT_EQ(stream.Read(buffer.data(), 65536), 0u);
  stream.SetPosition(0);
  EXPECT_EQ(ReadAll(stream, 100), Content);

  EXPECT_EQ(stream.Seek(10, TSeekOrigin::End), 4990);
  ASSERT_EQ(stream.Read(buffer.data(), 100), 10u);
  EXPECT_TRUE(std::equal(Content.end() - 10, Content.end(), buffer.begin()));
  EXPECT_EQ(stream.Seek(-20000, TSeekOrigin::Current), 0);
  EXPECT_EQ(stream.Seek(6000, TSeekOrigin::Beginning), 5000);
  EXPECT_EQ(stream.Write(buffer.data(), 100), 0u);
  EXPECT_EQ(stream.GetSize(), 5000);

  TRecoveryFatStream empty(Scan->Disk.get(), Found("$MPTY"));
  EXPECT_TRUE(empty.Chain().empty());
  EXPECT_EQ(empty.Read(buffer.data(), 100), 0u);
  // A folder has no data of its own.
  TRecoveryFatStream folder(Scan->Disk.get(), Scan->Disk->Folders.Items(0));
  EXPECT_EQ(folder.Read(buffer.data(), 100), 0u);
}

TEST_F(FatStream, ExistingFilesFollowTheirScatteredChain) {
  const std::vector<std::uint8_t> data = Pattern(3 * 2048 - 100, 9);
  Volume.Chain({20, 25, 22});
  Volume.PutBytes(Volume.ClusterOffset(20), {data.begin(), data.begin() + 2048});
  Volume.PutBytes(Volume.ClusterOffset(25), {data.begin() + 2048, data.begin() + 4096});
  Volume.PutBytes(Volume.ClusterOffset(22), {data.begin() + 4096, data.end()});
  ScanVolume();
  TFileInfo live;
  live.Size = static_cast<std::int64_t>(data.size());
  auto entry = std::make_unique<TFatEntryInfo>();
  entry->FirstCluster = 20;
  live.FsInfo = std::move(entry);
  TRecoveryFatStream stream(Scan->Disk.get(), &live);
  EXPECT_EQ(ReadAll(stream, 777), data);
}

// A file of the table that jumps about: clusters 20-22, 30-31, then 25; the last one partly used.
class FatStreamChains : public FatStream {
 protected:
  FatStreamChains() : Scattered(Pattern(6 * 2048 - 300, 9)) {
    Volume.Chain(kChain);
    for (std::size_t i = 0; i < kChain.size(); ++i) {
      const auto from = Scattered.begin() + static_cast<std::ptrdiff_t>(i * 2048);
      const auto to = Scattered.begin() + static_cast<std::ptrdiff_t>(std::min(Scattered.size(), (i + 1) * 2048));
      Volume.PutBytes(Volume.ClusterOffset(kChain[i]), {from, to});
    }
    // Its last two clusters lie past the volume's last one: the chain ends early.
    Volume.PutSlots(Volume.RootOffset() + 64,
                    {Deleted(ShortSlot("?AST    BIN", 0x20, Volume.ClusterCount(), 4 * 2048 - 10))});
    Volume.PutBytes(Volume.ClusterOffset(Volume.ClusterCount()), Pattern(2 * 2048, 4));
    Live.Size = static_cast<std::int64_t>(Scattered.size());
    auto entry = std::make_unique<TFatEntryInfo>();
    entry->FirstCluster = kChain.front();
    Live.FsInfo = std::move(entry);
  }
  // The bytes Read gives from the stream's start, Skip bytes read first and then the rest by ranges.
  void ExpectRangesGiveWhatReadGives(PFileInfo Item, std::int64_t MaxRange, std::uint32_t Skip,
                                     int ExpectedRanges) {
    TRecoveryFatStream reader(Scan->Disk.get(), Item);
    const auto expected = ReadAll(reader, 65536);
    TRecoveryFatStream stream(Scan->Disk.get(), Item);
    std::vector<std::uint8_t> got(Skip);
    got.resize(stream.Read(got.data(), Skip));
    ASSERT_EQ(got.size(), std::min<std::size_t>(Skip, expected.size()));
    int ranges = 0;
    const auto rest = test::ReadByVolumeRanges(stream, Scan->Disk->SourcePath, MaxRange, &ranges);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, expected) << Item->Name << ", ranges of " << MaxRange << " after " << Skip;
    if (ExpectedRanges >= 0) {
      EXPECT_EQ(ranges, ExpectedRanges) << Item->Name;
    }
  }

  static inline const std::vector<std::uint32_t> kChain = {20, 21, 22, 30, 31, 25};
  std::vector<std::uint8_t> Scattered;
  TFileInfo Live;
};

TEST_F(FatStreamChains, VolumeRangesGiveWhatReadGivesAndNeverCrossAJump) {
  ScanVolume();
  // One range per piece of adjacent clusters.
  ExpectRangesGiveWhatReadGives(&Live, 1 << 20, 0, 3);
  ExpectRangesGiveWhatReadGives(Found("$IVE.BIN"), 1 << 20, 0, 1);
  // Only the cluster the chain has is offered; the rest is Read's, which has nothing more.
  ExpectRangesGiveWhatReadGives(Found("$AST.BIN"), 1 << 20, 0, 1);
  // Ranges that end inside a cluster, and ranges that start inside one after a small read.
  for (const std::uint32_t skip : {0u, 100u, 2048u, 5000u})
    for (const std::int64_t max : {std::int64_t{3000}, std::int64_t{2048}, std::int64_t{1}}) {
      ExpectRangesGiveWhatReadGives(&Live, max, skip, -1);
      ExpectRangesGiveWhatReadGives(Found("$IVE.BIN"), max, skip, -1);
      ExpectRangesGiveWhatReadGives(Found("$AST.BIN"), max, skip, -1);
    }
  TRecoveryFatStream stream(Scan->Disk.get(), &Live);
  EXPECT_EQ(ReadAll(stream, 65536), Scattered);
}

TEST_F(FatStreamChains, ACopyThatCameBackShortKeepsOnlyTheClustersItBroughtWhole) {
  ScanVolume();
  TRecoveryFatStream stream(Scan->Disk.get(), Found("$IVE.BIN"));
  const TVolumeRange range = stream.NextVolumeRange(1 << 20);
  EXPECT_EQ(range.Offset, Volume.ClusterOffset(10));
  EXPECT_EQ(range.Length, 5000);
  EXPECT_EQ(stream.TakeVolumeBytes(3000), 2048);
  EXPECT_EQ(stream.Position(), 2048);
  EXPECT_EQ(stream.NextVolumeRange(1 << 20).Offset, Volume.ClusterOffset(11));
  EXPECT_EQ(stream.TakeVolumeBytes(100), 0);
  EXPECT_EQ(stream.Position(), 2048);
  EXPECT_EQ(stream.TakeVolumeBytes(100), 0) << "nothing is on offer after a take";
  std::vector<std::uint8_t> rest = ReadAll(stream, 65536);
  EXPECT_TRUE(std::equal(rest.begin(), rest.end(), Content.begin() + 2048, Content.end()));
  // A seek or a read withdraws what was offered.
  stream.SetPosition(100);
  ASSERT_EQ(stream.NextVolumeRange(1 << 20).Length, 4900);
  EXPECT_EQ(stream.TakeVolumeBytes(4900), 4900);
  EXPECT_EQ(stream.Position(), 5000);
  stream.SetPosition(0);
  ASSERT_GT(stream.NextVolumeRange(1 << 20).Length, 0);
  stream.Seek(0, TSeekOrigin::Current);
  EXPECT_EQ(stream.TakeVolumeBytes(10), 0);
}

TEST_F(FatStream, AClusterThatCannotBeReadEndsTheRead) {
  // The image ends inside the file's third cluster.
  Volume.Bytes().resize(static_cast<std::size_t>(Volume.ClusterOffset(12) + 100));
  ScanVolume();
  TRecoveryFatStream stream(Scan->Disk.get(), Found("$IVE.BIN"));
  std::vector<std::uint8_t> buffer(8192);
  EXPECT_EQ(stream.Read(buffer.data(), 8192), 4096u);
  EXPECT_EQ(stream.Read(buffer.data(), 8192), 0u);
  EXPECT_EQ(stream.Read(buffer.data(), 8192), 0u);
  // The cluster the image ends in is not offered either.
  TRecoveryFatStream ranged(Scan->Disk.get(), Found("$IVE.BIN"));
  int ranges = 0;
  const auto bytes = test::ReadByVolumeRanges(ranged, Scan->Disk->SourcePath, 1 << 20, &ranges);
  EXPECT_EQ(ranges, 1);
  ASSERT_EQ(bytes.size(), 4096u);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), Content.begin()));
}

TEST_F(FatStream, ASizeBeyondTheDataAreaIsCutToWhatTheAreaHolds) {
  // 2 GiB recorded on a volume of a few megabytes: a deleted file from cluster 10 to the area's end.
  Volume.PutSlots(Volume.RootOffset() + 64, {Deleted(ShortSlot("?UGE    BIN", 0x20, 10, 0x80000000u))});
  Volume.Bytes().resize(static_cast<std::size_t>(Volume.ClusterOffset(Volume.ClusterCount() + 2)));
  ScanVolume();
  PFileInfo huge = Found("$UGE.BIN");
  ASSERT_NE(huge, nullptr);
  EXPECT_EQ(huge->Size, 0x80000000ll) << "the listed size stays as recorded";
  const std::int64_t room = (std::int64_t{Volume.ClusterCount()} + 2 - 10) * 2048;
  TRecoveryFatStream stream(Scan->Disk.get(), huge);
  EXPECT_EQ(stream.GetSize(), room);
  EXPECT_EQ(EnglishText(stream.SizeCut()), "its recorded size of 2147483648 bytes is more than the " + std::to_string(room) +
                                  " bytes from its first cluster to the end of the data area; cut to " +
                                  std::to_string(room) + " bytes");
  EXPECT_EQ(static_cast<std::int64_t>(ReadAll(stream, 65536).size()), room);
  EXPECT_EQ(stream.Seek(0, TSeekOrigin::End), room);

  // A file of the table holds at most the whole area.
  TFileInfo live;
  live.Size = 0x7FFFFFFF;
  auto entry = std::make_unique<TFatEntryInfo>();
  entry->FirstCluster = 20;
  live.FsInfo = std::move(entry);
  TRecoveryFatStream table(Scan->Disk.get(), &live);
  EXPECT_EQ(table.GetSize(), std::int64_t{Volume.ClusterCount()} * 2048);
  EXPECT_NE(EnglishText(table.SizeCut()).find("bytes of the volume's data area; cut to"), std::string::npos) << EnglishText(table.SizeCut());

  TRecoveryFatStream fits(Scan->Disk.get(), Found("$IVE.BIN"));
  EXPECT_EQ(fits.GetSize(), 5000);
  EXPECT_EQ(EnglishText(fits.SizeCut()), "");
}

}  // namespace
}  // namespace kestrine
