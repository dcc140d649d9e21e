// The recovering thread over real and hand-made FAT volumes: what it writes, where, and what it
// refuses to touch.

#include "workflow/recovering_thread.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "engine/volume/boot_sector.h"
#include "engine/volume/disk_object.h"
#include "filter/filter_builder.h"
#include "platform/volume_source.h"
#include "tests/engine/fat/fat_volume_builder.h"
#include "tests/engine/ntfs/ntfs_image_builder.h"
#include "tests/support/test_support.h"
#include "tests/workflow/recovery_fixture.h"
#include "workflow/output_names.h"
#include "workflow/updating_thread.h"
#include "workflow/workflow.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using test::Deleted;
using test::ShortSlot;
using test::TFatVolumeBuilder;

std::string Sha256Hex(const std::vector<std::uint8_t>& Bytes) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(Bytes.data(), Bytes.size(), digest);
  std::string hex;
  for (unsigned char b : digest) {
    static const char* kHex = "0123456789abcdef";
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

std::string Lower(std::string S) {
  std::transform(S.begin(), S.end(), S.begin(), [](unsigned char c) { return std::tolower(c); });
  return S;
}

// A found name against the name written: FAT loses a deleted 8.3 name's first character ("$"), and
// an 8.3 name written in mixed case reads back in capitals.
bool SameName(const std::string& Found, const std::string& Written) {
  const std::string f = Lower(Found), w = Lower(Written);
  return f == w || (!f.empty() && f[0] == '$' && f.size() == w.size() && f.substr(1) == w.substr(1));
}

bool SamePath(const fs::path& Found, const std::string& Written) {
  const fs::path written(Written);
  auto a = Found.begin(), b = written.begin();
  for (; a != Found.end() && b != written.end(); ++a, ++b)
    if (!SameName(a->string(), b->string())) return false;
  return a == Found.end() && b == written.end();
}

std::vector<std::uint8_t> Pattern(std::size_t Size, std::uint8_t Seed) {
  std::vector<std::uint8_t> bytes(Size);
  for (std::size_t i = 0; i < Size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + Seed + i / 509);
  return bytes;
}

TEST(OutputNames, UnsafeNamesBecomeOneHarmlessComponent) {
  EXPECT_EQ(SafeOutputName("report.txt"), "report.txt");
  EXPECT_EQ(SafeOutputName("../x"), ".._x");
  EXPECT_EQ(SafeOutputName("a/b"), "a_b");
  EXPECT_EQ(SafeOutputName(std::string("a\0b", 3)), "a_b");
  EXPECT_EQ(SafeOutputName(""), "_");
  EXPECT_EQ(SafeOutputName("."), "_");
  EXPECT_EQ(SafeOutputName(".."), "__");
  EXPECT_EQ(SafeOutputName("..."), "...");
  // 300 bytes of two-byte characters: cut between characters, the extension kept.
  std::string longName;
  for (int i = 0; i < 147; ++i) longName += "\xC3\xA9";
  longName += "x.txt";
  const std::string cut = SafeOutputName(longName);
  EXPECT_LE(cut.size(), kMaxOutputNameBytes);
  EXPECT_TRUE(cut.ends_with(".txt"));
  EXPECT_EQ((cut.size() - 4) % 2, 0u) << "a character was split";
  // Bytes that are no UTF-8 are cut at the limit, never down to nothing.
  const std::string invalid = "." + std::string(400, '\x97');
  EXPECT_EQ(SafeOutputName(invalid).size(), kMaxOutputNameBytes);
  EXPECT_EQ(NumberedOutputName(SafeOutputName(invalid), 2).size(), kMaxOutputNameBytes);
}

TEST(OutputNames, NumbersGoBeforeTheExtensionAndKeepTheLimit) {
  EXPECT_EQ(NumberedOutputName("Budget 2025.csv", 1), "Budget 2025.csv");
  EXPECT_EQ(NumberedOutputName("Budget 2025.csv", 2), "Budget 2025 (2).csv");
  EXPECT_EQ(NumberedOutputName("archive.tar.gz", 3), "archive.tar (3).gz");
  EXPECT_EQ(NumberedOutputName("README", 2), "README (2)");
  EXPECT_EQ(NumberedOutputName(".profile", 2), ".profile (2)");
  EXPECT_EQ(NumberedOutputName(".._x", 2), ".._x (2)");
  EXPECT_EQ(NumberedOutputName("a..b", 2), "a. (2).b");
  const std::string full(kMaxOutputNameBytes - 4, 'n');
  const std::string numbered = NumberedOutputName(full + ".bin", 12);
  EXPECT_EQ(numbered.size(), kMaxOutputNameBytes);
  EXPECT_TRUE(numbered.ends_with(" (12).bin"));
}

TEST_F(Recovery, FixtureFilesComeBackWithTheirBytesTimesAndReadOnlyStateAsATree) {
  std::ifstream in(test::TestDataDir() / "manifest.json");
  const auto manifest = nlohmann::json::parse(in);
  // FAT keeps local times: the scan reads them in the zone the fixtures were written in.
  const test::TScopedZone zone(manifest["time_zone"].get<std::string>());
  OpenFixture("fat16.img");
  const fs::path out = Out();
  const auto records = Recover(TopItems(), out);
  EXPECT_EQ(Finished, 1);

  nlohmann::json image;
  for (const auto& i : manifest["images"])
    if (i["image"] == "fat16.img") image = i;
  ASSERT_FALSE(image.is_null());

  int checked = 0;
  for (const TRecoveryRecord& r : records) {
    ASSERT_NE(r.Item, nullptr);
    if (r.Item->IsFolder) continue;
    EXPECT_EQ(r.Outcome, TRecoveryOutcome::Written) << r.Destination << ": " << r.Reason();
    const fs::path written = fs::relative(r.Destination, out);
    EXPECT_EQ(written, fs::path(test::ItemPath(r.Item))) << "the tree is the volume's";
    for (const auto& f : image["deleted_files"]) {
      if (!f["recoverable"].get<bool>() || !SamePath(written, f["path"])) continue;
      ++checked;
      const auto bytes = test::ReadFile(r.Destination);
      EXPECT_EQ(Sha256Hex(bytes), f["sha256"]) << written;
      EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), f["size"].get<std::int64_t>());
      struct stat st {};
      ASSERT_EQ(::stat(r.Destination.c_str(), &st), 0);
      char when[32];
      std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&st.st_mtime));
      EXPECT_EQ(std::string(when), f["mtime"]) << written;
      EXPECT_EQ((st.st_mode & 0222) == 0, (f["attributes"].get<int>() & FileAttr::ReadOnly) != 0) << written;
    }
  }
  // Every recoverable deleted file but the excluded backup name.
  EXPECT_EQ(checked, 24);
  // Deleted folders with no deleted file in them make no folder.
  EXPECT_FALSE(fs::exists(out / "$MPTYF~1"));
  EXPECT_FALSE(fs::exists(out / "Empty folder"));
  EXPECT_TRUE(fs::is_directory(out / "Old Projects" / "$ub"));
  EXPECT_FALSE(fs::exists(out / "Old Projects" / "$ub" / "$eeper"));
  // Both handlers ran through the main-thread port: one creation per file, then the finish.
  EXPECT_EQ(MainThread.Steps.load(), static_cast<int>(records.size()) + 1);
}

