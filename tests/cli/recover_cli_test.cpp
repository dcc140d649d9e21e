// kestrine-cli recover: real and crafted volumes, set beside The Sleuth Kit, and the destination rules.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "engine/volume/boot_sector.h"
#include "tests/engine/fat/fat_volume_builder.h"
#include "tests/engine/ntfs/ntfs_image_builder.h"
#include "tests/support/test_support.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::ShellQuote;

std::string Cli() {
  const char* cli = std::getenv("KESTRINE_CLI");
  return ShellQuote(cli ? cli : "kestrine-cli");
}

struct TRun {
  int Status = -1;
  std::string Out, Err;
};

TRun Recover(const test::TTempDir& Dir, const std::string& Args) {
  const fs::path err = Dir / "stderr";
  // In fls's zone: FAT times are local, and both sides must read them alike.
  const auto r = test::RunCommand("TZ=UTC " + Cli() + " recover " + Args + " 2>" + ShellQuote(err.string()));
  const auto e = test::ReadFile(err);
  return {r.Status, r.Output, std::string(e.begin(), e.end())};
}

std::vector<std::string> Split(const std::string& S, char Separator) {
  std::vector<std::string> parts;
  std::stringstream in(S);
  for (std::string part; std::getline(in, part, Separator);) parts.push_back(part);
  return parts;
}

std::string Lower(std::string S) {
  for (char& c : S) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return S;
}

// A found path against The Sleuth Kit's: a deleted 8.3 name's lost first character is our "$" and its
// "_", and it shows 8.3 names in the case their flags ask for.
bool SamePath(const std::string& Ours, const std::string& Theirs) {
  const auto a = Split(Ours, '/'), b = Split(Theirs, '/');
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::string x = Lower(a[i]), y = Lower(b[i]);
    if (x != y && !(x.size() == y.size() && !x.empty() && x[0] == '$' && y[0] == '_' && x.substr(1) == y.substr(1)))
      return false;
  }
  return true;
}

struct TTskFile {
  std::string Inode;
  std::string Path;
  std::time_t Modified = 0;
  std::int64_t Size = 0;
};

std::time_t ParseTskTime(const std::string& Text) {
  std::tm tm{};
  if (!strptime(Text.c_str(), "%Y-%m-%d %H:%M:%S", &tm)) return 0;
  return timegm(&tm);
}

// Deleted files that fls lists, data streams of NTFS files left out.
std::vector<TTskFile> DeletedFiles(const fs::path& Image) {
  const auto fls = test::RunCommand("TZ=UTC fls -rdpl " + ShellQuote(Image.string()));
  std::vector<TTskFile> files;
  for (const std::string& line : Split(fls.Output, '\n')) {
    const auto f = Split(line, '\t');
    if (f.size() < 7 || f[0].size() < 8 || f[0].substr(1, 5) != "/r * " || f[1].find(':') != std::string::npos)
      continue;
    files.push_back({f[0].substr(6, f[0].size() - 7), f[1], ParseTskTime(f[2]), std::stoll(f[6])});
  }
  return files;
}

const TTskFile* FindTsk(const std::vector<TTskFile>& Files, const std::string& Path) {
  const TTskFile* found = nullptr;
  for (const auto& f : Files) {
    // Files of unknown place: The Sleuth Kit collects them under $OrphanFiles.
    const bool orphan = f.Path.starts_with("$OrphanFiles/") && Split(Path, '/').back() == Split(f.Path, '/').back();
    if (!SamePath(Path, f.Path) && !orphan) continue;
    if (found) return nullptr;  // ambiguous
    found = &f;
  }
  return found;
}

bool HaveSleuthKit() { return test::RunCommand("command -v fls icat").Status == 0; }

// Every image of the suite and of the shared real volumes that holds a file system.
std::vector<fs::path> Volumes() {
  std::vector<fs::path> images;
  for (const char* name : {"fat12", "fat16", "fat32", "ntfs"})
    images.push_back(test::TestDataDir() / (std::string(name) + ".img.xz"));
  std::error_code ec;
  for (const char* sub : {"fat", "ntfs"})
    for (const auto& e : fs::directory_iterator(test::SharedDataDir() / sub, ec))
      if (e.path().extension() == ".xz") images.push_back(e.path());
  std::sort(images.begin(), images.end());
  return images;
}

