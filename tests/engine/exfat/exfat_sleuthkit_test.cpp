// The exFAT volume written through exfat-fuse, set beside The Sleuth Kit: the same deleted files at
// the same paths with the same sizes, and for files of condition 100 the same bytes as icat.

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "engine/exfat/exfat_scanner.h"
#include "engine/exfat/exfat_stream.h"
#include "engine/volume/disk_scanner.h"
#include "tests/engine/fat/fat_volume_builder.h"
#include "tests/support/test_support.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;

// fls's "2025-01-05 10:20:30 (UTC)" for a time, to the second.
std::string FlsTime(TFileTime Time) {
  std::string iso = FileTimeToIsoUtc(Time).value_or("0000-00-00T00:00:00Z").substr(0, 19);
  iso[10] = ' ';
  return iso + " (UTC)";
}

std::vector<std::string> Split(const std::string& S, char Separator) {
  std::vector<std::string> parts;
  std::stringstream in(S);
  for (std::string part; std::getline(in, part, Separator);) parts.push_back(part);
  return parts;
}

TEST(ExFatAgainstSleuthKit, FindsWhatFlsListsAndReadsWhatIcatReads) {
  if (test::RunCommand("command -v fls icat >/dev/null 2>&1").Status != 0) GTEST_SKIP() << "The Sleuth Kit is not installed";
  test::TTempDir dir;
  const fs::path image = test::UnpackImage(test::TestDataDir() / "exfat.img.xz", dir.Path());
  ASSERT_FALSE(image.empty());
  const auto scan = test::ScanImage(image);
  ASSERT_EQ(scan->Reports.Finished, 1);
  ASSERT_FALSE(scan->Disk->Scanner->ScanFailure());
  const auto* scanner = dynamic_cast<TExFatScaner*>(scan->Disk->Scanner.get());
  ASSERT_TRUE(scanner);
  EXPECT_EQ(scanner->Label, "KEXFAT");
  std::map<std::pair<std::string, std::int64_t>, PFileInfo> ours;
  for (PFileInfo f : scan->Disk->Files.Snapshot()) ours.emplace(std::make_pair(test::ItemPath(f), f->Size.load()), f);

  const std::string quoted = test::ShellQuote(image.string());
  int listed = 0, compared = 0;
  for (const std::string& line : Split(test::RunCommand("fls -z UTC -rdpl " + quoted).Output, '\n')) {
    const std::vector<std::string> f = Split(line, '\t');
    if (f.size() < 7 || f[0].rfind("r/r * ", 0) != 0 || f[1].rfind("$OrphanFiles/", 0) == 0) continue;
    ++listed;
    const auto match = ours.find({f[1], std::stoll(f[6])});
    if (match == ours.end()) {
      ADD_FAILURE() << "fls lists " << f[1] << " (" << f[6] << " bytes) and we do not";
      continue;
    }
    const PFileInfo item = match->second;
    ours.erase(match);
    // Written in UTC with the offset byte set: the times are the same instants. fls leaves out the
    // creation time's 10 ms units, which go past the stamp's even second.
    constexpr TFileTime kTwoSeconds = 2 * kFileTimeTicksPerSecond;
    EXPECT_EQ(FlsTime(item->LastWriteTime), f[2]) << f[1];
    EXPECT_EQ(FlsTime(item->CreationTime / kTwoSeconds * kTwoSeconds), f[5]) << f[1];
    if (item->Condition != 100) continue;
    const std::string inode = f[0].substr(6, f[0].size() - 7);
    TRecoveryExFatStream stream(scan->Disk.get(), item);
    std::string bytes(static_cast<std::size_t>(stream.GetSize()), '\0');
    bytes.resize(stream.Read(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    EXPECT_TRUE(bytes == test::RunCommand("icat " + quoted + " " + inode).Output) << "bytes of " << f[1] << " differ from icat's";
    ++compared;
  }
  for (const auto& [key, item] : ours) ADD_FAILURE() << "we list " << key.first << " (" << key.second << " bytes), fls does not";
  // The volume's deleted files: names of several entries and surrogate pairs, an empty file, a
  // deleted folder tree and a fragmented file among them.
  EXPECT_GE(listed, 20);
  EXPECT_GE(compared, 18);
}

}  // namespace
}  // namespace kestrine