TEST_F(Recovery, ADestinationWithOrWithoutItsClosingSlashGivesTheSamePaths) {
  OpenFixture("fat12.img");
  TDiskItems items;
  items.Add(Find("Old Projects", true));
  const auto without = Recover(items, Dir / "a");
  fs::create_directories(Dir / "a");
  fs::create_directories(Dir / "b");
  const auto plain = Recover(items, Dir / "a");
  const auto slashed = Recover(items, (Dir / "b").string() + "/");
  ASSERT_TRUE(without.size() == 1 && without[0].Outcome == TRecoveryOutcome::Skipped);
  EXPECT_EQ(without[0].Reason(), "the destination folder does not exist");
  ASSERT_EQ(plain.size(), slashed.size());
  ASSERT_FALSE(plain.empty());
  for (std::size_t i = 0; i < plain.size(); ++i)
    EXPECT_EQ(fs::relative(plain[i].Destination, Dir / "a"), fs::relative(slashed[i].Destination, Dir / "b"));
  EXPECT_EQ(TreeOf(Dir / "a"), TreeOf(Dir / "b"));
}

TEST_F(Recovery, NothingIsReplacedAndTakenNamesGetNumbersBeforeTheExtension) {
  OpenFixture("fat12.img");
  const fs::path out = Out();
  PFileInfo budget = Find("Old Projects/Budget 2025.csv");
  const std::vector<std::uint8_t> mine = {'m', 'i', 'n', 'e'};
  test::WriteFile(out / "Budget 2025.csv", mine);
  // A link of the folder's name must not lead the files elsewhere.
  fs::create_directories(Dir / "elsewhere");
  fs::create_directory_symlink(Dir / "elsewhere", out / "Old Projects");

  TDiskItems items;
  items.Add(budget);
  items.Add(budget);  // listed twice: written once
  items.Add(Find("Old Projects", true));
  items.Add(Find("Big text.log"));
  items.Add(Find("Big text.log"));
  const auto records = Recover(items, out);

  EXPECT_EQ(test::ReadFile(out / "Budget 2025.csv"), mine);
  EXPECT_TRUE(fs::is_empty(Dir / "elsewhere"));
  EXPECT_TRUE(fs::exists(out / "Budget 2025 (2).csv"));
  // The selected file was written first, so the folder goes without it; nothing comes twice.
  EXPECT_FALSE(fs::exists(out / "Old Projects (2)" / "Budget 2025.csv"));
  EXPECT_TRUE(fs::exists(out / "Old Projects (2)" / "$lan.txt"));
  EXPECT_TRUE(fs::exists(out / "Big text.log"));
  EXPECT_FALSE(fs::exists(out / "Big text (2).log"));
  int written = 0;
  for (const auto& r : records) written += r.Outcome == TRecoveryOutcome::Written;
  EXPECT_EQ(written, static_cast<int>(records.size()));
}

TEST_F(Recovery, TwoFilesOfOneNameBothSurvive) {
  TFatVolumeBuilder volume({.Kind = TFileSystemKind::Fat12});
  volume.Chain({3});
  volume.PutSlots(volume.RootOffset(), {test::ShortSlot("A          ", 0x10, 3, 0),
                                        test::Deleted(test::ShortSlot("?ELETED TXT", 0x20, 10, 100))});
  volume.PutSlots(volume.ClusterOffset(3), {test::Deleted(test::ShortSlot("?ELETED TXT", 0x20, 11, 50))});
  volume.PutBytes(volume.ClusterOffset(11), std::vector<std::uint8_t>(50, 0xAB));
  OpenBuilt(volume);
  const fs::path out = Out();
  PFileInfo a = Find("$ELETED.TXT");
  PFileInfo b = Find("A/$ELETED.TXT");
  TDiskItems items;
  items.Add(a);
  items.Add(b);
  const auto records = Recover(items, out);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(fs::path(records[0].Destination).filename(), "$ELETED.TXT");
  EXPECT_EQ(fs::path(records[1].Destination).filename(), "$ELETED (2).TXT");
  EXPECT_EQ(fs::file_size(records[0].Destination), static_cast<std::uintmax_t>(a->Size.load()));
  EXPECT_EQ(fs::file_size(records[1].Destination), static_cast<std::uintmax_t>(b->Size.load()));
}

