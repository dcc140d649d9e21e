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
  FatStream() : Volume({.Kind = FileSystemKind::Fat12, .SectorsPerCluster = 4}), Content(Pattern(5000, 3)) {
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

TEST_F(FatStream, AClusterThatCannotBeReadEndsTheRead) {
  // The image ends inside the file's third cluster.
  Volume.Bytes().resize(static_cast<std::size_t>(Volume.ClusterOffset(12) + 100));
  ScanVolume();
  TRecoveryFatStream stream(Scan->Disk.get(), Found("$IVE.BIN"));
  std::vector<std::uint8_t> buffer(8192);
  EXPECT_EQ(stream.Read(buffer.data(), 8192), 4096u);
  EXPECT_EQ(stream.Read(buffer.data(), 8192), 0u);
  EXPECT_EQ(stream.Read(buffer.data(), 8192), 0u);
}

}  // namespace
}  // namespace kestrine
