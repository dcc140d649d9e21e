// Entry sets, times and the boot region of exFAT, from bytes built here.

#include <gtest/gtest.h>

#include "engine/exfat/exfat_boot.h"
#include "engine/exfat/exfat_entries.h"
#include "tests/engine/exfat/exfat_volume_builder.h"
#include "tests/support/test_support.h"

namespace kestrine {
namespace {

using test::EntrySet;

// 2025-03-04 05:06:08 as a DOS date (high half) and time (low half).
constexpr std::uint32_t kStamp = (std::uint32_t{(45u << 9) | (3u << 5) | 4u} << 16) | ((5u << 11) | (6u << 5) | 4u);
constexpr std::int64_t kStampUnix = 1'741'064'768;  // that wall clock read as UTC

TFileTime Utc(std::int64_t UnixSeconds, std::int64_t Nanoseconds = 0) { return UnixToFileTime(UnixSeconds, Nanoseconds); }

TEST(ExFatEntrySet, NamesOfSeveralEntriesAndSurrogatePairsComeOutWhole) {
  const std::u16string name = u"Long name 日本語 😀🎉 that takes more than two name entries.jpg";
  const auto bytes = EntrySet({name, 0x20, {7, 5000, 4000, false}, false, {kStamp, 0, 0}});
  const auto set = ParseEntrySet(bytes);
  ASSERT_TRUE(set);
  EXPECT_EQ(set->Name, "Long name 日本語 😀🎉 that takes more than two name entries.jpg");
  EXPECT_TRUE(set->NameWhole);
  EXPECT_TRUE(set->ChecksumOk);
  EXPECT_EQ(set->Entries, bytes.size() / kExFatEntrySize);
  EXPECT_EQ(set->Data.FirstCluster, 7u);
  EXPECT_EQ(set->Data.DataLength, 5000u);
  EXPECT_EQ(set->Data.ValidDataLength, 4000u);
  // An unpaired surrogate cannot be carried: it becomes U+FFFD, the rest stays.
  const std::u16string broken = {u'a', char16_t{0xD83D}, u'b'};
  EXPECT_EQ(ParseEntrySet(EntrySet({broken, 0x20, {}, false, {}}))->Name, "a\xEF\xBF\xBD" "b");
}

TEST(ExFatEntrySet, DeletedSetsAreCheckedAsWrittenAndListedWhileTheirStreamIsSound) {
  auto bytes = EntrySet({u"photo.jpg", 0x20, {9, 100, 100, false}, true});
  auto set = ParseEntrySet(bytes);
  ASSERT_TRUE(set);
  EXPECT_TRUE(set->Deleted);
  EXPECT_TRUE(set->ChecksumOk);
  // A damaged name entry fails the checksum; the set is still what its stream says.
  bytes[2 * kExFatEntrySize + 4] ^= 0x01;
  set = ParseEntrySet(bytes);
  ASSERT_TRUE(set);
  EXPECT_FALSE(set->ChecksumOk);
  EXPECT_EQ(set->Data.FirstCluster, 9u);
  EXPECT_EQ(set->Entries, 3u);
  // No sound stream, no set: a name length of 0, a valid length past the length, a stream of the
  // other state (an entry of another set), or no stream at all.
  for (const auto& [offset, value] : std::vector<std::pair<std::size_t, std::uint8_t>>{
           {kExFatEntrySize + 3, 0}, {kExFatEntrySize + 15, 0xFF}, {kExFatEntrySize, ExFatEntry::Stream}, {kExFatEntrySize, 0}}) {
    auto damaged = EntrySet({u"photo.jpg", 0x20, {9, 100, 100, false}, true});
    damaged[offset] = value;
    EXPECT_FALSE(ParseEntrySet(damaged)) << offset;
  }
  EXPECT_FALSE(ParseEntrySet(std::span(bytes).first(kExFatEntrySize)));
  // A set cut short keeps what lies inside: here the first 15 units of the name.
  const auto longSet = EntrySet({u"a name of more than fifteen units.txt", 0x20, {}, false, {}});
  set = ParseEntrySet(std::span(longSet).first(3 * kExFatEntrySize));
  ASSERT_TRUE(set);
  EXPECT_EQ(set->Name, "a name of more ");
  EXPECT_FALSE(set->NameWhole);
  EXPECT_FALSE(set->ChecksumOk);
}

TEST(ExFatTime, OffsetsGiveUtcAndAnUnsetOneIsLocalTime) {
  test::TScopedZone zone("Europe/Berlin");  // UTC+1 in March
  // 10 ms units past the even second.
  EXPECT_EQ(ExFatTimeToFileTime({kStamp, 150, 0x80}), Utc(kStampUnix + 1, 500'000'000));
  // +5:30 (22 quarters) and -8:00 (-32 quarters, 0x60 in seven bits).
  EXPECT_EQ(ExFatTimeToFileTime({kStamp, 0, 0x80 | 22}), Utc(kStampUnix - 5 * 3600 - 1800));
  EXPECT_EQ(ExFatTimeToFileTime({kStamp, 0, 0x80 | 0x60}), Utc(kStampUnix + 8 * 3600));
  // Unset: the writer's wall clock, read in the local zone like FAT's.
  EXPECT_EQ(ExFatTimeToFileTime({kStamp, 0, 22}), Utc(kStampUnix - 3600));
  // A day no month has is no time.
  const std::uint32_t feb31 = (std::uint32_t{(45u << 9) | (2u << 5) | 31u} << 16);
  EXPECT_EQ(ExFatTimeToFileTime({feb31, 0, 0x80}), 0u);
}

TEST(ExFatBoot, GeometryWithinLimitsAndItsChecksumOrTheReason) {
  test::TExFatVolumeBuilder volume(256, 3);
  auto region = std::vector<std::uint8_t>(volume.Bytes().begin(), volume.Bytes().begin() + 12 * 512);
  const TExFatBoot good = ParseExFatBoot(region);
  ASSERT_TRUE(good.Geometry);
  EXPECT_EQ(good.Geometry->ClusterSize, 4096u);
  EXPECT_EQ(good.Geometry->ClusterCount, 256u);
  EXPECT_EQ(good.Geometry->RootCluster, test::TExFatVolumeBuilder::RootCluster);
  // Each fault is refused with its own reason.
  const auto refused = [&](std::size_t Offset, std::uint8_t Value, bool Reseal) {
    test::TExFatVolumeBuilder v(256, 3);
    v.Bytes()[Offset] = Value;
    if (Reseal) v.Seal();
    const TExFatBoot b = ParseExFatBoot(std::span(v.Bytes()).first(12 * 512));
    EXPECT_FALSE(b.Geometry) << Offset;
    return b.Why ? b.Why->Inner.empty() ? b.Why->Id : b.Why->Inner.front().Id : TReasonId::Count;
  };
  EXPECT_EQ(refused(200, 1, false), TReasonId::ExFatChecksum);
  EXPECT_EQ(refused(108, 13, true), TReasonId::ExFatShift);
  EXPECT_EQ(refused(109, 20, true), TReasonId::ExFatShift);
  EXPECT_EQ(refused(110, 3, true), TReasonId::TooManyAllocationTables);
  EXPECT_EQ(refused(80, 8, true), TReasonId::ExFatTablesMisplaced);
  EXPECT_EQ(refused(95, 0x10, true), TReasonId::ExFatHeapOutside);
  EXPECT_EQ(refused(96, 0, true), TReasonId::RootClusterOutside);
  // Volume flags and percent in use change in use and are left out of the sum.
  region[106] = 1;
  region[112] = 40;
  EXPECT_TRUE(ParseExFatBoot(region).Geometry);
}

}  // namespace
}  // namespace kestrine
