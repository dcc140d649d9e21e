// The deep scan over cards whose records are gone, and over a live volume with a lost folder.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "engine/deep/deep_scanner.h"
#include "engine/volume/recovery_stream.h"
#include "engine/volume/scanner_factory.h"
#include "tests/engine/fat/fat_volume_builder.h"
#include "tests/support/test_support.h"
#include "workflow/item_selection.h"

namespace kestrine {
namespace {

using nlohmann::json;

std::unique_ptr<test::TScannedDisk> DeepScan(const std::filesystem::path& Image) {
  return test::ScanImage(Image, [](test::TScannedDisk& S) { S.Disk->SetDeepScan(true); });
}

std::vector<std::uint8_t> StreamBytes(TDiskObject& Disk, PFileInfo Item) {
  auto stream = CreateStreamForKind(&Disk, Disk.FileSystem, Item, "");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stream ? stream->GetSize() : 0));
  std::size_t done = 0;
  while (done < bytes.size())
    if (const std::uint32_t n = stream->Read(bytes.data() + done, static_cast<std::uint32_t>(bytes.size() - done)))
      done += n;
    else
      break;
  bytes.resize(done);
  return bytes;
}

std::map<std::string, PFileInfo> ByPath(const TDiskObject& Disk, int From = 0) {
  std::map<std::string, PFileInfo> paths;
  for (int i = From; i < Disk.Files.Count(); ++i) paths.emplace(ItemPath(*Disk.Files.Items(i)), Disk.Files.Items(i));
  return paths;
}

class DeepCards : public ::testing::TestWithParam<const char*> {};

// Every original whose bytes still lie whole on the card comes back byte for byte, whether a lost
// folder names it or only its structure gives it away; lost folders keep the names.
TEST_P(DeepCards, EveryOriginalLyingWholeComesBackAndLostFoldersKeepTheirNames) {
  test::TTempDir dir;
  const std::string name = GetParam();
  const auto image = test::UnpackImage(test::TestDataDir() / (name + ".xz"), dir.Path());
  const std::vector<std::uint8_t> card = test::ReadFile(image);
  std::ifstream in(test::TestDataDir() / "deep_manifest.json");
  const json files = json::parse(in)[name];
  const auto scan = DeepScan(image);
  TDiskObject& disk = *scan->Disk;
  EXPECT_EQ(scan->Reports.Finished, 1);
  EXPECT_FALSE(disk.Scanner->ScanFailure());

  std::map<std::vector<std::uint8_t>, std::string> found;
  std::set<std::string> lostNames;
  for (const auto& [path, item] : ByPath(disk, disk.DeepFilesFrom)) {
    EXPECT_TRUE(path.starts_with("$Lost folders/") || path.starts_with("$Deep scan/")) << path;
    EXPECT_EQ(item->Condition, 100) << path;
    if (path.starts_with("$Lost folders/")) lostNames.insert(item->Name);
    found.emplace(StreamBytes(disk, item), path);
  }
  int whole = 0;
  for (const json& f : files) {
    if (f["offset"].is_null()) continue;
    ++whole;
    const auto at = card.begin() + f["offset"].get<std::ptrdiff_t>();
    const std::vector<std::uint8_t> original(at, at + f["size"].get<std::ptrdiff_t>());
    EXPECT_TRUE(found.contains(original)) << f["name"];
  }
  EXPECT_GE(whole, 20);
  // The subfolders' clusters outlive a format; zeroing the first MiB takes the first ones. A FAT
  // root's second cluster has no "." entry, and counts once the geometry is known; an exFAT root
  // fits in the one cluster the format empties.
  for (const char* kept : {"Report.docx", "Voice memo.wav", "Clip.mov"}) EXPECT_TRUE(lostNames.contains(kept)) << kept;
  EXPECT_EQ(lostNames.contains("Photos.zip"), name != "deep_exfat.img");
  if (name != "deep_zeroed.img") {
    for (const char* kept : {"Beach_03.jpg", "logo.png"}) EXPECT_TRUE(lostNames.contains(kept)) << kept;
  }
}

INSTANTIATE_TEST_SUITE_P(Cards, DeepCards, ::testing::Values("deep_quick.img", "deep_zeroed.img", "deep_exfat.img"));

