// The owner of found items and the lists that publish them to readers on other threads.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/volume/disk_object.h"
#include "engine/volume/item_store.h"
#include "tests/support/test_support.h"

namespace kestrine {
namespace {

// Counts the engine records destroyed, to see the store free what it owns.
struct TCountedInfo final : TFsInfo {
  explicit TCountedInfo(int& Destroyed) : Destroyed(Destroyed) {}
  ~TCountedInfo() override { ++Destroyed; }
  int& Destroyed;
};

TEST(PublishedList, ReaderOnAnotherThreadSeesEveryPublishedSlotWithoutALock) {
  // Enough items to cross many blocks, so a reader meets lists that grew under it.
  constexpr int kItems = 300000;
  std::vector<TFileInfo> items(kItems);
  TFoundItems list;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < kItems; ++i) EXPECT_EQ(list.Add(&items[static_cast<std::size_t>(i)]), i);
    done.store(true);
  });
  int wrong = 0, rounds = 0, lastCount = 0;
  while (!done.load() || rounds == 0) {
    const int count = list.Count();
    EXPECT_GE(count, lastCount);  // a published count never goes back
    lastCount = count;
    for (int i = 0; i < count; ++i) wrong += list.Items(i) != &items[static_cast<std::size_t>(i)];
    ++rounds;
  }
  writer.join();
  EXPECT_EQ(wrong, 0);
  ASSERT_EQ(list.Count(), kItems);
  EXPECT_EQ(list.Items(-1), nullptr);
  EXPECT_EQ(list.Items(kItems), nullptr);
  // The first slots of the doubling blocks and the ones just before them.
  for (int i : {0, 1023, 1024, 3071, 3072, 7167, 7168, kItems - 1})
    EXPECT_EQ(list.Items(i), &items[static_cast<std::size_t>(i)]) << i;
  EXPECT_EQ(list.IndexOf(&items[5000]), 5000);
  const std::vector<PFileInfo> snapshot = list.Snapshot();
  ASSERT_EQ(snapshot.size(), static_cast<std::size_t>(kItems));
  EXPECT_EQ(snapshot.back(), &items.back());

  // Emptied, it fills again from slot 0 and shows nothing of the old items past its count.
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Items(0), nullptr);
  EXPECT_EQ(list.Add(&items[7]), 0);
  EXPECT_EQ(list.Items(0), &items[7]);
  EXPECT_EQ(list.Items(1), nullptr);
  EXPECT_EQ(list.IndexOf(&items[5000]), -1);
}

TEST(ItemStore, ItemsNeverMoveAndResetFreesThemWithTheirRecords) {
  int destroyed = 0;
  TItemStore store;
  std::vector<PFileInfo> made;
  for (int i = 0; i < 10000; ++i) {
    PFileInfo item = store.NewItem();
    item->Name = "item " + std::to_string(i) + " with a name longer than a short string";
    item->FsInfo = std::make_unique<TCountedInfo>(destroyed);
    made.push_back(item);
  }
  EXPECT_EQ(store.Count(), 10000u);
  // Every item is where it was made, whole, after the store grew past several blocks.
  for (int i = 0; i < 10000; ++i)
    ASSERT_EQ(made[static_cast<std::size_t>(i)]->Name,
              "item " + std::to_string(i) + " with a name longer than a short string");
  EXPECT_EQ(destroyed, 0);
  store.Reset();
  EXPECT_EQ(destroyed, 10000);
  EXPECT_EQ(store.Count(), 0u);
  // A fresh item after a reset starts blank.
  PFileInfo again = store.NewItem();
  EXPECT_TRUE(again->Name.empty());
  EXPECT_EQ(again->FsInfo, nullptr);
  EXPECT_EQ(again->Size.load(), 0);
}

TEST(ItemStore, TheDiskFreesItsItemsWhenClearedAndWhenDestroyed) {
  test::TTempDir dir;
  const auto image = dir / "zero.img";
  test::WriteFile(image, std::vector<std::uint8_t>(4096));
  const platform::TDriveSpec drive{'c', image.string(), "", platform::TDriveType::Fixed};
  int destroyed = 0;
  {
    TDiskObject disk(drive);
    for (int i = 0; i < 3; ++i) {
      PFileInfo item = disk.Store.NewItem();
      item->FsInfo = std::make_unique<TCountedInfo>(destroyed);
      disk.Files.Add(item);
    }
    disk.Clear();
    EXPECT_EQ(destroyed, 3);
    EXPECT_EQ(disk.Files.Count(), 0);
    EXPECT_EQ(disk.Store.Count(), 0u);
    disk.Store.NewItem()->FsInfo = std::make_unique<TCountedInfo>(destroyed);
  }
  EXPECT_EQ(destroyed, 4);
}

}  // namespace
}  // namespace kestrine
