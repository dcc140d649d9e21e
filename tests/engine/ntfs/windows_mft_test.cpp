// Records written by Windows: $MFT files copied from real volumes, set into a volume of their own.

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "engine/ntfs/mft_record.h"
#include "engine/ntfs/ntfs_scanner.h"
#include "engine/volume/byte_order.h"
#include "tests/engine/ntfs/ntfs_image_builder.h"
#include "tests/support/test_support.h"

namespace kestrine::test {
namespace {
namespace fs = std::filesystem;

fs::path MftOnlyDir() { return SharedDataDir() / "ntfs/mft-only"; }

// The MFT at cluster 16 of a fresh volume, its record 0 pointed there; sectors of SectorSize bytes.
fs::path VolumeAroundMft(const fs::path& Mft, const fs::path& Dir, std::uint16_t SectorSize) {
  std::vector<std::uint8_t> mft = ReadFile(Mft);
  const std::uint32_t recordSize = ReadLe32(mft, 0x1C);
  const std::int64_t mftClusters = static_cast<std::int64_t>(mft.size() / 4096);
  TNtfsGeometry g;
  g.BytesPerSector = SectorSize;
  g.RecordSize = recordSize;
  g.MftLcn = 16;
  g.MftRecords = static_cast<std::int64_t>(mft.size() / recordSize);
  g.BitmapLcn = 16 + mftClusters + 4;
  g.FirstFreeLcn = g.BitmapLcn + 4;
  g.Clusters = g.FirstFreeLcn + 64;
  TNtfsImageBuilder image(g);
  std::vector<std::uint8_t> first(mft.begin(), mft.begin() + recordSize);
  EXPECT_TRUE(ApplyFixups(first, 512));
  const auto data = FindAttrInRecord(first, 0x80, -1);
  EXPECT_TRUE(data && data->NonResident());
  if (!data) return {};
  const std::size_t pairs = static_cast<std::size_t>(data->MappingPairs().data() - first.data());
  const auto runs = EncodeRuns({{static_cast<std::uint64_t>(mftClusters), 16}});
  EXPECT_LE(runs.size(), data->MappingPairs().size());
  std::copy(runs.begin(), runs.end(), first.begin() + static_cast<std::ptrdiff_t>(pairs));
  // Protect the record again as it was.
  const std::size_t usa = ReadLe16(first, 4), count = ReadLe16(first, 6);
  for (std::size_t i = 1; i < count; ++i) {
    const std::size_t at = i * 512 - 2;
    first[usa + 2 * i] = first[at], first[usa + 2 * i + 1] = first[at + 1];
    first[at] = first[usa], first[at + 1] = first[usa + 1];
  }
  std::copy(first.begin(), first.end(), mft.begin());
  image.PutClusters(16, mft);
  return image.WriteTo(Dir, Mft.stem().string() + ".img");
}

// fls's listing of the live files: record number, names and sizes of their main data.
std::map<std::int64_t, std::pair<std::set<std::string>, std::int64_t>> FlsFiles(const fs::path& Listing) {
  std::map<std::int64_t, std::pair<std::set<std::string>, std::int64_t>> files;
  const auto bytes = ReadFile(Listing);
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  static const std::regex line(R"(^r/r (\d+)-128-\d+:\t([^\t]*)\t[^\t]*\t[^\t]*\t[^\t]*\t[^\t]*\t(\d+)\t.*$)");
  for (std::string text; std::getline(in, text);) {
    std::smatch m;
    if (!std::regex_match(text, m, line)) continue;
    const std::string path = m[2];
    const std::string name = path.substr(path.rfind('/') + 1);
    if (name.find(':') != std::string::npos) continue;
    auto& file = files[std::stoll(m[1])];
    file.first.insert(name);
    file.second = std::stoll(m[3]);
  }
  return files;
}

class WindowsMft : public ::testing::TestWithParam<std::pair<std::string, std::uint16_t>> {};

TEST_P(WindowsMft, NamesAndSizesAgreeWithFls) {
  const fs::path mft = MftOnlyDir() / (GetParam().first + ".mft");
  if (!fs::exists(mft)) GTEST_SKIP() << mft << " is not there";
  TTempDir dir;
  const auto scan = ScanNtfsImage(VolumeAroundMft(mft, dir.Path(), GetParam().second));
  auto* scanner = dynamic_cast<TNtfsScaner*>(scan->Disk->Scanner.get());
  ASSERT_NE(scanner, nullptr);
  TMftReader& reader = *scanner->MftReader();
  const auto files = FlsFiles(MftOnlyDir() / (GetParam().first + ".fls"));
  ASSERT_FALSE(files.empty());
  for (const auto& [recNo, file] : files) {
    SCOPED_TRACE(*file.first.begin());
    bool found = false;
    auto info = reader.ReadFileInfo(0, found, recNo);
    ASSERT_TRUE(info);
    std::string name;
    reader.GetFileName(*info, name);
    EXPECT_TRUE(file.first.contains(name)) << name;
    EXPECT_EQ(reader.GetFileSize(*info), file.second);
  }
}

INSTANTIATE_TEST_SUITE_P(Listings, WindowsMft,
                         ::testing::Values(std::pair<std::string, std::uint16_t>{"unicode", 512},
                                           std::pair<std::string, std::uint16_t>{"orphan", 512},
                                           std::pair<std::string, std::uint16_t>{"4k-large", 4096}),
                         [](const auto& Info) {
                           std::string name = Info.param.first;
                           std::erase(name, '-');
                           return name;
                         });

TEST(WindowsMftDeleted, APathFiveFoldersDeepIsRebuilt) {
  const fs::path mft = MftOnlyDir() / "deleted.mft";
  if (!fs::exists(mft)) GTEST_SKIP() << mft << " is not there";
  TTempDir dir;
  const auto scan = ScanNtfsImage(VolumeAroundMft(mft, dir.Path(), 512));
  std::set<std::string> paths;
  for (PFileInfo item : scan->Disk->Files.Snapshot()) paths.insert(PathBelowRoot(item));
  EXPECT_TRUE(paths.contains("1/2/3/4/file.txt"));
}

}  // namespace
}  // namespace kestrine::test
