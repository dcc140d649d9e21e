// What a scan finds on real NTFS volumes, compared with The Sleuth Kit (fls, istat, icat) on the same
// image: every named deleted file of `fls -rd`, with its record number, size and parent, and the bytes
// of every fully intact file (main data and named streams) equal to `icat`.

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>

#include "engine/ntfs/mft_reader.h"
#include "engine/ntfs/ntfs_scanner.h"
#include "tests/engine/ntfs/ntfs_image_builder.h"
#include "tests/support/test_support.h"

namespace kestrine::test {
namespace {
namespace fs = std::filesystem;

struct TFlsEntry {
  std::int64_t RecNo = 0;
  int AttrId = -1;  // -1 when fls names no attribute
  std::string Path;
  std::int64_t Size = 0;
};

bool HaveSleuthKit() { return RunCommand("command -v fls icat istat >/dev/null 2>&1").Status == 0; }

std::vector<TFlsEntry> ListWithFls(const fs::path& Image, bool Deleted) {
  const auto result = RunCommand(std::string("fls -rpl") + (Deleted ? "d " : " ") + ShellQuote(Image.string()));
  static const std::regex line(R"(^(\S+) (\* )?(\d+)(-\d+-(\d+))?(\(realloc\))?:\t([^\t]*)\t[^\t]*\t[^\t]*\t[^\t]*\t[^\t]*\t(\d+)\t.*$)");
  std::vector<TFlsEntry> entries;
  std::istringstream in(result.Output);
  for (std::string text; std::getline(in, text);) {
    std::smatch m;
    if (!std::regex_match(text, m, line)) continue;
    const std::string type = m[1];
    // Files only (not folders or virtual entries), names still pointing at their record, deleted or not.
    if (type.back() != 'r' || m[6].matched || Deleted != m[2].matched) continue;
    entries.push_back({std::stoll(m[3]), m[5].matched ? std::stoi(m[5]) : -1, m[7], std::stoll(m[8])});
  }
  return entries;
}

std::vector<std::uint8_t> Icat(const fs::path& Image, const std::string& Address) {
  const auto result = RunCommand("icat " + ShellQuote(Image.string()) + " " + Address);
  return std::vector<std::uint8_t>(result.Output.begin(), result.Output.end());
}

std::int64_t ParentFromIstat(const fs::path& Image, std::int64_t RecNo) {
  const auto result = RunCommand("istat " + ShellQuote(Image.string()) + " " + std::to_string(RecNo));
  static const std::regex parent(R"(Parent MFT Entry: (\d+))");
  std::smatch m;
  return std::regex_search(result.Output, m, parent) ? std::stoll(m[1]) : -1;
}

std::string LastComponent(const std::string& Path) { return Path.substr(Path.rfind('/') + 1); }

// The main-data entry and the named-stream entries ("name:stream") of one record.
struct TFlsFile {
  std::vector<TFlsEntry> Names;
  std::vector<TFlsEntry> Streams;
};

std::map<std::int64_t, TFlsFile> GroupByRecord(const std::vector<TFlsEntry>& Entries) {
  std::map<std::int64_t, TFlsFile> files;
  for (const TFlsEntry& e : Entries) {
    const std::string last = LastComponent(e.Path);
    auto& file = files[e.RecNo];
    (last.find(':') != std::string::npos ? file.Streams : file.Names).push_back(e);
  }
  return files;
}

struct TCompareCounts {
  int Listed = 0, Matched = 0, Compared = 0, StreamsCompared = 0;
};

void CompareDeletedFiles(const fs::path& Image, const TNtfsScan& Scan, TCompareCounts& Counts) {
  for (const auto& [recNo, file] : GroupByRecord(ListWithFls(Image, true))) {
    std::erase_if(const_cast<std::vector<TFlsEntry>&>(file.Names), [](const TFlsEntry& E) {
      return E.Path.starts_with("$OrphanFiles/OrphanFile-") || IsExcludedName(LastComponent(E.Path));
    });
    if (file.Names.empty()) continue;
    ++Counts.Listed;
    SCOPED_TRACE(Image.filename().string() + " record " + std::to_string(recNo) + " " + file.Names[0].Path);
    const PFileInfo item = Scan.File(recNo);
    ASSERT_NE(item, nullptr);
    const std::string ours = PathBelowRoot(item);
    bool samePlace = false;
    for (const TFlsEntry& name : file.Names) {
      EXPECT_EQ(item->Size.load(), name.Size);
      if (name.Path.starts_with("$OrphanFiles/")) {
        // The Sleuth Kit lost the parent; the scan hangs the file from the parent record its name gives.
        const std::int64_t parent = ParentFromIstat(Image, recNo);
        const auto* parentInfo = item->Parent ? item->Parent->Info<TNtfsFileInfo>() : nullptr;
        samePlace |= item->Name == LastComponent(name.Path) && parentInfo && parentInfo->RecNo == parent;
      } else {
        samePlace |= ours == name.Path;
      }
    }
    EXPECT_TRUE(samePlace) << "ours: " << ours;
    if (!samePlace) continue;
    ++Counts.Matched;
    if (item->Condition != 100) continue;
    EXPECT_EQ(ReadWholeStream(item), Icat(Image, std::to_string(recNo)));
    ++Counts.Compared;
    for (const TFlsEntry& stream : file.Streams) {
      const std::string name = LastComponent(stream.Path).substr(LastComponent(stream.Path).find(':') + 1);
      EXPECT_EQ(ReadWholeStream(item, name), Icat(Image, std::to_string(recNo) + "-128-" + std::to_string(stream.AttrId)))
          << name;
      ++Counts.StreamsCompared;
    }
  }
}

// Files in use read through the same stream: compressed, sparse and attribute-list files of the real
// volumes are live ones.
void CompareLiveFiles(const fs::path& Image, const TNtfsScan& Scan, TCompareCounts& Counts, int Limit) {
  auto* scanner = dynamic_cast<TNtfsScaner*>(Scan.Disk->Scanner.get());
  ASSERT_NE(scanner, nullptr);
  TMftReader& reader = *scanner->MftReader();
  for (const TFlsEntry& e : ListWithFls(Image, false)) {
    if (Limit-- <= 0) break;
    if (e.Path.starts_with("$") || e.Path.find("/$") != std::string::npos) continue;  // system files
    SCOPED_TRACE(Image.filename().string() + " live " + e.Path);
    bool found = false;
    TFileInfo item;
    auto info = reader.ReadFileInfo(0, found, e.RecNo);
    ASSERT_TRUE(info);
    item.Size = reader.GetFileSize(*info);
    reader.GetStandardInfo(item, *info);
    item.Disk = Scan.Disk.get();
    item.FsInfo = std::move(info);
    const std::string last = LastComponent(e.Path);
    const auto colon = last.find(':');
    if (colon == std::string::npos) {
      EXPECT_EQ(item.Size.load(), e.Size);
      EXPECT_EQ(ReadWholeStream(&item), Icat(Image, std::to_string(e.RecNo)));
      ++Counts.Compared;
    } else {
      EXPECT_EQ(ReadWholeStream(&item, last.substr(colon + 1)),
                Icat(Image, std::to_string(e.RecNo) + "-128-" + std::to_string(e.AttrId)));
      ++Counts.StreamsCompared;
    }
  }
}

struct TImageCase {
  fs::path Xz;
  int LiveLimit;
};

class SleuthKitComparison : public ::testing::TestWithParam<std::string> {};

fs::path ImagePath(const std::string& Name) {
  return Name.starts_with("shared:") ? SharedDataDir() / Name.substr(7) : TestDataDir() / Name;
}

TEST_P(SleuthKitComparison, DeletedFilesAndStreamBytesMatch) {
  if (!HaveSleuthKit()) GTEST_SKIP() << "The Sleuth Kit is not installed";
  const fs::path xz = ImagePath(GetParam());
  if (!fs::exists(xz)) GTEST_SKIP() << xz << " is not there";
  TTempDir dir;
  const fs::path image = UnpackImage(xz, dir.Path());
  ASSERT_FALSE(image.empty());
  const auto scan = ScanNtfsImage(image);
  ASSERT_EQ(scan->Reports.Finished, 1);
  TCompareCounts deleted, live;
  CompareDeletedFiles(image, *scan, deleted);
  CompareLiveFiles(image, *scan, live, 400);
  std::cout << "[ compare  ] " << xz.filename().string() << ": fls -rd names " << deleted.Listed
            << " files, scan matched " << deleted.Matched << " of them (found " << scan->Disk->Files.Count()
            << " in all); icat equal for " << deleted.Compared << " intact deleted files and "
            << deleted.StreamsCompared << " of their named streams; " << live.Compared << " live files and "
            << live.StreamsCompared << " live named streams\n";
}

INSTANTIATE_TEST_SUITE_P(Volumes, SleuthKitComparison,
                         ::testing::Values("ntfs.img.xz", "shared:ntfs/dissect-ntfs.bin.xz",
                                           "shared:ntfs/testfs1.img.xz", "shared:ntfs/ntfs3_attrlist.raw.xz"),
                         [](const auto& Info) {
                           std::string name = fs::path(Info.param).stem().stem().string();
                           std::erase_if(name, [](char C) { return !std::isalnum(static_cast<unsigned char>(C)); });
                           return name;
                         });

}  // namespace
}  // namespace kestrine::test