TEST_F(Recovery, HostileNamesStayInsideTheDestinationAndLeaveItsFilesAlone) {
  OpenFixture("fat12.img");
  const fs::path out = Dir / "deep" / "out";
  fs::create_directories(out);
  // Whatever an engine hands over as a name.
  const std::vector<std::string> names = {"../x", "a/b", "", ".", "..", std::string("n\0ul", 4),
                                          std::string(300, 'L') + ".txt", "../../.."};
  const auto outside = [this] {
    std::set<std::string> tree = TreeOf(Dir.Path());
    std::erase_if(tree, [](const std::string& P) { return P.starts_with("deep/out/"); });
    return tree;
  };
  const std::set<std::string> before = outside();
  const std::vector<std::uint8_t> keep = {'k', 'e', 'e', 'p'};
  for (const char* taken : {".._x", "a_b", "_", "__"}) test::WriteFile(out / taken, keep);

  TDiskItems items;
  const std::vector<PFileInfo> files = Disk->Files.Snapshot();
  ASSERT_GE(files.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    files[i]->Name = names[i];
    items.Add(files[i]);
  }
  PFileInfo folder = Find("Old Projects", true);
  folder->Name = "..";
  items.Add(folder);
  const auto records = Recover(items, out);

  for (const char* taken : {".._x", "a_b", "_", "__"}) EXPECT_EQ(test::ReadFile(out / taken), keep) << taken;
  EXPECT_EQ(outside(), before) << "something was written outside the destination";
  int files_written = 0;
  for (const auto& r : records) {
    if (r.Item->IsFolder) continue;
    ++files_written;
    EXPECT_EQ(r.Outcome, TRecoveryOutcome::Written) << r.Reason();
    const fs::path inside = fs::relative(fs::canonical(r.Destination), fs::canonical(out));
    EXPECT_FALSE(inside.empty() || *inside.begin() == "..") << r.Destination;
    EXPECT_LE(fs::path(r.Destination).filename().string().size(), kMaxOutputNameBytes);
    if (std::find(names.begin(), names.end(), r.Item->Name) != names.end()) {
      EXPECT_EQ(fs::path(r.Destination).parent_path(), out) << r.Destination;
    }
  }
  EXPECT_GE(files_written, static_cast<int>(names.size()));
  // The folder ".." under the next free safe name: "__" was the user's, "__ (2)" the file "..".
  EXPECT_TRUE(fs::is_regular_file(out / "__ (2)"));
  EXPECT_TRUE(fs::is_directory(out / "__ (3)"));
}

TEST_F(Recovery, ClustersPastTheVolumesEndCutTheFileAndSayWhy) {
  // FAT12, 512-byte clusters: a deleted 3000-byte file whose clusters run past the volume's end ends
  // where the volume does. (It was once filled with zeros up to 3000 bytes.)
  TFatVolumeBuilder volume({.Kind = TFileSystemKind::Fat12});
  const std::uint32_t last = volume.ClusterCount() + 1;
  volume.PutSlots(volume.RootOffset(), {Deleted(ShortSlot("?AST    BIN", 0x21, last - 1, 3000)),
                                        Deleted(ShortSlot("?OOD    BIN", 0x20, 10, 1000))});
  const auto tail = Pattern(1024, 5);
  volume.PutBytes(volume.ClusterOffset(last - 1), tail);
  volume.PutBytes(volume.ClusterOffset(10), Pattern(1000, 9));
  OpenBuilt(volume);
  const fs::path out = Out();
  TDiskItems items;
  items.Add(Find("$AST.BIN"));
  items.Add(Find("$OOD.BIN"));
  const auto records = Recover(items, out);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].Outcome, TRecoveryOutcome::Partial);
  EXPECT_EQ(records[0].Reason(),
            "its recorded size of 3000 bytes is more than the 1024 bytes from its first cluster to the end of the "
            "data area; cut to 1024 bytes");
  EXPECT_EQ(records[0].Size, 1024);
  EXPECT_EQ(test::ReadFile(out / "$AST.BIN"), tail);
  EXPECT_EQ(records[1].Outcome, TRecoveryOutcome::Written);
  EXPECT_EQ(test::ReadFile(out / "$OOD.BIN"), Pattern(1000, 9));
}

TEST_F(Recovery, AnImageCutShortIsFilledToTheSizeAndSaidToBeIncomplete) {
  // NTFS, cut inside a plain file: the clusters before the cut, zeros after, and never "written".
  test::TNtfsImageBuilder image;
  const auto data = test::Pattern(4 * 4096, 3);
  image.PutClusters(448, data);
  auto record = image.NewRecord();
  record.StandardInfo(0x20).FileName(5, u"cut.bin").NonResidentData({{4, 448}}, 4 * 4096 - 10);
  image.PutRecord(20, record);
  const fs::path path = image.WriteTo(Dir.Path());
  fs::resize_file(path, 450 * 4096 + 100);
  Open(path);
  const fs::path out = Out();
  TDiskItems items;
  items.Add(Find("cut.bin"));
  for (const bool kernelCopy : {true, false}) {
    SCOPED_TRACE(kernelCopy);
    const auto records = Recover(items, out, [&](TRecoveryJob& Job) {
      if (!kernelCopy) static_cast<TRecoveringThread&>(Job).SetVolumeCopy({});
    });
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Outcome, TRecoveryOutcome::Partial);
    EXPECT_EQ(records[0].Reason(), "only 8192 of 16374 bytes could be read; the rest is zeros");
    const auto bytes = test::ReadFile(records[0].Destination);
    ASSERT_EQ(bytes.size(), 16374u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 8192, data.begin()));
    EXPECT_TRUE(std::all_of(bytes.begin() + 8192, bytes.end(), [](std::uint8_t b) { return b == 0; }));
  }
}