TEST(CliRecover, EveryWhollyFreeFileIsByteForByteWhatIcatGivesWithItsSizeAndTime) {
  if (!HaveSleuthKit()) GTEST_SKIP() << "The Sleuth Kit is not installed";
  for (const fs::path& xz : Volumes()) {
    SCOPED_TRACE(xz.filename().string());
    test::TTempDir dir;
    const fs::path image = test::UnpackImage(xz, dir.Path());
    ASSERT_FALSE(image.empty());
    const fs::path out = dir / "out", report = dir / "report.json";
    const TRun run = Recover(dir, ShellQuote(image.string()) + " --all --out " + ShellQuote(out.string()) +
                                      " --report " + ShellQuote(report.string()));
    ASSERT_TRUE(run.Status == 0 || run.Status == 1) << run.Err;
    std::ifstream in(report);
    const json rows = json::parse(in);
    const std::vector<TTskFile> tsk = DeletedFiles(image);
    int compared = 0;
    for (const json& row : rows) {
      if (row["condition"].is_null() || row["condition"] != 100) continue;
      const std::string source = row["source"];
      if (source.empty()) continue;  // records without a name: nothing to find them by
      SCOPED_TRACE(source);
      EXPECT_EQ(row["outcome"], "written") << row["reason"];
      const TTskFile* theirs = FindTsk(tsk, source);
      if (!theirs) {
        ADD_FAILURE() << "no single file of that path in fls";
        continue;
      }
      const std::string destination = row["destination"];
      const auto icat = test::RunCommand("icat " + ShellQuote(image.string()) + " " + theirs->Inode);
      const auto ours = test::ReadFile(destination);
      EXPECT_TRUE(std::string(ours.begin(), ours.end()) == icat.Output) << "bytes differ from icat";
      EXPECT_EQ(static_cast<std::int64_t>(ours.size()), theirs->Size);
      EXPECT_EQ(row["size"], theirs->Size);
      struct stat st {};
      ASSERT_EQ(::stat(destination.c_str(), &st), 0);
      if (theirs->Modified > 0) {
        EXPECT_EQ(st.st_mtime, theirs->Modified);
      }
      ++compared;
    }
    // Folders come out as the tree: every written file lies at its path below the destination.
    for (const json& row : rows) {
      const std::string source = row["source"];
      if (row["outcome"] == "written" && !source.empty()) {
        EXPECT_EQ(fs::relative(row["destination"].get<std::string>(), out).parent_path(),
                  fs::path(source).parent_path());
      }
    }
    if (xz.parent_path() == test::TestDataDir()) {
      EXPECT_GT(compared, 15);
    }
  }
}

// FAT12 whose deleted entries carry hostile long names, one of them a folder named "..".
test::TFatVolumeBuilder HostileVolume() {
  using test::Deleted;
  using test::LongNameSlots;
  using test::ShortSlot;
  test::TFatVolumeBuilder volume({.Kind = TFileSystemKind::Fat12});
  std::u16string longName;
  for (int i = 0; i < 150; ++i) longName += u'\u00E9';
  const std::vector<std::pair<std::u16string, const char*>> names = {
      {u"../x", "?ILE1   TXT"}, {u"a/b", "?ILE2   TXT"}, {u".", "?ILE3   TXT"},
      {u"..", "?ILE4   TXT"},  {longName, "?ILE5   TXT"}};
  std::vector<test::TSlot> root;
  std::uint32_t cluster = 10;
  for (const auto& [name, shortName] : names) {
    const auto slot = Deleted(ShortSlot(shortName, 0x20, cluster, 100));
    for (const auto& l : LongNameSlots(name, slot)) root.push_back(Deleted(l));
    root.push_back(slot);
    volume.PutBytes(volume.ClusterOffset(cluster), std::vector<std::uint8_t>(100, static_cast<std::uint8_t>(cluster)));
    ++cluster;
  }
  // The folder "..", holding "../../escape".
  const auto dir = Deleted(ShortSlot("?OLDER     ", 0x10, 20, 0));
  for (const auto& l : LongNameSlots(u"..", dir)) root.push_back(Deleted(l));
  root.push_back(dir);
  const auto inner = Deleted(ShortSlot("?SCAPE  TXT", 0x20, 21, 50));
  std::vector<test::TSlot> folder = {ShortSlot(".          ", 0x10, 20, 0), ShortSlot("..         ", 0x10, 0, 0)};
  for (const auto& l : LongNameSlots(u"../../escape", inner)) folder.push_back(Deleted(l));
  folder.push_back(inner);
  volume.PutSlots(volume.RootOffset(), root);
  volume.PutSlots(volume.ClusterOffset(20), folder);
  volume.PutBytes(volume.ClusterOffset(21), std::vector<std::uint8_t>(50, 0xEE));
  return volume;
}

