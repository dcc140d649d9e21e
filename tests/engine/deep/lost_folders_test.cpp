// Directory clusters found without a walk: which bytes are a folder, their names, and the geometry
// their own cluster numbers give.

#include "engine/deep/lost_folders.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/engine/fat/fat_volume_builder.h"

namespace kestrine {
namespace {

using test::LongNameSlots;
using test::ShortSlot;
using test::TSlot;

constexpr TSlotRules kRules{100000, true};

std::vector<std::uint8_t> Bytes(const std::vector<TSlot>& Slots, std::size_t Size = 512) {
  std::vector<std::uint8_t> b(Size);
  for (std::size_t i = 0; i < Slots.size(); ++i) std::memcpy(b.data() + 32 * i, Slots[i].data(), 32);
  return b;
}

std::vector<TSlot> Folder(std::uint32_t Own, std::vector<TSlot> Entries) {
  std::vector<TSlot> slots = {ShortSlot(".          ", 0x10, Own, 0), ShortSlot("..         ", 0x10, 0, 0)};
  slots.insert(slots.end(), Entries.begin(), Entries.end());
  return slots;
}

std::vector<std::string> Names(const TLostFolder& F) {
  std::vector<std::string> names;
  for (const TLostEntry& e : F.Entries) names.push_back(e.Name);
  return names;
}

TEST(LostFolders, EntriesKeepTheirLongNamesDeletedOrNotAndSubfoldersAreLeftToTheirOwnClusters) {
  const TSlot photo = ShortSlot("HOLIDA~1JPG", 0x20, 40, 9000);
  std::vector<TSlot> entries = LongNameSlots(u"Holiday photo.jpg", photo);
  entries.push_back(photo);
  for (TSlot s : LongNameSlots(u"Old notes.txt", ShortSlot("OLDNOT~1TXT", 0x20, 60, 300)))
    entries.push_back(test::Deleted(s));
  entries.push_back(test::Deleted(ShortSlot("OLDNOT~1TXT", 0x20, 60, 300)));
  entries.push_back(ShortSlot("SUB        ", 0x10, 70, 0));
  const auto bytes = Bytes(Folder(33, entries));
  const auto folder = ParseLostFolder(bytes, kRules);
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->OwnCluster, 33u);
  EXPECT_EQ(Names(*folder), (std::vector<std::string>{"Holiday photo.jpg", "Old notes.txt"}));
  EXPECT_EQ(folder->Entries[0].FirstCluster, 40u);
  EXPECT_EQ(folder->Entries[0].Size, 9000u);
  EXPECT_EQ(folder->Entries[1].FirstCluster, 60u);
}

TEST(LostFolders, ALongNameWhoseChecksumFailsGivesWayToTheShortName) {
  const TSlot photo = ShortSlot("HOLIDA~1JPG", 0x20, 40, 9000);
  std::vector<TSlot> entries = LongNameSlots(u"Holiday photo.jpg", ShortSlot("OTHER   JPG", 0x20, 40, 9000));
  entries.push_back(photo);
  const auto folder = ParseLostFolder(Bytes(Folder(33, entries)), kRules);
  ASSERT_TRUE(folder);
  EXPECT_EQ(Names(*folder), std::vector<std::string>{"HOLIDA~1.JPG"});
}

TEST(LostFolders, TextEmptinessAndBrokenFirstSectorsAreNoFolderButBrokenLaterSectorsEndOne) {
  std::string text;
  while (text.size() < 1024) text += "The quick brown fox jumps over the lazy dog, 1234567890. ";
  EXPECT_FALSE(ParseLostFolder(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), 1024), kRules));
  EXPECT_FALSE(ParseLostFolder(std::vector<std::uint8_t>(512), kRules));

  std::vector<TSlot> first(16, ShortSlot("A       TXT", 0x20, 50, 10));
  first[3][11] = 0xFF;  // impossible attributes
  EXPECT_FALSE(ParseLostFolder(Bytes(first), kRules));

  std::vector<TSlot> spread(16, ShortSlot("A       TXT", 0x20, 50, 10));
  spread.push_back(ShortSlot("B       TXT", 0x20, 51, 10));
  spread.push_back(ShortSlot("C       TXT", 0x20, 0x0FFFFFF0, 10));  // a cluster the volume lacks
  spread.push_back(ShortSlot("D       TXT", 0x20, 52, 10));
  const auto folder = ParseLostFolder(Bytes(spread, 1024), kRules);
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->Entries.size(), 17u);
  EXPECT_EQ(folder->Entries.back().Name, "B.TXT");
}

TEST(LostFolders, GeometryComesFromFoldersThatAgreeOnIt) {
  constexpr std::int64_t kData = 800 * 512;
  constexpr std::uint32_t kCluster = 2048;
  std::vector<TLostFolder> folders;
  for (const std::uint32_t own : {5u, 9u, 20u})
    folders.push_back(TLostFolder{kData + (own - 2) * std::int64_t{kCluster}, own, {}});
  folders.push_back(TLostFolder{12345 * 512, 7u, {}});  // a copy of a folder, somewhere else
  folders.push_back(TLostFolder{999 * 512, std::nullopt, {}});
  const auto geometry = InferGeometry(folders);
  ASSERT_TRUE(geometry);
  EXPECT_EQ(geometry->DataOffset, kData);
  EXPECT_EQ(geometry->ClusterSize, kCluster);

  EXPECT_FALSE(InferGeometry(std::span(folders).first(1)));
}

}  // namespace
}  // namespace kestrine
