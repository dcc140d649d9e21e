// Real FAT volumes scanned and set beside The Sleuth Kit: the same deleted files at the same paths
// with the same sizes, and for files still wholly free, the same bytes as icat.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

#include "engine/fat/fat_names.h"
#include "engine/fat/fat_records.h"
#include "engine/fat/fat_stream.h"
#include "tests/engine/fat/fat_volume_builder.h"
#include "tests/support/test_support.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;

struct TTskFile {
  std::string Inode;
  std::string Path;
  std::int64_t Size = 0;
};

std::vector<std::string> Split(const std::string& S, char Separator) {
  std::vector<std::string> parts;
  std::stringstream in(S);
  for (std::string part; std::getline(in, part, Separator);) parts.push_back(part);
  return parts;
}

// Deleted regular files that fls lists with a name. Orphans (found by reading free space rather
// than directories) and the backup names we exclude on purpose are left out.
std::vector<TTskFile> ListWithFls(const fs::path& Image) {
  const test::TCommandResult fls = test::RunCommand("fls -rdpl " + test::ShellQuote(Image.string()));
  std::vector<TTskFile> files;
  for (const std::string& line : Split(fls.Output, '\n')) {
    const std::vector<std::string> f = Split(line, '\t');
    if (f.size() < 7 || f[0].rfind("r/r * ", 0) != 0 || f[1].rfind("$OrphanFiles/", 0) == 0) continue;
    if (IsExcludedBakName(Split(f[1], '/').back())) continue;
    files.push_back({f[0].substr(6, f[0].size() - 7), f[1], std::stoll(f[6])});
  }
  return files;
}

// Our path as fls writes it: "$" for a lost first character is its "_"; names agree letter for
// letter, 8.3 names in the case their flags ask for.
std::string TskStylePath(const TFileInfo* Item) {
  std::string path;
  for (const TFileInfo* f = Item; f && f->Parent; f = f->Parent) {
    std::string name = f->Name;
    if (f->FsInfo && f->FsInfo->IsDeleted() && !name.empty() && name[0] == '$') name[0] = '_';
    path = path.empty() ? name : name + "/" + path;
  }
  return path;
}

std::string ReadStream(TRecoveryStream& Stream) {
  std::string out;
  std::vector<char> buffer(1 << 16);
  while (const std::uint32_t n = Stream.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size())))
    out.append(buffer.data(), n);
  return out;
}

// Real volumes made elsewhere, unpacked per test.
fs::path SharedImages() {
  return test::SharedDataDir();
}

class FatAgainstSleuthKit : public ::testing::TestWithParam<std::string> {};

TEST_P(FatAgainstSleuthKit, FindsWhatFlsListsAndReadsWhatIcatReads) {
  if (test::RunCommand("command -v fls icat >/dev/null 2>&1").Status != 0) GTEST_SKIP() << "The Sleuth Kit is not installed";
  const std::string& name = GetParam();
  const fs::path xz = name.rfind("fat/", 0) == 0 ? SharedImages() / name : test::TestDataDir() / name;
  if (!fs::exists(xz)) GTEST_SKIP() << xz << " is not here";
  test::TTempDir dir;
  const fs::path image = test::UnpackImage(xz, dir.Path());
  ASSERT_FALSE(image.empty());

  const auto scan = test::ScanImage(image);
  ASSERT_EQ(scan->Reports.Finished, 1);
  std::multimap<std::pair<std::string, std::int64_t>, PFileInfo> ours;
  for (PFileInfo f : scan->Disk->Files.Snapshot()) ours.emplace(std::make_pair(TskStylePath(f), f->Size.load()), f);

  // fls lists a directory slot reached through two deleted folders (sharing one cluster) under
  // both; we read each directory cluster once, so either path of that slot may be ours.
  std::map<std::string, std::vector<TTskFile>> byInode;
  std::vector<std::string> inodes;
  for (const TTskFile& f : ListWithFls(image)) {
    if (!byInode.count(f.Inode)) inodes.push_back(f.Inode);
    byInode[f.Inode].push_back(f);
  }
  int compared = 0;
  for (const std::string& inode : inodes) {
    const std::vector<TTskFile>& paths = byInode[inode];
    auto match = ours.end();
    for (const TTskFile& f : paths)
      if ((match = ours.find({f.Path, f.Size})) != ours.end()) break;
    if (match == ours.end()) {
      ADD_FAILURE() << "fls lists " << paths.front().Path << " (" << paths.front().Size << " bytes, inode " << inode
                    << ") and we do not";
      continue;
    }
    const PFileInfo item = match->second;
    ours.erase(match);
    if (item->Condition != 100 || item->Size == 0) continue;
    TRecoveryFatStream stream(scan->Disk.get(), item);
    const std::string icat = test::RunCommand("icat " + test::ShellQuote(image.string()) + " " + inode).Output;
    EXPECT_TRUE(ReadStream(stream) == icat) << "bytes of " << paths.front().Path << " differ from icat's";
    ++compared;
  }
  for (const auto& [key, item] : ours) ADD_FAILURE() << "we list " << key.first << " (" << key.second << " bytes), fls does not";
  RecordProperty("icat_compared", compared);
}

INSTANTIATE_TEST_SUITE_P(Images, FatAgainstSleuthKit,
                         ::testing::Values("fat12.img.xz", "fat16.img.xz", "fat32.img.xz", "fat/6-fat-undel.dd.xz",
                                           "fat/rust-fatfs-floppy.img.xz", "fat/fat_deleted_dir.raw.xz",
                                           "fat/fat32_loop.raw.xz", "fat/fat16_moved.raw.xz"),
                         [](const auto& Info) {
                           std::string n = Info.param;
                           for (char& c : n)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

}  // namespace
}  // namespace kestrine