std::map<std::string, std::vector<std::uint8_t>> Snapshot(const fs::path& Root, const fs::path& Skip) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  for (auto it = fs::recursive_directory_iterator(Root); it != fs::recursive_directory_iterator(); ++it) {
    if (it->path().filename() == "stderr") continue;  // the test's own
    if (it->path() == Skip) {
      it.disable_recursion_pending();
      continue;
    }
    files[it->path().string()] = it->is_regular_file() ? test::ReadFile(it->path()) : std::vector<std::uint8_t>{};
  }
  return files;
}

TEST(CliRecover, HostileNamesWriteNothingOutsideTheDestinationAndLeaveItsFilesAlone) {
  test::TTempDir dir;
  auto volume = HostileVolume();
  const fs::path image = dir / "hostile.img", out = dir / "a" / "b" / "out";
  test::WriteFile(image, volume.Bytes());
  fs::create_directories(out);
  const std::vector<std::uint8_t> mine = {'m', 'i', 'n', 'e'};
  for (const char* name : {".._x", "a_b", "_", "__"}) test::WriteFile(out / name, mine);
  test::WriteFile(dir / "a" / "x", mine);
  const auto before = Snapshot(dir.Path(), out);

  const TRun run = Recover(dir, ShellQuote(image.string()) + " --all --out " + ShellQuote(out.string()));
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(Snapshot(dir.Path(), out), before) << "something outside the destination changed";
  for (const char* name : {".._x", "a_b", "_", "__"}) EXPECT_EQ(test::ReadFile(out / name), mine) << name;
  EXPECT_TRUE(fs::exists(out / ".._x (2)"));
  EXPECT_TRUE(fs::exists(out / "a_b (2)"));
  EXPECT_TRUE(fs::exists(out / "_ (2)"));
  // The folder ".." comes first and takes the next free name; the file ".." the one after.
  EXPECT_TRUE(fs::is_regular_file(out / "__ (2)" / ".._.._escape"));
  EXPECT_TRUE(fs::is_regular_file(out / "__ (3)"));
  int longNames = 0;
  for (const auto& e : fs::directory_iterator(out))
    if (e.path().filename().string().starts_with("\xC3\xA9")) {
      ++longNames;
      EXPECT_LE(e.path().filename().string().size(), 255u);
    }
  EXPECT_EQ(longNames, 1);
  EXPECT_NE(run.Out.find("Recovered 6 files (550 bytes)"), std::string::npos) << run.Out;
}

// The fixture NTFS image attached to a loop device and mounted through ntfs-3g, for as long as it
// lives; Mounted() is false where that cannot be done (not root, no loop devices, no FUSE).
class TLoopMount {
 public:
  explicit TLoopMount(const test::TTempDir& Dir) : FMount(Dir / "mnt") {
    Image = test::UnpackImage(test::TestDataDir() / "ntfs.img.xz", Dir.Path());
    if (::geteuid() != 0 || Image.empty() || test::RunCommand("command -v losetup ntfs-3g").Status != 0) return;
    const auto loop = test::RunCommand("losetup --show -f " + ShellQuote(Image.string()) + " 2>/dev/null");
    if (loop.Status != 0 || loop.Output.empty()) return;
    Device = loop.Output.substr(0, loop.Output.find('\n'));
    fs::create_directories(FMount);
    FMounted = test::RunCommand("ntfs-3g " + Device + " " + ShellQuote(FMount.string()) + " 2>/dev/null").Status == 0;
  }
  ~TLoopMount() {
    if (FMounted) test::RunCommand("umount " + ShellQuote(FMount.string()));
    if (!Device.empty()) test::RunCommand("losetup -d " + Device);
  }
  TLoopMount(const TLoopMount&) = delete;
  TLoopMount& operator=(const TLoopMount&) = delete;
  bool Mounted() const { return FMounted; }
  fs::path Folder() const { return FMount / "recovered"; }

