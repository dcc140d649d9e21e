// A source named by letter or by path becomes a disk of the drive list.

#include "engine/volume/source_drive.h"

#include "engine/volume/boot_sector.h"
#include "engine/volume/disk_object.h"
#include "engine/volume/recovery_manager.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace kestrine {
namespace {

platform::TDriveSpec Spec(char Letter, const std::string& Source) {
  return {Letter, Source, "", platform::TDriveType::Fixed};
}

TEST(SourceDrive, LettersInEitherSpellingNameListedDrives) {
  EXPECT_EQ(SourceLetter("D"), 'd');
  EXPECT_EQ(SourceLetter("d:"), 'd');
  EXPECT_EQ(SourceLetter("d:/"), std::nullopt);
  EXPECT_EQ(SourceLetter("1"), std::nullopt);
  EXPECT_EQ(SourceLetter("dd"), std::nullopt);

  test::TTempDir dir;
  const std::string image = (dir / "v.img").string();
  test::WriteFile(image, std::vector<std::uint8_t>(4096));
  TDriveListing listing{{Spec('d', image)}, {}};
  std::string error;
  EXPECT_TRUE(AddSourceDrive(listing, "q:", error)) << "a letter adds nothing";
  EXPECT_EQ(listing.Drives.size(), 1u);
  TDiskList list(listing);
  EXPECT_EQ(FindSourceDisk(list, "D:", error), list.GetDisk(0));
  EXPECT_EQ(FindSourceDisk(list, "q", error), nullptr);
  EXPECT_EQ(error, "q: no such drive");
}

TEST(SourceDrive, APathJoinsUnderTheFirstFreeLetterOnceHoweverItIsSpelled) {
  test::TTempDir dir;
  const std::string a = (dir / "a.img").string(), b = (dir / "b.img").string();
  test::WriteFile(a, std::vector<std::uint8_t>(4096));
  test::WriteFile(b, std::vector<std::uint8_t>(4096));
  TDriveListing listing{{Spec('a', a), Spec('c', "/dev/null")}, {}};
  std::string error;
  ASSERT_TRUE(AddSourceDrive(listing, (dir / "." / "a.img").string(), error));
  EXPECT_EQ(listing.Drives.size(), 1u + 1u) << "a listed source is not added again";
  ASSERT_TRUE(AddSourceDrive(listing, b, error));
  ASSERT_EQ(listing.Drives.size(), 3u);
  EXPECT_EQ(listing.Drives[2].Letter, 'b');
  TDiskList list(listing);
  TDiskObject* disk = FindSourceDisk(list, (dir / "x" / ".." / "b.img").string(), error);
  ASSERT_NE(disk, nullptr);
  EXPECT_EQ(disk->Letter, 'b');
}

TEST(SourceDrive, SourcesThatCannotJoinSayWhy) {
  test::TTempDir dir;
  TDriveListing listing;
  std::string error;
  const std::string missing = (dir / "missing.img").string();
  EXPECT_FALSE(AddSourceDrive(listing, missing, error));
  EXPECT_EQ(error.rfind(missing + ": ", 0), 0u) << error;
  EXPECT_GT(error.size(), missing.size() + 2);

  const std::string image = (dir / "v.img").string();
  test::WriteFile(image, std::vector<std::uint8_t>(4096));
  for (char l = 'a'; l <= 'z'; ++l) listing.Drives.push_back(Spec(l, "/dev/null"));
  EXPECT_FALSE(AddSourceDrive(listing, image, error));
  EXPECT_EQ(error, image + ": no free drive letter left for it");

  TDiskList empty(TDriveListing{});
  EXPECT_EQ(FindSourceDisk(empty, image, error), nullptr);
  EXPECT_EQ(error, image + ": not a drive that can be scanned");
}

}  // namespace
}  // namespace kestrine

namespace kestrine {
namespace {

TEST(SourceDrive, AnImageAddedLaterBecomesOneDiskPerPartitionOnce) {
  test::TTempDir dir;
  const auto fat = test::UnpackImage(test::TestDataDir() / "fat16.img.xz", dir.Path());
  const auto disk = test::UnpackImage(test::TestDataDir() / "mbr.img.xz", dir.Path());
  TRecoveryManager manager(TDriveListing{{Spec('d', fat.string())}, {}});
  std::string error;
  const std::vector<TDiskObject*> added = manager.AddImage(disk.string(), error);
  ASSERT_EQ(added.size(), 2u) << error;
  EXPECT_EQ(manager.DiskList->DiskCount(), 3);
  // Letters the list holds are never given twice.
  EXPECT_NE(added[0]->Letter, 'd');
  EXPECT_NE(added[1]->Letter, 'd');
  EXPECT_NE(added[0]->Letter, added[1]->Letter);
  EXPECT_EQ(added[0]->Partition, 1);
  EXPECT_TRUE(IsKnown(added[1]->FileSystem));

  EXPECT_TRUE(manager.AddImage(disk.string(), error).empty());
  EXPECT_EQ(error, disk.string() + ": listed already");
  const std::string missing = (dir / "gone.img").string();
  EXPECT_TRUE(manager.AddImage(missing, error).empty());
  EXPECT_EQ(error, missing + ": No such file or directory");
  EXPECT_EQ(manager.DiskList->DiskCount(), 3);
}

}  // namespace
}  // namespace kestrine