// A file system of 64 KiB mounted for as long as it lives; Mounted() is false where that cannot be
// done (not root, no tmpfs).
class TSmallMount {
 public:
  explicit TSmallMount(const fs::path& Folder) : FFolder(Folder) {
    fs::create_directories(Folder);
    if (::geteuid() == 0)
      FMounted = test::RunCommand("mount -t tmpfs -o size=64k tmpfs " + test::ShellQuote(Folder.string()) +
                                  " 2>/dev/null").Status == 0;
  }
  ~TSmallMount() {
    if (FMounted) test::RunCommand("umount " + test::ShellQuote(FFolder.string()));
  }
  TSmallMount(const TSmallMount&) = delete;
  TSmallMount& operator=(const TSmallMount&) = delete;
  bool Mounted() const { return FMounted; }

 private:
  fs::path FFolder;
  bool FMounted = false;
};

TEST_F(Recovery, AFullDestinationLeavesTheFileAtTheBytesWrittenAndSaysSo) {
  TFatVolumeBuilder volume({.Kind = TFileSystemKind::Fat16, .SectorsPerCluster = 8});
  const auto content = Pattern(300000, 4);
  volume.PutSlots(volume.RootOffset(), {Deleted(ShortSlot("?IG     BIN", 0x20, 2, 300000))});
  volume.PutBytes(volume.ClusterOffset(2), content);
  OpenBuilt(volume);
  const TSmallMount mount(Dir / "small");
  if (!mount.Mounted()) GTEST_SKIP() << "no small tmpfs can be mounted here";
  TDiskItems items;
  items.Add(Find("$IG.BIN"));
  for (const bool kernelCopy : {true, false}) {
    SCOPED_TRACE(kernelCopy);
    const auto records = Recover(items, Dir / "small", [&](TRecoveryJob& Job) {
      if (!kernelCopy) static_cast<TRecoveringThread&>(Job).SetVolumeCopy({});
    });
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Outcome, TRecoveryOutcome::Partial);
    EXPECT_NE(records[0].Reason().find("No space left on device"), std::string::npos) << records[0].Reason();
    const auto bytes = test::ReadFile(records[0].Destination);
    EXPECT_LT(bytes.size(), content.size()) << "not extended with a hole to the recorded size";
    EXPECT_EQ(records[0].Size, static_cast<std::int64_t>(bytes.size()));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), content.begin()));
    fs::remove(records[0].Destination);
  }
}

TEST_F(Recovery, ZerosAreWrittenAsHolesYetReadBackAsZeros) {
  TFatVolumeBuilder volume({.Kind = TFileSystemKind::Fat16, .SectorsPerCluster = 8});
  std::vector<std::uint8_t> content(5 * TRecoveringThread::kBlockSize + 100, 0);
  content[TRecoveringThread::kBlockSize + 7] = 0x42;  // one block with data, the end all zeros
  volume.PutSlots(volume.RootOffset(), {Deleted(ShortSlot("?PARSE  BIN", 0x20, 2, static_cast<std::uint32_t>(content.size())))});
  volume.PutBytes(volume.ClusterOffset(2), content);
  OpenBuilt(volume);
  const fs::path out = Out();
  TDiskItems items;
  items.Add(Find("$PARSE.BIN"));
  const auto records = Recover(items, out);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].Outcome, TRecoveryOutcome::Written);
  EXPECT_EQ(test::ReadFile(out / "$PARSE.BIN"), content);
}

TEST_F(Recovery, SelectedFolderWalksSubfoldersEvenWhenNoneOfItsFilesPass) {
  OpenFixture("fat16.img");
  TFilter filter;
  filter.Flags = qfName;
  filter.NameMask = BuildNameMask("*nner.txt");
  Updating->Query().SetFilter(filter);
  const fs::path out = Out();
  TDiskItems items;
  items.Add(Find("Old Projects", true));
  const auto records = Recover(items, out);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(TreeOf(out), (std::set<std::string>{"Old Projects", "Old Projects/$ub", "Old Projects/$ub/$nner.txt"}));
}

TEST_F(Recovery, StopEndsTheCopyAtABlockAndLeavesTheRestUnhandled) {
  OpenFixture("fat32.img");
  const fs::path out = Out();
  TDiskItems items;
  items.Add(Find("Big text.log"));
  items.Add(Find("Big random.bin"));
  const auto records = Recover(items, out, [](TRecoveryJob& Job) {
    // The stop comes while the first file is being created, before any of its bytes are copied.
    Job.SetOnCreateFile([&Job](const TNewFilePlace& Place) {
      Job.Terminate();
      return Place.CreateNew();
    });
  });
  EXPECT_EQ(Finished, 1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].Outcome, TRecoveryOutcome::Partial);
  EXPECT_EQ(records[0].Reason(), "recovery was stopped after 0 of 300000 bytes");
  EXPECT_FALSE(fs::exists(out / "Big random.bin"));
}

TEST_F(Recovery, ItemsTheHandlerCannotCreateAreSkippedWithTheReason) {
  OpenFixture("fat12.img");
  const fs::path out = Out();
  TDiskItems items;
  items.Add(Find("Big text.log"));
  items.Add(Find("Big random.bin"));
  std::vector<std::string> asked;
  const auto records = Recover(items, out, [&asked](TRecoveryJob& Job) {
    Job.SetOnCreateFile([&asked](const TNewFilePlace& Place) -> std::unique_ptr<platform::TOutputFile> {
      asked.push_back(Place.Path);
      if (Place.Path.ends_with(".log")) {
        errno = EACCES;
        return nullptr;
      }
      return Place.CreateNew();
    });
  });
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].Outcome, TRecoveryOutcome::Skipped);
  EXPECT_EQ(records[0].Reason(), (out / "Big text.log").string() + " cannot be created: Permission denied");
  EXPECT_TRUE(records[0].Destination.empty());
  EXPECT_EQ(records[1].Outcome, TRecoveryOutcome::Written);
  EXPECT_EQ(asked, (std::vector<std::string>{(out / "Big text.log").string(), (out / "Big random.bin").string()}));
  EXPECT_FALSE(fs::exists(out / "Big text.log"));
}