  fs::path Image;
  std::string Device;

 private:
  fs::path FMount;
  bool FMounted = false;
};

TEST(CliRecover, RefusesToWriteOntoTheDeviceItReadsUnlessForced) {
  test::TTempDir dir;
  TLoopMount mount(dir);
  if (!mount.Mounted()) GTEST_SKIP() << "no loop device with an ntfs-3g mount here";
  const std::string out = ShellQuote(mount.Folder().string());
  // The image itself, the loop device, and a drive letter naming the image: each is the source.
  for (const std::string& source : {mount.Image.string(), mount.Device}) {
    const TRun refused = Recover(dir, ShellQuote(source) + " --all --out " + out);
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("lies on the device " + source + " is read from"), std::string::npos) << refused.Err;
  }
  const auto lettered = test::RunCommand("KESTRINE_DRIVES=" + ShellQuote("k=" + mount.Image.string()) + " " + Cli() +
                                         " recover k --all --out " + out + " 2>&1");
  EXPECT_EQ(lettered.Status, 1);
  EXPECT_NE(lettered.Output.find("lies on the device k is read from"), std::string::npos) << lettered.Output;
  EXPECT_FALSE(fs::exists(mount.Folder())) << "not even the destination folder may be made there";
  // A destination elsewhere is fine; forced, the mount is written to as well.
  EXPECT_EQ(Recover(dir, ShellQuote(mount.Image.string()) + " --all --out " + ShellQuote((dir / "out").string())).Status, 0);
  const TRun forced = Recover(dir, ShellQuote(mount.Device) + " --all --force --out " + out);
  EXPECT_EQ(forced.Err.find("lies on the device"), std::string::npos) << forced.Err;
  EXPECT_TRUE(fs::exists(mount.Folder() / "Big text.log"));
}

// Each command says in one line why the source cannot be opened, and exits 1: no abort.
void ExpectOneErrorLine(const TRun& Run, const std::string& Source) {
  EXPECT_EQ(Run.Status, 1) << Run.Err;
  EXPECT_EQ(std::count(Run.Err.begin(), Run.Err.end(), '\n'), 1) << Run.Err;
  EXPECT_NE(Run.Err.find("kestrine-cli: " + Source + ": "), std::string::npos) << Run.Err;
}

TEST(CliRecover, SourcePathsThatCannotBeLookedAtGiveOneErrorLine) {
  test::TTempDir dir;
  const fs::path loop = dir / "loop";
  fs::create_symlink(loop, loop);
  const std::string tooLong = (dir / std::string(300, 'n')).string();
  std::vector<std::string> sources = {loop.string(), (loop / "x.img").string(), tooLong};
  // A folder the user may not search: only a user other than root is kept out.
  const fs::path locked = dir / "locked";
  fs::create_directories(locked);
  test::WriteFile(locked / "vol.img", std::vector<std::uint8_t>(4096));
  fs::permissions(locked, fs::perms::none);
  if (::geteuid() != 0) sources.push_back((locked / "vol.img").string());
  const std::string out = ShellQuote((dir / "out").string());
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    ExpectOneErrorLine(Recover(dir, ShellQuote(source) + " --all --out " + out), source);
    ExpectOneErrorLine(Recover(dir, ShellQuote(source) + " a.txt --out " + out), source);
    const fs::path err = dir / "stderr";
    for (const std::string& command : {" scan " + ShellQuote(source), " cat " + ShellQuote(source) + " a.txt"}) {
      const auto r = test::RunCommand(Cli() + command + " 2>" + ShellQuote(err.string()));
      const auto e = test::ReadFile(err);
      ExpectOneErrorLine({r.Status, r.Output, std::string(e.begin(), e.end())}, source);
    }
  }
  // As root, the locked folder is tried as an ordinary user.
  if (::geteuid() == 0 && test::RunCommand("command -v setpriv").Status == 0) {
    fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const std::string source = (locked / "vol.img").string();
    const fs::path err = dir / "stderr";
    const auto r = test::RunCommand("setpriv --reuid=65534 --regid=65534 --clear-groups " + Cli() + " recover " +
                                    ShellQuote(source) + " --all --out " + out + " 2>&1 >/dev/null");
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Output, "kestrine-cli: " + source + ": Permission denied\n");
  }
  fs::permissions(locked, fs::perms::owner_all);
}

