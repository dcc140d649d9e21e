// Each found folder is announced once, whatever the front end does with the announcement.

#include <gtest/gtest.h>

#include <map>

#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"
#include "engine/volume/workflow_ports.h"
#include "tests/support/test_support.h"

namespace kestrine {
namespace {

// Keeps no tree: nothing of the items is written back.
struct TCountingReports final : TScanReports {
  std::map<PFileInfo, int> Announced;
  int Files = 0;
  void FolderAdded(TDiskObject*, PFileInfo Info) override { ++Announced[Info]; }
  void FileAdded(TDiskObject*, PFileInfo) override { ++Files; }
  void ScanProgress(TDiskObject*, std::int64_t, std::int64_t) override {}
  void ScanFinished(TDiskObject*) override {}
};

class FolderReports : public ::testing::TestWithParam<const char*> {};

TEST_P(FolderReports, AnnounceEveryFolderOfTheResultOnce) {
  test::TTempDir dir;
  const auto image = test::UnpackImage(test::TestDataDir() / GetParam(), dir.Path());
  ASSERT_FALSE(image.empty());
  TCountingReports reports;
  TDiskObject disk({'d', image.string(), "", platform::TDriveType::Fixed}, &reports);
  ASSERT_NE(disk.Scanner, nullptr);
  disk.Scanner->ScanForFiles();
  ASSERT_GT(reports.Files, 0);
  EXPECT_EQ(reports.Announced.size(), static_cast<std::size_t>(disk.Folders.Count()));
  for (const auto& [folder, times] : reports.Announced) EXPECT_EQ(times, 1) << folder->Name;
  for (PFileInfo file : disk.Files.Snapshot())
    for (PFileInfo f = file->Parent; f; f = f->Parent) EXPECT_TRUE(reports.Announced.contains(f)) << f->Name;

  // A second scan announces the folders of that scan again, each once.
  reports.Announced.clear();
  disk.Scanner->ScanForFiles();
  EXPECT_EQ(reports.Announced.size(), static_cast<std::size_t>(disk.Folders.Count()));
  for (const auto& [folder, times] : reports.Announced) EXPECT_EQ(times, 1) << folder->Name;
}

INSTANTIATE_TEST_SUITE_P(Images, FolderReports,
                         ::testing::Values("fat12.img.xz", "fat16.img.xz", "fat32.img.xz", "ntfs.img.xz"));

}  // namespace
}  // namespace kestrine