// Regular files below Root; links are not followed, so they are the files that really are inside.
int RegularFilesBelow(const fs::path& Root) {
  int count = 0;
  for (const auto& e : fs::recursive_directory_iterator(Root)) count += e.is_regular_file() && !e.is_symlink();
  return count;
}

// A folder outside the destination that must come through a recovery as it was.
class TSentinel {
 public:
  explicit TSentinel(const fs::path& Folder) : FFolder(Folder) {
    fs::create_directories(FFolder);
    test::WriteFile(FFolder / "keep", {'k', 'e', 'e', 'p'});
    FBefore = State();
  }
  bool Untouched() const { return State() == FBefore; }
  const fs::path& Folder() const { return FFolder; }

 private:
  std::map<std::string, std::vector<std::uint8_t>> State() const {
    std::map<std::string, std::vector<std::uint8_t>> state;
    for (const auto& e : fs::recursive_directory_iterator(FFolder))
      state[e.path().string()] = e.is_regular_file() ? test::ReadFile(e.path()) : std::vector<std::uint8_t>{};
    return state;
  }
  fs::path FFolder;
  std::map<std::string, std::vector<std::uint8_t>> FBefore;
};

int WrittenFiles(const std::vector<TRecoveryRecord>& Records) {
  int count = 0;
  for (const auto& r : Records) count += !r.Item->IsFolder && r.Outcome != TRecoveryOutcome::Skipped;
  return count;
}

// The folder a file is about to go into is swapped for a link at the worst moment: after it was
// made, before the file is created. Its files still land in the folder that was made.
TEST_F(Recovery, AFolderSwappedForALinkBeforeItsFileIsCreatedIsNotFollowed) {
  OpenFixture("fat12.img");
  const fs::path out = Out();
  const TSentinel sentinel(Dir / "sentinel");
  int swaps = 0;
  TDiskItems items;
  items.Add(Find("Old Projects", true));
  items.Add(Find("a", true));
  const auto records = Recover(items, out, [&](TRecoveryJob& Job) {
    Job.SetOnCreateFile([&](const TNewFilePlace& Place) {
      // Where the folder really is now; its path may lead through links swapped in before.
      const fs::path folder = fs::read_symlink("/proc/self/fd/" + std::to_string(Place.Folder.Descriptor()));
      std::error_code ec;
      fs::rename(folder, out / ("moved " + std::to_string(++swaps)), ec);
      fs::create_directory_symlink(sentinel.Folder(), folder, ec);
      return Place.CreateNew();
    });
  });
  EXPECT_EQ(swaps, 4);
  EXPECT_TRUE(sentinel.Untouched());
  EXPECT_EQ(WrittenFiles(records), 4);
  EXPECT_EQ(RegularFilesBelow(out), 4);
  for (const auto& r : records)
    EXPECT_TRUE(r.Item->IsFolder || r.Outcome == TRecoveryOutcome::Written) << r.Destination << ": " << r.Reason();
}

// A helper thread swaps the folders the recovery makes for links, as fast as it can, run after run.
TEST_F(Recovery, FoldersSwappedForLinksWhileItRunsNeverLeadOutside) {
  OpenFixture("fat12.img");
  const TSentinel sentinel(Dir / "sentinel");
  const TDiskItems items = TopItems();
  int swaps = 0;
  for (int run = 0; run < 12; ++run) {
    const fs::path out = Dir / ("out" + std::to_string(run));
    fs::create_directories(out);
    std::atomic<bool> done{false};
    std::thread swapper([&, out] {
      const std::vector<fs::path> targets = {out / "Many files", out / "Old Projects", out / "Documents",
                                             out / "Documents" / "Letters", out / "a" / "b" / "c"};
      // Bounded however the recovery goes.
      for (int i = 0; i < 200000 && !done; ++i) {
        const fs::path& target = targets[static_cast<std::size_t>(i) % targets.size()];
        std::error_code ec;
        if (!fs::is_directory(fs::symlink_status(target, ec))) continue;
        fs::rename(target, out / ("moved " + std::to_string(i)), ec);
        if (!ec) {
          fs::create_directory_symlink(sentinel.Folder(), target, ec);
          ++swaps;
        }
      }
    });
    // A slow disk: each file is created a moment after it was asked for, and its folder was made.
    const auto records = Recover(items, out, [](TRecoveryJob& Job) {
      Job.SetOnCreateFile([](const TNewFilePlace& Place) {
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        return Place.CreateNew();
      });
    });
    done = true;
    swapper.join();
    EXPECT_TRUE(sentinel.Untouched()) << "run " << run;
    EXPECT_EQ(RegularFilesBelow(out), WrittenFiles(records)) << "run " << run;
  }
  EXPECT_GT(swaps, 0);
}

