// exFAT volumes built here: where a deleted file's data is taken from, 64-bit sizes, the valid data
// length, deleted folders, and volumes that cannot be walked.

#include <gtest/gtest.h>

#include <map>

#include "engine/exfat/exfat_scanner.h"
#include "engine/exfat/exfat_stream.h"
#include "tests/engine/exfat/exfat_volume_builder.h"
#include "tests/engine/fat/fat_volume_builder.h"
#include "tests/support/test_support.h"

namespace kestrine {
namespace {

using test::EntrySet;
using test::TExFatVolumeBuilder;

constexpr std::uint32_t kRoot = TExFatVolumeBuilder::RootCluster;

std::vector<std::uint8_t> Filled(std::size_t Size, std::uint8_t Seed) {
  std::vector<std::uint8_t> b(Size);
  for (std::size_t i = 0; i < Size; ++i) b[i] = static_cast<std::uint8_t>(Seed + i * 7 + i / 4096);
  return b;
}

// Puts Bytes into Clusters in order (the last one partly).
void PutData(TExFatVolumeBuilder& V, const std::vector<std::uint32_t>& Clusters, const std::vector<std::uint8_t>& Bytes) {
  for (std::size_t i = 0; i < Clusters.size(); ++i) {
    const std::size_t from = i * V.ClusterSize();
    const std::size_t to = std::min<std::size_t>(Bytes.size(), from + V.ClusterSize());
    V.PutBytes(V.ClusterOffset(Clusters[i]), {Bytes.begin() + from, Bytes.begin() + to});
  }
}

std::vector<std::uint8_t> ReadAll(TRecoveryStream& Stream) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(Stream.GetSize()));
  std::size_t done = 0;
  while (done < out.size()) {
    const std::uint32_t n = Stream.Read(out.data() + done, static_cast<std::uint32_t>(out.size() - done));
    if (n == 0) break;
    done += n;
  }
  out.resize(done);
  return out;
}

std::map<std::string, PFileInfo> ByPath(const test::TScannedDisk& Scan) {
  std::map<std::string, PFileInfo> items;
  for (PFileInfo f : Scan.Disk->Files.Snapshot()) items[test::ItemPath(f)] = f;
  return items;
}

class ExFatScanner : public ::testing::Test {
 protected:
  std::unique_ptr<test::TScannedDisk> Scan(TExFatVolumeBuilder& Volume) {
    Volume.WriteTo(Dir / "volume.img");
    return test::ScanImage(Dir / "volume.img");
  }
  test::TTempDir Dir;
};

// Two files written in turn (clusters 5..10 alternate); a third beside another live file.
TEST_F(ExFatScanner, DeletedFilesTakeASurvivingChainElseFreeClustersOnward) {
  TExFatVolumeBuilder v(256, 3);
  const std::size_t size = 3 * v.ClusterSize() - 100;
  const auto live = Filled(size, 1), kept = Filled(size, 2), zeroed = Filled(size, 3), broken = Filled(size, 4);
  PutData(v, {5, 7, 9}, live);
  v.Chain({5, 7, 9});
  PutData(v, {6, 8, 10}, kept);
  v.Chain({6, 8, 10});  // the driver left the deleted file's chain
  PutData(v, {11, 13, 15}, zeroed);  // its chain zeroed; 12 and 14 belong to a live file
  PutData(v, {16, 17, 18}, broken);
  v.Chain({16, 12, 14});  // a chain that runs into clusters in use does not hold up
  for (std::uint32_t c : {5, 7, 9, 12, 14}) v.SetInUse(c, true);
  std::vector<std::uint8_t> root;
  for (const auto& spec : std::vector<test::TExFatFileSpec>{{u"live.bin", 0x20, {5, size, size, false}, false},
                                                           {u"kept chain.bin", 0x20, {6, size, size, false}, true},
                                                           {u"zeroed chain.bin", 0x20, {11, size, size, false}, true},
                                                           {u"broken chain.bin", 0x20, {16, size, size, false}, true}}) {
    const auto set = EntrySet(spec);
    root.insert(root.end(), set.begin(), set.end());
  }
  v.PutEntries(kRoot, 2, root);
  const auto scan = Scan(v);
  ASSERT_FALSE(scan->Disk->Scanner->ScanFailure()) << EnglishText(scan->Disk->Scanner->ScanFailure());
  auto items = ByPath(*scan);
  EXPECT_EQ(items.size(), 3u);  // live files are not listed
  EXPECT_FALSE(items.count("live.bin"));
  for (const auto& [name, bytes] : std::map<std::string, std::vector<std::uint8_t>>{
           {"kept chain.bin", kept}, {"zeroed chain.bin", zeroed}, {"broken chain.bin", broken}}) {
    ASSERT_TRUE(items.count(name)) << name;
    EXPECT_EQ(items[name]->Condition, 100) << name;
    TRecoveryExFatStream stream(scan->Disk.get(), items[name]);
    EXPECT_TRUE(ReadAll(stream) == bytes) << name;
  }
}

