#include "platform/partition_table.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/test_support.h"

namespace kestrine::platform {
namespace {

using test::PutLe32;
using test::PutLe64;

std::vector<TPartitionEntry> Read(const std::vector<std::uint8_t>& Disk, std::int64_t SectorSize = 512) {
  return ReadPartitionTable(
      [&](std::uint8_t* Buffer, std::uint32_t Count, std::int64_t Offset) -> std::uint32_t {
        if (Offset < 0 || Offset >= static_cast<std::int64_t>(Disk.size())) return 0;
        const auto n = static_cast<std::uint32_t>(std::min<std::int64_t>(Count, Disk.size() - Offset));
        std::memcpy(Buffer, Disk.data() + Offset, n);
        return n;
      },
      static_cast<std::int64_t>(Disk.size()), SectorSize);
}

void PutMbrEntry(std::vector<std::uint8_t>& Disk, std::size_t At, int Index, std::uint8_t Type, std::uint32_t Start,
                 std::uint32_t Count) {
  const std::size_t e = At + 0x1BE + Index * 16;
  Disk[e + 4] = Type;
  PutLe32(Disk, e + 8, Start);
  PutLe32(Disk, e + 12, Count);
  Disk[At + 510] = 0x55;
  Disk[At + 511] = 0xAA;
}

std::uint32_t Crc(const std::uint8_t* Data, std::size_t Count) {
  return static_cast<std::uint32_t>(crc32(0, Data, static_cast<uInt>(Count)));
}

// A GPT behind its protective MBR, in sectors of Sector bytes: entries 1 and 3 used, 2 empty, 3 past
// the end; a header at Lba 1 and its backup in the last sector, sharing one entry array.
std::vector<std::uint8_t> GptDisk(std::size_t Sector) {
  const std::uint64_t sectors = 256;
  std::vector<std::uint8_t> disk(Sector * sectors);
  PutMbrEntry(disk, 0, 0, 0xEE, 1, static_cast<std::uint32_t>(sectors - 1));
  const std::size_t entries = 2 * Sector;
  std::fill(disk.begin() + entries, disk.begin() + entries + 16, 0x11);
  PutLe64(disk, entries + 32, 40);
  PutLe64(disk, entries + 40, 99);
  std::fill(disk.begin() + entries + 256, disk.begin() + entries + 272, 0x22);
  PutLe64(disk, entries + 256 + 32, 200);
  PutLe64(disk, entries + 256 + 40, 1000);
  const std::uint32_t entriesCrc = Crc(disk.data() + entries, 128 * 4);
  for (const std::uint64_t lba : {std::uint64_t{1}, sectors - 1}) {
    const std::size_t h = lba * Sector;
    std::memcpy(disk.data() + h, "EFI PART", 8);
    PutLe32(disk, h + 12, 92);
    PutLe64(disk, h + 24, lba);
    PutLe64(disk, h + 72, 2);
    PutLe32(disk, h + 80, 4);
    PutLe32(disk, h + 84, 128);
    PutLe32(disk, h + 88, entriesCrc);
    PutLe32(disk, h + 16, Crc(disk.data() + h, 92));
  }
  return disk;
}

TEST(PartitionTable, GptEntriesKeepTheirSlotNumbersAndTheBackupStandsInForADamagedHeader) {
  for (const std::size_t sector : {std::size_t{512}, std::size_t{4096}}) {
    SCOPED_TRACE(sector);
    auto disk = GptDisk(sector);
    const auto check = [&](const std::vector<TPartitionEntry>& Parts) {
      ASSERT_EQ(Parts.size(), 2u);
      EXPECT_EQ(Parts[0].Number, 1);
      EXPECT_EQ(Parts[0].Offset, static_cast<std::int64_t>(40 * sector));
      EXPECT_EQ(Parts[0].Length, static_cast<std::int64_t>(60 * sector));
      EXPECT_EQ(Parts[1].Number, 3);
      EXPECT_TRUE(Parts[1].Clipped);
      EXPECT_EQ(Parts[1].Offset + Parts[1].Length, static_cast<std::int64_t>(disk.size()));
    };
    check(Read(disk));
    disk[sector + 40] ^= 1;  // the primary header no longer matches its checksum
    check(Read(disk));
    disk[disk.size() - sector + 40] ^= 1;
    EXPECT_TRUE(Read(disk).empty()) << "a protective MBR alone is no table";
  }
}

TEST(PartitionTable, AVolumesBootSectorIsNoTableAndALoopOfLogicalRecordsEnds) {
  std::vector<std::uint8_t> disk(64 * 512);
  PutMbrEntry(disk, 0, 0, 0x0C, 8, 8);
  const std::vector<std::uint8_t> fat = {0xEB, 0x3C, 0x90, 'M', 'S', 'W', 'I', 'N', '4', '.', '1', 0x00, 0x02, 0x04, 0x01, 0x00, 0x02};
  auto boot = disk;
  std::copy(fat.begin(), fat.end(), boot.begin());
  EXPECT_TRUE(Read(boot).empty());

  // Logical records at 16 and 24, the second pointing back at the first.
  PutMbrEntry(disk, 0, 1, 0x0F, 16, 40);
  PutMbrEntry(disk, 16 * 512, 0, 0x07, 1, 4);
  PutMbrEntry(disk, 16 * 512, 1, 0x05, 8, 8);
  PutMbrEntry(disk, 24 * 512, 0, 0x07, 1, 4);
  PutMbrEntry(disk, 24 * 512, 1, 0x05, 0, 8);
  const auto parts = Read(disk);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[1].Number, 5);
  EXPECT_EQ(parts[1].Offset, 17 * 512);
  EXPECT_EQ(parts[2].Number, 6);
  EXPECT_EQ(parts[2].Offset, 25 * 512);

  // A disk of 4096-byte sectors counts its MBR in those.
  std::vector<std::uint8_t> large(64 * 4096);
  PutMbrEntry(large, 0, 0, 0x07, 2, 10);
  const auto big = Read(large, 4096);
  ASSERT_EQ(big.size(), 1u);
  EXPECT_EQ(big[0].Offset, 2 * 4096);
  EXPECT_EQ(big[0].Length, 10 * 4096);
}

}  // namespace
}  // namespace kestrine::platform