// Descriptors open in this process.
int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// A tree deeper than the folder descriptors held at once: the shallow ones are let go and opened
// again from their parents when a folder beside the deep branch needs them, and only while they are
// still the folders that were made.
TEST_F(Recovery, ADeepTreeHoldsABoundedNumberOfFolderDescriptors) {
  TFatVolumeBuilder volume({.Kind = TFileSystemKind::Fat16});
  constexpr std::uint32_t kDepth = 150, kFirst = 2, kData = kFirst + kDepth + 10, kBeside = kData + kDepth + 10;
  ASSERT_GT(volume.ClusterCount(), kBeside + 10);
  volume.Put(volume.RootOffset(), ShortSlot("D          ", 0x10, kFirst, 0));
  for (std::uint32_t level = 0; level < kDepth; ++level) {
    const std::uint32_t cluster = kFirst + level;
    volume.Chain({cluster});
    std::vector<test::TSlot> slots;
    // A deleted file at every level, and the next level below; the top level also holds E, which
    // is written after the deep branch.
    slots.push_back(Deleted(ShortSlot("?ILE    TXT", 0x20, kData + level, 100)));
    if (level + 1 < kDepth) slots.push_back(ShortSlot("D          ", 0x10, cluster + 1, 0));
    if (level == 0) slots.push_back(ShortSlot("E          ", 0x10, kBeside, 0));
    volume.PutSlots(volume.ClusterOffset(cluster), slots);
    volume.PutBytes(volume.ClusterOffset(kData + level), Pattern(100, static_cast<std::uint8_t>(level)));
  }
  volume.Chain({kBeside});
  volume.Put(volume.ClusterOffset(kBeside), Deleted(ShortSlot("?ESIDE  TXT", 0x20, kBeside + 1, 100)));
  volume.PutBytes(volume.ClusterOffset(kBeside + 1), Pattern(100, 200));
  OpenBuilt(volume);
  TDiskItems items;
  items.Add(Find("D", true));
  fs::path deepest;
  for (std::uint32_t level = 0; level < kDepth; ++level) deepest /= "D";

  const fs::path out = Out();
  const int before = OpenDescriptors();
  int most = 0;
  const auto records = Recover(items, out, [&](TRecoveryJob& Job) {
    Job.SetOnCreateFile([&](const TNewFilePlace& Place) {
      most = std::max(most, OpenDescriptors());
      return Place.CreateNew();
    });
  });
  EXPECT_EQ(WrittenFiles(records), static_cast<int>(kDepth) + 1);
  EXPECT_LE(most - before, static_cast<int>(TRecoveringThread::kMaxOpenFolders) + 4);
  EXPECT_EQ(RegularFilesBelow(out), static_cast<int>(kDepth) + 1);
  EXPECT_EQ(test::ReadFile(out / deepest / "$ILE.TXT"), Pattern(100, kDepth - 1));
  EXPECT_EQ(test::ReadFile(out / "D" / "E" / "$ESIDE.TXT"), Pattern(100, 200));

  // The top folder is replaced by another while the deep branch is written: E does not go into it.
  const fs::path again = Dir / "again";
  fs::create_directories(again);
  const auto swapped = Recover(items, again, [&](TRecoveryJob& Job) {
    Job.SetOnCreateFile([&](const TNewFilePlace& Place) {
      if (Place.Path == (again / deepest / "$ILE.TXT").string()) {
        fs::rename(again / "D", again / "moved");
        fs::create_directory(again / "D");
      }
      return Place.CreateNew();
    });
  });
  EXPECT_EQ(WrittenFiles(swapped), static_cast<int>(kDepth));
  EXPECT_TRUE(fs::is_empty(again / "D"));
  const auto beside = std::find_if(swapped.begin(), swapped.end(), [](const TRecoveryRecord& R) {
    return R.Item->Name == "E" || R.Item->Name == "$ESIDE.TXT";
  });
  ASSERT_NE(beside, swapped.end());
  EXPECT_EQ(beside->Outcome, TRecoveryOutcome::Skipped);
  EXPECT_NE(beside->Reason().find("was moved or replaced during the recovery"), std::string::npos) << beside->Reason();
}

// What one recovery left: each record with its destination below the folder and the file's bytes.
struct TWritten {
  std::string Path;
  TRecoveryOutcome Outcome;
  std::string Reason;
  std::int64_t Size;
  std::vector<std::uint8_t> Bytes;
  bool operator==(const TWritten&) const = default;
};

std::vector<TWritten> WrittenBelow(const std::vector<TRecoveryRecord>& Records, const fs::path& Out) {
  std::vector<TWritten> written;
  for (const TRecoveryRecord& r : Records) {
    const bool file = !r.Destination.empty() && fs::is_regular_file(r.Destination);
    written.push_back({r.Destination.empty() ? std::string() : fs::relative(r.Destination, Out).string(), r.Outcome,
                       r.Reason(), r.Size, file ? test::ReadFile(r.Destination) : std::vector<std::uint8_t>{}});
  }
  return written;
}

void ReadOnly(TRecoveryJob& Job) { static_cast<TRecoveringThread&>(Job).SetVolumeCopy({}); }

// Recoveries whose volume copies go through the kernel, with the ranges each file's copies took.
class VolumeCopy : public Recovery, public ::testing::WithParamInterface<const char*> {
 protected:
  std::function<void(TRecoveryJob&)> Counted(const fs::path& Out) {
    return [this, Out](TRecoveryJob& Job) {
      static_cast<TRecoveringThread&>(Job).SetVolumeCopy(
          [this, Out](platform::TOutputFile& File, const platform::TVolumeSource& Source, std::int64_t Offset,
                      std::int64_t Count) {
            ++Copies[fs::relative(File.Path(), Out).string()];
            return File.AppendFromVolume(Source, Offset, Count);
          });
    };
  }
  std::map<std::string, int> Copies;
};