TRun Cat(const test::TTempDir& Dir, const fs::path& Image, const std::string& Path, const fs::path& Out) {
  const fs::path err = Dir / "stderr";
  const auto r = test::RunCommand(Cli() + " cat " + ShellQuote(Image.string()) + " " + ShellQuote(Path) + " >" +
                                  ShellQuote(Out.string()) + " 2>" + ShellQuote(err.string()));
  const auto e = test::ReadFile(err);
  return {r.Status, r.Output, std::string(e.begin(), e.end())};
}

// Bytes the source does not hold and sizes the volume cannot hold are never passed off as data.
TEST(CliRecover, UnreadableBytesAndSizesBeyondTheVolumeAreExitOne) {
  test::TTempDir dir;
  // NTFS cut inside a file.
  test::TNtfsImageBuilder ntfs;
  const auto data = test::Pattern(4 * 4096, 3);
  ntfs.PutClusters(448, data);
  auto record = ntfs.NewRecord();
  record.StandardInfo(0x20).FileName(5, u"cut.bin").NonResidentData({{4, 448}}, 4 * 4096);
  ntfs.PutRecord(20, record);
  const fs::path cut = ntfs.WriteTo(dir.Path(), "cut.img");
  fs::resize_file(cut, 450 * 4096 + 100);
  // A floppy whose deleted file claims 2 GiB.
  test::TFatVolumeBuilder fat({.Kind = TFileSystemKind::Fat12});
  fat.PutSlots(fat.RootOffset(), {test::Deleted(test::ShortSlot("?UGE    BIN", 0x20, 10, 0x80000000u))});
  fat.PutBytes(fat.ClusterOffset(10), test::Pattern(4096, 5));
  fat.Bytes().resize(static_cast<std::size_t>(fat.ClusterOffset(fat.ClusterCount() + 2)));
  const fs::path floppy = dir / "floppy.img";
  test::WriteFile(floppy, fat.Bytes());
  const std::int64_t room = (std::int64_t{fat.ClusterCount()} + 2 - 10) * fat.ClusterSize();

  const TRun catCut = Cat(dir, cut, "cut.bin", dir / "cut.out");
  EXPECT_EQ(catCut.Status, 1);
  EXPECT_EQ(catCut.Err, "kestrine-cli: cut.bin: only 8192 of 16384 bytes could be read\n");
  EXPECT_EQ(test::ReadFile(dir / "cut.out").size(), 8192u);

  const TRun catHuge = Cat(dir, floppy, "$UGE.BIN", dir / "huge.out");
  EXPECT_EQ(catHuge.Status, 1);
  EXPECT_NE(catHuge.Err.find("$UGE.BIN: its recorded size of 2147483648 bytes is more than the"), std::string::npos)
      << catHuge.Err;
  EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(dir / "huge.out")), room);

  for (const fs::path& image : {cut, floppy}) {
    SCOPED_TRACE(image.string());
    const fs::path out = dir / (image.stem().string() + "-out"), report = dir / (image.stem().string() + ".json");
    const TRun run = Recover(dir, ShellQuote(image.string()) + " --all --out " + ShellQuote(out.string()) +
                                      " --report " + ShellQuote(report.string()));
    EXPECT_EQ(run.Status, 1) << run.Err;
    EXPECT_NE(run.Out.find("Written incompletely 1:"), std::string::npos) << run.Out;
    std::ifstream in(report);
    const json rows = json::parse(in);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["outcome"], "partial");
    const std::int64_t size = image == cut ? 16384 : room;
    EXPECT_EQ(rows[0]["size"], size);
    EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(rows[0]["destination"].get<std::string>())), size);
  }
}