// Progress goes by the bytes passed, and a stop during the pass keeps what the pass found until then.
TEST(DeepScan, StopDuringThePassKeepsWhatWasFound) {
  struct TStopping final : TScanReports {
    TDiskObject* Disk = nullptr;
    std::vector<std::pair<std::int64_t, std::int64_t>> Progress;
    int Files = 0, Finished = 0;
    void FolderAdded(TDiskObject*, PFileInfo) override {}
    void FileAdded(TDiskObject*, PFileInfo) override { ++Files; }
    void ScanProgress(TDiskObject*, std::int64_t Done, std::int64_t Total) override {
      Progress.emplace_back(Done, Total);
      if (Progress.size() == 3) Disk->Scanner->SetStopped(true);
    }
    void ScanFinished(TDiskObject*) override { ++Finished; }
  } reports;
  test::TTempDir dir;
  const auto image = test::UnpackImage(test::TestDataDir() / "deep_zeroed.img.xz", dir.Path());
  TDiskObject disk(platform::TDriveSpec{'d', image.string(), "", platform::TDriveType::Fixed}, &reports);
  reports.Disk = &disk;
  disk.SetDeepScan(true);
  disk.Scanner->ScanForFiles();
  EXPECT_EQ(reports.Finished, 1);
  ASSERT_EQ(reports.Progress.size(), 3u);
  for (std::size_t i = 1; i < reports.Progress.size(); ++i)
    EXPECT_GT(reports.Progress[i].first, reports.Progress[i - 1].first);
  EXPECT_LT(reports.Progress.back().first, reports.Progress.back().second);
  // The first blocks hold the lost folders and the files found by their contents.
  EXPECT_GT(reports.Files, 10);
  EXPECT_EQ(reports.Files, disk.Files.Count());
}

// On a live volume the pass reads only free clusters: a folder cluster no walk reaches is lost, a
// deleted folder the walk read is not listed twice, and a file with a record is not found again by
// its contents.
TEST(DeepScan, LiveVolumesGiveOnlyWhatTheirOwnScanCannot) {
  test::TTempDir dir;
  test::TFatVolumeBuilder v({TFileSystemKind::Fat16, 512, 4});
  const std::uint32_t cs = v.ClusterSize();
  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  png.resize(png.size() + 17);
  png.insert(png.end(), {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82});
  // Root: a deleted file whose data is a PNG, and a deleted folder at cluster 10.
  std::int64_t root = v.RootOffset();
  root = v.Put(root, test::Deleted(test::ShortSlot("PIC     PNG", 0x20, 5, static_cast<std::uint32_t>(png.size()))));
  root = v.Put(root, test::Deleted(test::ShortSlot("OLD        ", 0x10, 10, 0)));
  v.PutBytes(v.ClusterOffset(5), png);
  v.PutSlots(v.ClusterOffset(10),
             {test::ShortSlot(".          ", 0x10, 10, 0), test::ShortSlot("..         ", 0x10, 0, 0),
              test::Deleted(test::ShortSlot("INSIDE  TXT", 0x20, 11, 100))});
  // Cluster 20: a folder nothing points at, its file's data in cluster 22 (a PNG too).
  v.PutSlots(v.ClusterOffset(20),
             {test::ShortSlot(".          ", 0x10, 20, 0), test::ShortSlot("..         ", 0x10, 0, 0),
              test::ShortSlot("LOST    PNG", 0x20, 22, static_cast<std::uint32_t>(png.size()))});
  v.PutBytes(v.ClusterOffset(22), png);
  // Cluster 30: a PNG no entry names; cluster 31 in use, holding a PNG the pass must not read.
  v.PutBytes(v.ClusterOffset(30), png);
  v.PutBytes(v.ClusterOffset(31), png);
  v.SetFat(31, v.EndOfChain());
  v.PutBytes(v.ClusterOffset(40), std::vector<std::uint8_t>(cs));
  const auto image = dir / "live.img";
  test::WriteFile(image, v.Bytes());

  const auto scan = DeepScan(image);
  const auto paths = ByPath(*scan->Disk);
  std::vector<std::string> listed;
  for (const auto& [path, item] : paths) listed.push_back(path);
  EXPECT_EQ(listed, (std::vector<std::string>{"$Deep scan/PNG/f" + std::to_string(v.ClusterOffset(30) / 512) + ".png",
                                              "$IC.PNG", "$LD/$NSIDE.TXT", "$Lost folders/20/LOST.PNG"}))
      << ::testing::PrintToString(listed);
  const PFileInfo lost = paths.at("$Lost folders/20/LOST.PNG");
  EXPECT_EQ(StreamBytes(*scan->Disk, lost), png);
  // The plain scan's items come first in the lists, the deep scan's after them.
  EXPECT_EQ(scan->Disk->DeepFilesFrom, 2);
  TItemIds ids(*scan->Disk);
  EXPECT_LT(ids.IdOf(*paths.at("$IC.PNG")), ids.IdOf(*lost));
  EXPECT_EQ(ids.Find(ids.IdOf(*lost)), lost);
}

}  // namespace
}  // namespace kestrine