TEST_P(VolumeCopy, KernelCopiesWriteExactlyWhatReadsWrite) {
  OpenFixture(GetParam());
  const fs::path copiedOut = Dir / "copied", readOut = Dir / "read";
  fs::create_directories(copiedOut);
  fs::create_directories(readOut);
  const auto copied = Recover(TopItems(), copiedOut, Counted(copiedOut));
  const auto read = Recover(TopItems(), readOut, ReadOnly);
  ASSERT_FALSE(read.empty());
  EXPECT_EQ(WrittenBelow(copied, copiedOut), WrittenBelow(read, readOut));
  EXPECT_EQ(TreeOf(copiedOut), TreeOf(readOut));
  if (std::string(GetParam()) != "ntfs.img") {
    // On FAT every file with clusters is copied by the kernel.
    for (const TRecoveryRecord& r : copied) {
      if (r.Item->IsFolder || r.Size == 0) continue;
      EXPECT_EQ(Copies.count(fs::relative(r.Destination, copiedOut).string()), 1u) << r.Destination;
    }
  } else {
    // Written 4 KiB at a time in turn with another file: a copy per run. Resident and compressed
    // data are made by Read.
    EXPECT_GE(Copies["Fragmented/frag A.bin"], 10);
    EXPECT_EQ(Copies["sparse deleted.bin"], 2) << "its two stored runs, the holes read";
    EXPECT_EQ(Copies.count("tiny deleted.txt"), 0u);
    EXPECT_EQ(Copies.count("Compressed/deleted log.txt"), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, VolumeCopy, ::testing::Values("fat12.img", "fat16.img", "fat32.img", "ntfs.img"));

TEST_F(Recovery, RefusedAndShortVolumeCopiesEndAsReadsWould) {
  // FAT12, 512-byte clusters: a file whose chain ends at the volume's end, and two that are whole.
  TFatVolumeBuilder volume({.Kind = TFileSystemKind::Fat12});
  const std::uint32_t last = volume.ClusterCount() + 1;
  volume.PutSlots(volume.RootOffset(), {Deleted(ShortSlot("?AST    BIN", 0x21, last - 1, 3000)),
                                        Deleted(ShortSlot("?OOD    BIN", 0x20, 10, 1000)),
                                        Deleted(ShortSlot("?IG     BIN", 0x20, 20, 5000))});
  volume.PutBytes(volume.ClusterOffset(last - 1), Pattern(1024, 5));
  volume.PutBytes(volume.ClusterOffset(10), Pattern(1000, 9));
  volume.PutBytes(volume.ClusterOffset(20), Pattern(5000, 3));
  OpenBuilt(volume);
  TDiskItems items;
  for (const char* name : {"$AST.BIN", "$OOD.BIN", "$IG.BIN"}) items.Add(Find(name));
  const fs::path readOut = Dir / "read";
  fs::create_directories(readOut);
  const auto expected = WrittenBelow(Recover(items, readOut, ReadOnly), readOut);
  ASSERT_EQ(expected.size(), 3u);
  EXPECT_EQ(expected[0].Outcome, TRecoveryOutcome::Partial);
  EXPECT_EQ(expected[0].Bytes.size(), 1024u) << "cut where the volume ends";

  int calls = 0;
  using TCopy = TRecoveringThread::TVolumeCopy;
  const std::map<std::string, TCopy> seams = {
      {"refused", [&calls](platform::TOutputFile&, const platform::TVolumeSource&, std::int64_t, std::int64_t) {
         ++calls;
         errno = EXDEV;
         return std::int64_t{-1};
       }},
      // 700 bytes end inside the second cluster: only the first may stay.
      {"short", [&calls](platform::TOutputFile& File, const platform::TVolumeSource& Source, std::int64_t Offset,
                         std::int64_t Count) {
         ++calls;
         return File.AppendFromVolume(Source, Offset, std::min<std::int64_t>(Count, 700));
       }},
      {"kernel", [&calls](platform::TOutputFile& File, const platform::TVolumeSource& Source, std::int64_t Offset,
                          std::int64_t Count) {
         ++calls;
         return File.AppendFromVolume(Source, Offset, Count);
       }},
  };
  for (const auto& [name, seam] : seams) {
    const fs::path out = Dir / name;
    fs::create_directories(out);
    calls = 0;
    const auto records = Recover(items, out, [&seam](TRecoveryJob& Job) {
      static_cast<TRecoveringThread&>(Job).SetVolumeCopy(seam);
    });
    EXPECT_EQ(WrittenBelow(records, out), expected) << name;
    // One copy per file: after a refused or short one, Read does the rest of the file.
    EXPECT_EQ(calls, 3) << name;
  }
}

TEST_F(Recovery, StopIsLookedAtBetweenVolumeCopies) {
  TFatVolumeBuilder volume({.Kind = TFileSystemKind::Fat16, .SectorsPerCluster = 8});
  const std::int64_t chunk = TRecoveringThread::kVolumeCopyChunk;
  const auto content = Pattern(static_cast<std::size_t>(chunk + chunk / 8), 7);
  volume.PutSlots(volume.RootOffset(),
                  {Deleted(ShortSlot("?UGE    BIN", 0x20, 2, static_cast<std::uint32_t>(content.size())))});
  volume.PutBytes(volume.ClusterOffset(2), content);
  OpenBuilt(volume);
  TDiskItems items;
  items.Add(Find("$UGE.BIN"));
  const fs::path out = Out();
  const auto records = Recover(items, out, [](TRecoveryJob& Job) {
    static_cast<TRecoveringThread&>(Job).SetVolumeCopy(
        [&Job](platform::TOutputFile& File, const platform::TVolumeSource& Source, std::int64_t Offset,
               std::int64_t Count) {
          Job.Terminate();
          return File.AppendFromVolume(Source, Offset, Count);
        });
  });
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].Outcome, TRecoveryOutcome::Partial);
  EXPECT_EQ(records[0].Reason(),
            "recovery was stopped after " + std::to_string(chunk) + " of " + std::to_string(content.size()) + " bytes");
  const auto bytes = test::ReadFile(out / "$UGE.BIN");
  ASSERT_EQ(bytes.size(), content.size());
  EXPECT_TRUE(std::equal(content.begin(), content.begin() + chunk, bytes.begin()));
  EXPECT_TRUE(std::all_of(bytes.begin() + chunk, bytes.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST_F(Recovery, TerminatedBeforeStartWritesNothingButStillFinishes) {
  OpenFixture("fat12.img");
  const fs::path out = Out();
  const auto records = Recover(TopItems(), out, [](TRecoveryJob& Job) { Job.Terminate(); });
  EXPECT_TRUE(records.empty());
  EXPECT_TRUE(fs::is_empty(out));
  EXPECT_EQ(Finished, 1);
}

}  // namespace
}  // namespace kestrine

namespace kestrine {
namespace {

std::uint32_t Le32(const std::vector<std::uint8_t>& B, std::size_t At) {
  return B.at(At) | B.at(At + 1) << 8 | B.at(At + 2) << 16 | static_cast<std::uint32_t>(B.at(At + 3)) << 24;
}

// Hand-made NTFS: encrypted files, a file with named streams.
class NtfsRecovery : public Recovery {
 protected:
  void SetUp() override {
    std::vector<std::uint8_t> meta(0x238, 0x5A);
    meta[0] = 0x38;
    meta[1] = 0x02;
    meta[2] = meta[3] = 0;
    Cipher = test::Pattern(18 * 4096, 8);
    Image.PutClusters(100, Cipher);
    Image.PutClusters(130, test::Pattern(3 * 4096, 4));
    Image.PutRecord(20, File(u"secret.doc", 0x4020).NonResidentData({{18, 100}}, 70000).Resident(0x100, u"$EFS", meta));
    Image.PutRecord(21, File(u"no metadata.doc", 0x4020).NonResidentData({{1, 100}}, 1000));
    Image.PutRecord(22, File(u"with streams.txt", 0x20)
                            .Data(test::Pattern(10, 5))
                            .NonResidentData({{3, 130}}, 3 * 4096 - 100, u"thumbnail")
                            .Data(test::Pattern(26, 6), u"Zone.Identifier"));
    Open(Image.WriteTo(Dir.Path()));
  }
  test::TRecordBuilder File(std::u16string_view Name, std::uint32_t Flags) {
    auto r = Image.NewRecord();
    r.StandardInfo(Flags, 0x01D0000000000000, kModified).FileName(5, Name);
    return r;
  }
  static constexpr TFileTime kModified = 0x01DB000000000000;

  test::TNtfsImageBuilder Image;
  std::vector<std::uint8_t> Cipher;
};

TEST_F(NtfsRecovery, EncryptedFilesBecomeWholeRawExportsBesidePlainOnes) {
  const fs::path out = Out();
  TDiskItems items;
  items.Add(Find("secret.doc"));
  items.Add(Find("no metadata.doc"));
  const auto records = Recover(items, out);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].Destination, (out / "secret.doc.efs").string());
  EXPECT_EQ(records[0].Outcome, TRecoveryOutcome::Written);
  EXPECT_EQ(records[0].Reason(), "stored encrypted: written in the raw encrypted form");
  EXPECT_FALSE(fs::exists(out / "secret.doc"));

  // Header (676 bytes: file header, metadata, data stream header), then blocks of 512 + 64 KiB.
  const auto raw = test::ReadFile(out / "secret.doc.efs");
  const std::size_t h = 676;
  ASSERT_EQ(raw.size(), h + 512 + 65536 + 512 + 4608) << "the export keeps its whole length";
  EXPECT_EQ(records[0].Size, static_cast<std::int64_t>(raw.size()));
  EXPECT_EQ(Le32(raw, 0), 0x100u);
  EXPECT_EQ(std::string(raw.begin() + 4, raw.begin() + 12), std::string("R\0O\0B\0S\0", 8));
  EXPECT_EQ(Le32(raw, 0x32), 0x248u);
  EXPECT_TRUE(std::all_of(raw.begin() + 0x42 + 4, raw.begin() + 0x42 + 0x238, [](auto B) { return B == 0x5A; }));
  EXPECT_EQ(std::string(raw.begin() + 0x42 + 0x238 + 0x1C, raw.begin() + h), std::string(":\0:\0$\0D\0A\0T\0A\0", 14));
  EXPECT_EQ(std::string(raw.begin() + h + 4, raw.begin() + h + 12), std::string("G\0U\0R\0E\0", 8));
  EXPECT_EQ(Le32(raw, h + 0x1C), 65536u);
  EXPECT_TRUE(std::equal(raw.begin() + h + 512, raw.begin() + h + 512 + 65536, Cipher.begin()));
  const std::size_t block1 = h + 66048;
  EXPECT_EQ(Le32(raw, block1 + 0x1C), 70000u - 65536);
  EXPECT_TRUE(std::equal(raw.begin() + block1 + 512, raw.end(), Cipher.begin() + 65536));
  struct stat st {};
  ASSERT_EQ(::stat((out / "secret.doc.efs").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, FileTimeToUnix(kModified).Seconds);

  // No metadata to build the raw form from: the stored bytes under the file's own name.
  EXPECT_EQ(records[1].Destination, (out / "no metadata.doc").string());
  const auto plain = test::ReadFile(out / "no metadata.doc");
  ASSERT_EQ(plain.size(), 1000u);
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), Cipher.begin()));
}