TEST(CliRecover, NamesWithControlCharactersReachTheTerminalEscaped) {
  test::TTempDir dir;
  test::TFatVolumeBuilder volume({.Kind = TFileSystemKind::Fat12});
  // Claims more than the volume holds, so the summary lists it.
  const auto slot = test::Deleted(test::ShortSlot("?VIL    TXT", 0x20, 10, 0x10000000u));
  std::vector<test::TSlot> root;
  for (const auto& l : test::LongNameSlots(u"evil\u001b[2J\u0007\r\u009b.txt", slot)) root.push_back(test::Deleted(l));
  root.push_back(slot);
  volume.PutSlots(volume.RootOffset(), root);
  volume.PutBytes(volume.ClusterOffset(10), test::Pattern(512, 1));
  const fs::path image = dir / "evil.img";
  test::WriteFile(image, volume.Bytes());
  const auto raw = [](const std::string& Text) {
    return Text.find_first_of(std::string("\x1b\x07\r", 3)) != std::string::npos ||
           Text.find("\xC2\x9B") != std::string::npos;
  };
  for (const char* format : {"table", "csv"}) {
    const auto scan = test::RunCommand(Cli() + " scan " + ShellQuote(image.string()) + " --format " + format);
    EXPECT_EQ(scan.Status, 0);
    EXPECT_FALSE(raw(scan.Output)) << format;
    EXPECT_NE(scan.Output.find("evil\\x1b[2J\\x07\\x0d\\u009b.txt"), std::string::npos) << scan.Output;
  }
  const TRun run = Recover(dir, ShellQuote(image.string()) + " --all --out " + ShellQuote((dir / "out").string()));
  EXPECT_EQ(run.Status, 1);
  EXPECT_FALSE(raw(run.Out));
  EXPECT_NE(run.Out.find("  evil\\x1b[2J\\x07\\x0d\\u009b.txt: its recorded size"), std::string::npos) << run.Out;
}

// Deleted entries of one folder that share a name are told apart by the id scan gives them.
TEST(CliItemIds, EachOfSeveralSameNamedFilesIsReadAndRecoveredByItsId) {
  test::TTempDir dir;
  test::TFatVolumeBuilder volume({.Kind = TFileSystemKind::Fat12});
  std::vector<test::TSlot> root;
  for (std::uint32_t i = 0; i < 3; ++i) {
    root.push_back(test::Deleted(test::ShortSlot("KERNEL     ", 0x20, 10 + i, 512)));
    volume.PutBytes(volume.ClusterOffset(10 + i), test::Pattern(512, i + 1));
  }
  volume.PutSlots(volume.RootOffset(), root);
  const fs::path image = dir / "same.img";
  test::WriteFile(image, volume.Bytes());
  const std::string source = ShellQuote(image.string());

  const auto scan = test::RunCommand(Cli() + " scan " + source + " --format json");
  ASSERT_EQ(scan.Status, 0);
  std::vector<std::int64_t> ids;
  for (const auto& row : json::parse(scan.Output))
    if (row["path"] == "$ERNEL") ids.push_back(row["id"]);
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_EQ(std::set<std::int64_t>(ids.begin(), ids.end()).size(), 3u);
  EXPECT_EQ(test::RunCommand(Cli() + " scan " + source + " --format json").Output, scan.Output) << "ids are stable";
  const auto csv = test::RunCommand(Cli() + " scan " + source + " --format csv");
  EXPECT_TRUE(csv.Output.starts_with("id,path,")) << csv.Output;
  EXPECT_NE(csv.Output.find("\n" + std::to_string(ids[2]) + ",$ERNEL,"), std::string::npos) << csv.Output;

  const auto sha = [](const std::vector<std::uint8_t>& Bytes, const fs::path& File) {
    test::WriteFile(File, Bytes);
    return test::RunCommand("sha256sum < " + ShellQuote(File.string())).Output;
  };
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const std::string want = sha(test::Pattern(512, i + 1), dir / "want");
    EXPECT_EQ(test::RunCommand(Cli() + " cat " + source + " '#" + std::to_string(ids[i]) + "' | sha256sum").Output,
              want) << i;
    const fs::path out = dir / ("out" + std::to_string(i));
    const TRun run = Recover(dir, source + " --out " + ShellQuote(out.string()) + " '#" + std::to_string(ids[i]) + "'");
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(test::RunCommand("sha256sum < " + ShellQuote((out / "$ERNEL").string())).Output, want) << i;
  }

  // An id nothing has and text that is no id: one line each, exit 1, nothing read or written.
  for (const std::string bad : {"#999999", "#x1", "#", "#-1"}) {
    const fs::path err = dir / "err";
    const auto cat = test::RunCommand(Cli() + " cat " + source + " '" + bad + "' 2>" + ShellQuote(err.string()));
    EXPECT_EQ(cat.Status, 1) << bad;
    EXPECT_TRUE(cat.Output.empty()) << bad;
    const auto e = test::ReadFile(err);
    EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 1) << bad;
    const TRun run = Recover(dir, source + " --out " + ShellQuote((dir / "none").string()) + " '" + bad + "'");
    EXPECT_EQ(run.Status, 1) << bad;
    EXPECT_EQ(run.Err.rfind("kestrine-cli: " + bad + ": ", 0), 0u) << run.Err;
    EXPECT_TRUE(fs::is_empty(dir / "none")) << bad;
  }
}

class CliRecoverFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    Image = test::UnpackImage(test::TestDataDir() / "fat16.img.xz", Dir.Path());
    ASSERT_FALSE(Image.empty());
  }
  TRun Run(const std::string& Args) { return Recover(Dir, ShellQuote(Image.string()) + " " + Args); }
  std::string Out() const { return ShellQuote((Dir / "out").string()); }
  std::set<std::string> Tree() const {
    std::set<std::string> paths;
    for (const auto& e : fs::recursive_directory_iterator(Dir / "out"))
      paths.insert(fs::relative(e.path(), Dir / "out").string());
    return paths;
  }

  test::TTempDir Dir;
  fs::path Image;
};

TEST_F(CliRecoverFixture, NamedFilesAndFoldersAreRecoveredAndUnknownPathsReported) {
  const TRun run = Run("--out " + Out() + " 'Old Projects' 'Documents/Report.html' /Nothing/here");
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("/Nothing/here: no deleted file or folder of that path was found"), std::string::npos);
  EXPECT_EQ(Tree(), (std::set<std::string>{"Old Projects", "Old Projects/$lan.txt", "Old Projects/Budget 2025.csv",
                                           "Old Projects/$ub", "Old Projects/$ub/$nner.txt", "Report.html"}));
}

TEST_F(CliRecoverFixture, FilterOptionsChooseTheFilesOfFolders) {
  const TRun run = Run("--out " + Out() + " --mask '*.csv;*.html' /");
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(Tree(), (std::set<std::string>{"Old Projects", "Old Projects/Budget 2025.csv", "Documents",
                                           "Documents/Report.html"}));
}

TEST_F(CliRecoverFixture, ReportRowsCarryTheDigestOfWhatWasWritten) {
  const fs::path report = Dir / "r.csv";
  ASSERT_EQ(Run("--all --out " + Out() + " --report " + ShellQuote(report.string())).Status, 0);
  const auto bytes = test::ReadFile(report);
  const auto lines = Split(std::string(bytes.begin(), bytes.end()), '\n');
  ASSERT_GT(lines.size(), 20u);
  EXPECT_EQ(lines[0], "source,destination,size,condition,outcome,sha256,reason");
  bool found = false;
  for (const auto& line : lines)
    if (line.starts_with("Big text.log,")) {
      found = true;
      const auto sha = test::RunCommand("sha256sum " + ShellQuote((Dir / "out" / "Big text.log").string()));
      EXPECT_NE(line.find("," + sha.Output.substr(0, 64) + ","), std::string::npos) << line;
      EXPECT_NE(line.find(",300000,100,written,"), std::string::npos) << line;
    }
  EXPECT_TRUE(found);
}

TEST_F(CliRecoverFixture, UsageMistakesAreExitStatusTwo) {
  EXPECT_EQ(Run("--out " + Out()).Status, 2);                                  // nothing named
  EXPECT_EQ(Run("--all --out " + Out() + " DELETED.TXT").Status, 2);           // both
  EXPECT_EQ(Run("--all --out " + Out() + " --report r.txt").Status, 2);        // report kind
  EXPECT_EQ(Run("--all").Status, 2);                                           // no destination
  EXPECT_FALSE(fs::exists(Dir / "out"));
}

}  // namespace
}  // namespace kestrine