// A camera video past 4 GiB, contiguous, over a sparse image: sizes and offsets stay 64-bit, and a
// read anywhere goes straight to its cluster.
TEST_F(ExFatScanner, FilesPastFourGibKeepTheirSizeAndSeekAnywhere) {
  TExFatVolumeBuilder v(73'728, 7);  // 64 KiB clusters, 4.5 GiB
  const std::uint64_t size = (std::uint64_t{1} << 32) + 123'456;
  v.PutEntries(kRoot, 2, EntrySet({u"MOVIE.MP4", 0x20, {5, size, size, true}, true}));
  const std::vector<std::uint8_t> marker = {'p', 'a', 's', 't', ' ', '4', 'G', 'i', 'B'};
  v.PutBytes(v.ClusterOffset(5) + (std::int64_t{1} << 32), marker);
  const auto scan = Scan(v);
  auto items = ByPath(*scan);
  ASSERT_TRUE(items.count("MOVIE.MP4"));
  const PFileInfo movie = items["MOVIE.MP4"];
  EXPECT_EQ(static_cast<std::uint64_t>(movie->Size.load()), size);
  EXPECT_EQ(movie->Condition, 100);
  TRecoveryExFatStream stream(scan->Disk.get(), movie);
  EXPECT_EQ(static_cast<std::uint64_t>(stream.GetSize()), size);
  EXPECT_FALSE(stream.SizeCut());
  stream.SetPosition(std::int64_t{1} << 32);
  std::vector<std::uint8_t> got(marker.size());
  ASSERT_EQ(stream.Read(got.data(), static_cast<std::uint32_t>(got.size())), got.size());
  EXPECT_EQ(got, marker);
  stream.Seek(3, TSeekOrigin::End);
  EXPECT_EQ(static_cast<std::uint64_t>(stream.Position()), size - 3);
  stream.SetPosition(std::int64_t{1} << 32);
  const TVolumeRange range = stream.NextVolumeRange(1 << 20);
  EXPECT_EQ(range.Offset, v.ClusterOffset(5) + (std::int64_t{1} << 32));
  EXPECT_EQ(range.Length, 123'456);  // to the end of the file
}

TEST_F(ExFatScanner, BytesPastTheValidLengthAreZerosAndSizesPastTheHeapAreCut) {
  TExFatVolumeBuilder v(64, 3);
  PutData(v, {5}, Filled(4096, 9));
  std::vector<std::uint8_t> root = EntrySet({u"half written.bin", 0x20, {5, 3000, 1000, true}, true});
  // Clusters from 60 on: 6 of them before the heap ends, 10 asked.
  const auto cut = EntrySet({u"too big.bin", 0x20, {60, 10 * 4096, 10 * 4096, true}, true});
  root.insert(root.end(), cut.begin(), cut.end());
  v.PutEntries(kRoot, 2, root);
  const auto scan = Scan(v);
  auto items = ByPath(*scan);
  ASSERT_EQ(items.size(), 2u);
  TRecoveryExFatStream half(scan->Disk.get(), items["half written.bin"]);
  auto expected = Filled(4096, 9);
  expected.resize(3000);
  std::fill(expected.begin() + 1000, expected.end(), 0);
  EXPECT_TRUE(ReadAll(half) == expected);
  half.SetPosition(999);
  EXPECT_EQ(half.NextVolumeRange(1 << 20).Length, 1);  // a copy from the volume stops at the valid length
  TRecoveryExFatStream big(scan->Disk.get(), items["too big.bin"]);
  EXPECT_EQ(big.GetSize(), 6 * 4096);
  ASSERT_TRUE(big.SizeCut());
  EXPECT_EQ(big.SizeCut()->Id, TReasonId::SizeOverDataArea);
  EXPECT_EQ(items["too big.bin"]->Condition, 60);
}

// A folder deleted with its files, one of them still marked in use, and a folder whose table chain
// loops back to its parent.
TEST_F(ExFatScanner, DeletedFoldersAreWalkedAndLoopsEnd) {
  TExFatVolumeBuilder v(64, 3);
  v.PutEntries(kRoot, 2, EntrySet({u"Old", 0x10, {20, 4096, 4096, false}, true}));
  std::vector<std::uint8_t> old = EntrySet({u"inner.txt", 0x20, {21, 10, 10, false}, false});
  const auto loop = EntrySet({u"Loop", 0x10, {kRoot, 4096, 4096, false}, false});
  old.insert(old.end(), loop.begin(), loop.end());
  v.PutEntries(20, 0, old);
  v.PutEntries(kRoot, 5, EntrySet({u"Back", 0x10, {22, 8192, 8192, false}, false}));
  v.SetInUse(22, true);
  v.Chain({22, kRoot});
  const auto scan = Scan(v);
  auto items = ByPath(*scan);
  ASSERT_EQ(items.size(), 1u);
  ASSERT_TRUE(items.count("Old/inner.txt"));
  EXPECT_TRUE(items["Old/inner.txt"]->FsInfo->IsDeleted());
  EXPECT_TRUE(items["Old/inner.txt"]->Parent->FsInfo->IsDeleted());
}

TEST_F(ExFatScanner, AVolumeThatCannotBeWalkedSaysWhy) {
  TExFatVolumeBuilder noBitmap(64, 3);
  noBitmap.PutEntries(kRoot, 0, std::vector<std::uint8_t>(32));
  auto scan = Scan(noBitmap);
  ASSERT_TRUE(scan->Disk->Scanner->ScanFailure());
  EXPECT_EQ(scan->Disk->Scanner->ScanFailure()->Id, TReasonId::ExFatNoBitmap);
  EXPECT_EQ(scan->Reports.Finished, 1);

  TExFatVolumeBuilder badSum(64, 3);
  badSum.Bytes()[300] = 1;
  scan = Scan(badSum);
  ASSERT_TRUE(scan->Disk->Scanner->ScanFailure());
  EXPECT_EQ(EnglishText(scan->Disk->Scanner->ScanFailure()),
            "the boot sector's geometry is not exFAT: the boot region's checksum does not match");
}

}  // namespace
}  // namespace kestrine