TEST_F(NtfsRecovery, NamedStreamsGoOnlyWhereTheDestinationStoresThem) {
  TDiskItems items;
  items.Add(Find("with streams.txt"));
  const fs::path plainOut = Dir / "plain";
  fs::create_directories(plainOut);
  const auto skipped = Recover(items, plainOut);
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_EQ(skipped[0].Outcome, TRecoveryOutcome::Written);
  EXPECT_EQ(skipped[0].Reason(), "named streams not written (" + platform::GetFileSystemName(plainOut.string()) +
                                   " does not store them): thumbnail, Zone.Identifier");
  EXPECT_EQ(TreeOf(plainOut), (std::set<std::string>{"with streams.txt"}));
  EXPECT_EQ(test::ReadFile(plainOut / "with streams.txt"), test::Pattern(10, 5));

  // A destination that keeps them gets each as the file's path, ":" and the stream's name.
  const fs::path streamOut = Dir / "streams";
  fs::create_directories(streamOut);
  const auto written = Recover(items, streamOut, [](TRecoveryJob& Job) {
    static_cast<TRecoveringThread&>(Job).SetDestinationFacts({"NTFS", true});
  });
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0].Reason(), "");
  EXPECT_EQ(test::ReadFile(streamOut / "with streams.txt:thumbnail"), test::Pattern(3 * 4096 - 100, 4));
  EXPECT_EQ(test::ReadFile(streamOut / "with streams.txt:Zone.Identifier"), test::Pattern(26, 6));
  EXPECT_EQ(MainThread.Steps.load(), 1 + 2 + 1) << "the file, its two streams and the finish";
}

}  // namespace
}  // namespace kestrine
