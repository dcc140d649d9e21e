// kestrine-cli over the fixture volumes: the drive list, scans and single-file reads.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <set>

#include "tests/engine/fat/fat_volume_builder.h"
#include "tests/support/test_support.h"

namespace kestrine {
namespace {

using nlohmann::json;
using test::RunCommand;
using test::ShellQuote;

class CliVolumes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new test::TTempDir;
    for (const char* name : {"fat12", "fat16", "fat32", "ntfs", "mbr", "logical", "gpt", "exfat"})
      ASSERT_FALSE(test::UnpackImage(test::TestDataDir() / (std::string(name) + ".img.xz"), Dir->Path()).empty());
    test::WriteFile(Dir->Path() / "zeros.img", std::vector<std::uint8_t>(1 << 20));
    std::ifstream in(test::TestDataDir() / "manifest.json");
    Manifest = new json(json::parse(in));
  }
  static void TearDownTestSuite() {
    delete Dir;
    delete Manifest;
  }
  static std::string Image(const std::string& Name) { return (Dir->Path() / (Name + ".img")).string(); }
  static const json& ManifestOf(const std::string& Name) {
    for (const auto& im : (*Manifest)["images"])
      if (im["file"] == Name + ".img.xz") return im;
    throw std::runtime_error("no manifest entry for " + Name);
  }
  // FAT keeps local times: the command runs in the zone the fixtures were written in.
  static std::string Zone() { return "TZ=" + ShellQuote((*Manifest)["time_zone"].get<std::string>()) + " "; }
  static test::TCommandResult Cli(const std::string& Drives, const std::string& Args) {
    const char* cli = std::getenv("KESTRINE_CLI");
    return RunCommand(Zone() + "KESTRINE_DRIVES=" + ShellQuote(Drives) + " " + ShellQuote(cli ? cli : "kestrine-cli") +
                      " " + Args + " 2>" + ShellQuote((Dir->Path() / "stderr").string()));
  }
  // The same without a drive map, ended after two minutes: a hang fails the test (status 124).
  static test::TCommandResult Bounded(const std::string& Args) {
    const char* cli = std::getenv("KESTRINE_CLI");
    return RunCommand(Zone() + "KESTRINE_DRIVES= timeout 120 " + ShellQuote(cli ? cli : "kestrine-cli") + " " + Args + " 2>" +
                      ShellQuote((Dir->Path() / "stderr").string()));
  }
  static std::string Stderr() {
    const auto b = test::ReadFile(Dir->Path() / "stderr");
    return std::string(b.begin(), b.end());
  }

  static test::TTempDir* Dir;
  static json* Manifest;
};
test::TTempDir* CliVolumes::Dir = nullptr;
json* CliVolumes::Manifest = nullptr;

TEST_F(CliVolumes, DriveListGivesKindLabelAndSizeOfEveryMappedVolume) {
  const std::string map = "p=" + Image("fat12") + ";q=" + Image("fat16") + ";r=" + Image("fat32") + ";s=" +
                          Image("ntfs") + ";t=" + Image("zeros") + ";u=" + Image("fat16");
  const auto result = Cli(map, "drives --format json");
  ASSERT_EQ(result.Status, 0) << Stderr();
  std::map<std::string, json> byLetter;
  for (const auto& d : json::parse(result.Output)) byLetter[d["letter"]] = d;
  for (const auto& [letter, name] : std::vector<std::pair<std::string, std::string>>{
           {"p", "fat12"}, {"q", "fat16"}, {"r", "fat32"}, {"s", "ntfs"}}) {
    SCOPED_TRACE(name);
    const json& d = byLetter.at(letter);
    const json& m = ManifestOf(name);
    EXPECT_EQ(d["kind"], m["fs_kind"]);
    EXPECT_EQ(d["label"], m["label"]);
    EXPECT_EQ(d["source"], Image(name));
    EXPECT_EQ(d["mount_point"], "");
    const std::int64_t total = d["total"], free = d["free"], cluster = m["cluster_size"];
    if (m.contains("cluster_count") && !m["cluster_count"].is_null())
      EXPECT_EQ(total, cluster * m["cluster_count"].get<std::int64_t>());
    else
      EXPECT_NEAR(static_cast<double>(total), m["volume_bytes"].get<double>(), static_cast<double>(cluster));
    EXPECT_LE(free, total);
    EXPECT_EQ(free % cluster, 0);
    EXPECT_TRUE(d["size_text"].get<std::string>().ends_with(" MB"));
  }
  EXPECT_EQ(byLetter.at("p")["fs_name"], "FAT");
  EXPECT_EQ(byLetter.at("r")["fs_name"], "FAT32");
  EXPECT_EQ(byLetter.at("s")["fs_name"], "NTFS");
  EXPECT_EQ(byLetter.at("t")["kind"], 0);
  EXPECT_EQ(byLetter.at("u")["kind"], 2);  // the same image under a second letter is a disk of its own
}

TEST_F(CliVolumes, WholeDiskImagesGiveADrivePerPartitionThatScansLikeThePartitionCutOut) {
  const auto result = Cli("x=" + Image("mbr") + ";l=" + Image("logical") + ";g=" + Image("gpt"), "drives --format json");
  ASSERT_EQ(result.Status, 0) << Stderr();
  std::map<std::string, json> bySource;
  for (const auto& d : json::parse(result.Output))
    if (d["partition"] != 0) bySource[d["source"].get<std::string>() + "@" + std::to_string(d["partition"].get<int>())] = d;
  ASSERT_EQ(bySource.size(), 5u) << result.Output;
  EXPECT_EQ(bySource.at(Image("mbr") + "@1")["letter"], "x");  // the map's letter goes to the first partition
  EXPECT_EQ(bySource.at(Image("mbr") + "@2")["fs_name"], "NTFS");
  EXPECT_EQ(bySource.at(Image("logical") + "@5")["letter"], "l");
  EXPECT_EQ(bySource.at(Image("gpt") + "@2")["label"], "KFAT16");

  // Where the generator put each partition, in 512-byte sectors.
  struct TCut {
    std::string Image;
    int Partition;
    int Skip, Count;
  };
  for (const TCut& cut : std::vector<TCut>{{"mbr", 1, 2048, 81920},
                                           {"mbr", 2, 83968, 49152},
                                           {"logical", 5, 4096, 32768},
                                           {"gpt", 1, 2048, 2880},
                                           {"gpt", 2, 4928, 32768}}) {
    const std::string name = cut.Image + "@" + std::to_string(cut.Partition);
    SCOPED_TRACE(name);
    const std::string cutOut = (Dir->Path() / "cut.img").string();
    ASSERT_EQ(RunCommand("dd status=none bs=512 if=" + ShellQuote(Image(cut.Image)) + " of=" + ShellQuote(cutOut) +
                         " skip=" + std::to_string(cut.Skip) + " count=" + std::to_string(cut.Count))
                  .Status,
              0);
    const auto whole = Cli("", "scan " + ShellQuote(Image(cut.Image) + "@" + std::to_string(cut.Partition)) + " --format json");
    ASSERT_EQ(whole.Status, 0) << Stderr();
    const auto alone = Cli("", "scan " + ShellQuote(cutOut) + " --format json");
    ASSERT_EQ(alone.Status, 0) << Stderr();
    EXPECT_FALSE(json::parse(whole.Output).empty());
    EXPECT_EQ(whole.Output, alone.Output);
  }

  // A lone partition is the image's; of several, none is guessed.
  EXPECT_EQ(Cli("", "scan " + ShellQuote(Image("logical")) + " --format json").Output,
            Cli("", "scan " + ShellQuote(Image("logical") + "@5") + " --format json").Output);
  EXPECT_NE(Cli("", "scan " + ShellQuote(Image("mbr"))).Status, 0);
  EXPECT_NE(Stderr().find(Image("mbr") + "@1 "), std::string::npos) << Stderr();
  EXPECT_NE(Stderr().find(Image("mbr") + "@2 "), std::string::npos) << Stderr();
  EXPECT_NE(Cli("", "scan " + ShellQuote(Image("gpt") + "@3")).Status, 0);
  EXPECT_NE(Stderr().find("no FAT, exFAT or NTFS partition"), std::string::npos) << Stderr();

  // Windows boot code (190 "bytes per sector") does not pass for a FAT boot sector: its entry is read.
  std::vector<std::uint8_t> disk(2048, 0);
  const std::uint8_t code[] = {0x33, 0xC0, 0x8E, 0xD0, 0xBC, 0x00, 0x7C, 0x8E, 0xC0, 0x8E, 0xD8};
  std::copy(std::begin(code), std::end(code), disk.begin());
  const auto volume = test::ReadFile(Image("fat16"));
  disk[446 + 4] = 0x06;
  test::PutLe32(disk, 446 + 8, 4);
  test::PutLe32(disk, 446 + 12, static_cast<std::uint32_t>(volume.size() / 512));
  disk[510] = 0x55, disk[511] = 0xAA;
  disk.insert(disk.end(), volume.begin(), volume.end());
  test::WriteFile(Dir->Path() / "windows.img", disk);
  EXPECT_EQ(Cli("", "scan " + ShellQuote(Image("windows")) + " --format json").Output,
            Cli("", "scan " + ShellQuote(Image("fat16")) + " --format json").Output);
}

// An SD card as a card reader shows it: an MBR with one exFAT partition of type 0x07.
TEST_F(CliVolumes, ExFatVolumesAreDrivesOfKindFiveAlsoAsPartitions) {
  const auto drives = json::parse(Cli("x=" + Image("exfat"), "drives --format json").Output);
  const auto listed = std::find_if(drives.begin(), drives.end(), [](const json& d) { return d["letter"] == "x"; });
  ASSERT_NE(listed, drives.end());
  EXPECT_EQ((*listed)["kind"], 5);
  EXPECT_EQ((*listed)["fs_name"], "exFAT");
  EXPECT_EQ((*listed)["label"], "KEXFAT");

  std::vector<std::uint8_t> card(1 << 20, 0);
  const auto volume = test::ReadFile(Image("exfat"));
  card[446 + 4] = 0x07;
  test::PutLe32(card, 446 + 8, 2048);
  test::PutLe32(card, 446 + 12, static_cast<std::uint32_t>(volume.size() / 512));
  card[510] = 0x55, card[511] = 0xAA;
  card.insert(card.end(), volume.begin(), volume.end());
  test::WriteFile(Dir->Path() / "card.img", card);
  const auto alone = Cli("", "scan " + ShellQuote(Image("exfat")) + " --format json");
  ASSERT_EQ(alone.Status, 0) << Stderr();
  EXPECT_GE(json::parse(alone.Output).size(), 20u);
  EXPECT_EQ(Cli("", "scan " + ShellQuote(Image("card") + "@1") + " --format json").Output, alone.Output);
  const std::string cat = "cat " + ShellQuote(Image("card") + "@1") + " 'Fragments/frag A.bin' | sha256sum";
  EXPECT_EQ(Cli("", cat).Output, Cli("", "cat " + ShellQuote(Image("exfat")) + " 'Fragments/frag A.bin' | sha256sum").Output);

  // A GPT basic data partition, as Windows formats a large card or stick.
  if (RunCommand("command -v python3 >/dev/null").Status != 0) GTEST_SKIP() << "python3 is needed to write the GPT disk";
  ASSERT_EQ(RunCommand("python3 " + ShellQuote((test::TestDataDir() / "make_disks.py").string()) + " --gpt " +
                       ShellQuote(Image("stick")) + " " + ShellQuote(Image("exfat")))
                .Status,
            0);
  EXPECT_EQ(Cli("", "scan " + ShellQuote(Image("stick") + "@1") + " --format json").Output, alone.Output);
}

TEST_F(CliVolumes, DriveMapErrorsNameTheirEntryAndTheRestIsListed) {
  const auto result = Cli("d=" + Image("fat16") + ";e=/no/such.img;oops", "drives --format csv");
  EXPECT_EQ(result.Status, 1);
  EXPECT_NE(result.Output.find(Image("fat16")), std::string::npos);
  EXPECT_NE(Stderr().find("e=/no/such.img"), std::string::npos);
  EXPECT_NE(Stderr().find("\"oops\""), std::string::npos);
  EXPECT_EQ(Cli("", "drives --format yaml").Status, 2);
}

// Names and labels are bytes: JSON gets U+FFFD for those that are not UTF-8, tables and CSV the bytes.
TEST_F(CliVolumes, NamesAndLabelsThatAreNotUtf8AreListedInEveryFormat) {
  const std::string replaced = "\xEF\xBF\xBD";
  const std::filesystem::path folder = Dir->Path() / "junk";
  std::filesystem::create_directory(folder);
  test::WriteFile(folder / "bad\xff.tmp", {1, 2, 3});
  const auto found = Cli("", "cleanup --path " + ShellQuote(folder.string()) + " --format json");
  ASSERT_EQ(found.Status, 0) << Stderr();
  const json files = json::parse(found.Output);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0]["name"], "bad" + replaced + ".tmp");
  EXPECT_EQ(files[0]["size"], 3);
  EXPECT_NE(Cli("", "cleanup --path " + ShellQuote(folder.string()) + " --format csv").Output.find("bad\xff.tmp,"),
            std::string::npos);

  // The label of the FAT16 image in its boot sector and its root folder, with bytes above 0x7F.
  std::vector<std::uint8_t> image = test::ReadFile(Image("fat16"));
  const std::string label = "KFAT16     ", other = "CAF\xC9 \xFF     ";
  int patched = 0;
  for (auto at = std::search(image.begin(), image.end(), label.begin(), label.end()); at != image.end();
       at = std::search(at, image.end(), label.begin(), label.end()), ++patched)
    at = std::copy(other.begin(), other.end(), at);
  ASSERT_EQ(patched, 2);
  test::WriteFile(Dir->Path() / "latin1-label.img", image);
  const auto drives = Cli("d=" + Image("latin1-label"), "drives --format json");
  ASSERT_EQ(drives.Status, 0) << Stderr();
  json d;
  for (const json& drive : json::parse(drives.Output))
    if (drive["letter"] == "d") d = drive;
  EXPECT_EQ(d["label"], "CAF" + replaced + " " + replaced);  // libblkid gives the bytes, trailing blanks cut
  EXPECT_EQ(d["kind"], 2);
  EXPECT_NE(Cli("d=" + Image("latin1-label"), "drives --format table").Output.find("CAF\xC9 \xFF"), std::string::npos);
}

TEST_F(CliVolumes, FatScanListsTheManifestsDeletedFilesAndCatGivesTheirBytes) {
  for (const char* name : {"fat12", "fat16", "fat32"}) {
    SCOPED_TRACE(name);
    const auto result = Cli("", "scan " + ShellQuote(Image(name)) + " --format json");
    ASSERT_EQ(result.Status, 0) << Stderr();
    // Names stored as 8.3 only read back in the case they were written: mtools keeps an
    // all-lower-case part as the case flags, so paths compare exactly.
    std::map<std::string, json> found;
    for (const auto& f : json::parse(result.Output)) found[f["path"]] = f;
    // Deleted 8.3 entries, files and folders alike, lose their first character.
    std::set<std::string> shortDeletedFolders;
    for (const auto& d : ManifestOf(name)["deleted_folders"])
      if (!d.value("has_long_name", true)) shortDeletedFolders.insert(d["path"]);
    auto shown = [&](const json& f) {
      const std::string original = f["path"];
      std::string path;
      std::size_t from = 0;
      while (true) {
        const std::size_t slash = original.find('/', from);
        const std::string prefix = original.substr(0, slash);
        std::string part = original.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
        if (slash == std::string::npos) {
          if (!f.value("has_long_name", true)) part[0] = '$';
          return path + part;
        }
        if (shortDeletedFolders.count(prefix)) part[0] = '$';
        path += part + "/";
        from = slash + 1;
      }
    };
    int checked = 0;
    for (const auto& f : ManifestOf(name)["deleted_files"]) {
      std::string path = shown(f);
      if (f["name"].get<std::string>().ends_with(".BAK") || f["name"].get<std::string>().ends_with(".bak")) continue;
      if (!found.count(path)) {
        ADD_FAILURE() << "not found: " << path;
        continue;
      }
      const json& hit = found[path];
      EXPECT_EQ(hit["size"], f["size"]) << path;
      path = hit["path"];
      if (!f.value("intact", false) || f.value("fragmented", false) || checked >= 4 || f["size"] == 0) continue;
      const auto bytes = Cli("", "cat " + ShellQuote(Image(name)) + " " + ShellQuote(path) + " | sha256sum");
      EXPECT_EQ(bytes.Output.substr(0, 64), f["sha256"]) << path;
      ++checked;
    }
    EXPECT_GT(checked, 0);
  }
}

// FAT times are the writer's wall clock: under Berlin's rules summer is UTC+2 and winter UTC+1,
// and the created time's 10 ms byte adds up to 1.99 s.
TEST_F(CliVolumes, FatTimesAreLocalWallClockShownAsUtc) {
  test::TFatVolumeBuilder v({.Kind = TFileSystemKind::Fat12});
  const auto stamped = [](const char* Name, std::uint32_t Cluster, int Month, std::uint8_t TenMs) {
    test::TSlot s = test::Deleted(test::ShortSlot(Name, 0x20, Cluster, 10));
    const auto date = static_cast<std::uint16_t>(((2024 - 1980) << 9) | (Month << 5) | 15);
    const auto time = static_cast<std::uint16_t>((14 << 11) | (30 << 5) | 10);  // 14:30:20
    s[13] = TenMs;
    for (const int at : {14, 22}) s[at] = time & 0xFF, s[at + 1] = time >> 8;
    for (const int at : {16, 24}) s[at] = date & 0xFF, s[at + 1] = date >> 8;
    return s;
  };
  v.PutSlots(v.RootOffset(), {stamped("?UMMER  TXT", 5, 7, 157), stamped("?INTER  TXT", 6, 1, 199),
                              stamped("?LAIN   TXT", 7, 1, 0)});
  const std::string image = (Dir->Path() / "berlin.img").string();
  test::WriteFile(image, v.Bytes());
  const char* cli = std::getenv("KESTRINE_CLI");
  const auto result = RunCommand("TZ=Europe/Berlin " + ShellQuote(cli ? cli : "kestrine-cli") + " scan " +
                                 ShellQuote(image) + " --format json");
  ASSERT_EQ(result.Status, 0);
  std::map<std::string, std::pair<std::string, std::string>> times;
  for (const auto& f : json::parse(result.Output)) times[f["path"]] = {f["modified"], f["created"]};
  using T = std::pair<std::string, std::string>;
  EXPECT_EQ(times["$UMMER.TXT"], T("2024-07-15T12:30:20Z", "2024-07-15T12:30:21.5700000Z"));
  EXPECT_EQ(times["$INTER.TXT"], T("2024-01-15T13:30:20Z", "2024-01-15T13:30:21.9900000Z"));
  EXPECT_EQ(times["$LAIN.TXT"], T("2024-01-15T13:30:20Z", "2024-01-15T13:30:20Z"));
}

TEST_F(CliVolumes, CatOfAPathThatNamesNoFoundFileIsAnErrorNamingIt) {
  const auto result = Cli("", "cat " + ShellQuote(Image("fat16")) + " 'No/Such file.txt'");
  EXPECT_EQ(result.Status, 1);
  EXPECT_NE(Stderr().find("No/Such file.txt"), std::string::npos);
  EXPECT_TRUE(result.Output.empty());
}

TEST_F(CliVolumes, AFifoSourceIsRefusedByEveryCommandWithoutWaiting) {
  const std::string fifo = (Dir->Path() / "pipe").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const char* cli = std::getenv("KESTRINE_CLI");
  // A command that waited for a writer would be ended by timeout (status 124).
  const auto run = [&](const std::string& Drives, const std::string& Args) {
    return RunCommand("KESTRINE_DRIVES=" + ShellQuote(Drives) + " timeout 30 " + ShellQuote(cli ? cli : "kestrine-cli") +
                      " " + Args + " 2>" + ShellQuote((Dir->Path() / "stderr").string()));
  };
  const std::string out = ShellQuote((Dir->Path() / "fifo-out").string());
  for (const std::string& args : {"scan " + ShellQuote(fifo), "cat " + ShellQuote(fifo) + " a.txt",
                                 "recover " + ShellQuote(fifo) + " --all --out " + out}) {
    SCOPED_TRACE(args);
    EXPECT_EQ(run("", args).Status, 1);
    EXPECT_NE(Stderr().find(fifo + ": not an image file or block device"), std::string::npos) << Stderr();
  }
  EXPECT_EQ(run("f=" + fifo + ";d=" + Image("fat16"), "drives --format csv").Status, 1);
  EXPECT_NE(Stderr().find("f=" + fifo + ": not an image file or block device"), std::string::npos) << Stderr();
  EXPECT_EQ(run("f=" + fifo, "scan f").Status, 1);
  ::unlink(fifo.c_str());
}

TEST_F(CliVolumes, CatOfAStreamTheFileDoesNotHaveIsAnError) {
  const std::string fat = json::parse(Cli("", "scan " + ShellQuote(Image("fat16")) + " --format json").Output)[0]["path"];
  for (const auto& [image, path] : {std::pair{Image("ntfs"), std::string("Streams/deleted streams.txt")},
                                    std::pair{Image("fat16"), fat}}) {
    SCOPED_TRACE(path);
    ASSERT_EQ(Cli("", "cat " + ShellQuote(image) + " " + ShellQuote(path) + " >/dev/null").Status, 0) << Stderr();
    const auto result = Cli("", "cat " + ShellQuote(image) + " " + ShellQuote(path + ":nosuch"));
    EXPECT_EQ(result.Status, 1);
    EXPECT_TRUE(result.Output.empty()) << "not the main data, not anything";
    EXPECT_EQ(Stderr(), "kestrine-cli: " + path + ":nosuch: it has no data stream named nosuch\n");
  }
}

TEST_F(CliVolumes, FilterOptionsNarrowTheScan) {
  const auto all = json::parse(Cli("", "scan " + ShellQuote(Image("fat32")) + " --format json").Output);
  const auto txt = json::parse(Cli("", "scan " + ShellQuote(Image("fat32")) + " --mask '*.txt' --format json").Output);
  const auto big = json::parse(Cli("", "scan " + ShellQuote(Image("fat32")) + " --size-gt 40 --format json").Output);
  EXPECT_LT(txt.size(), all.size());
  for (const auto& f : txt) EXPECT_TRUE(f["name"].get<std::string>().ends_with(".TXT") ||
                                        f["name"].get<std::string>().ends_with(".txt")) << f["name"];
  for (const auto& f : big) EXPECT_GT(f["size"].get<std::int64_t>(), 40 * 1024);
  EXPECT_FALSE(big.empty());
  // A date range admits files created or modified inside it (local time; a day's margin for the zone).
  const auto january = json::parse(
      Cli("", "scan " + ShellQuote(Image("fat32")) + " --between 2025-01-01 2025-01-31 --format json").Output);
  ASSERT_FALSE(january.empty());
  EXPECT_LT(january.size(), all.size());
  for (const auto& f : january) {
    const std::string m = f["modified"].is_null() ? "" : f["modified"].get<std::string>();
    const std::string c = f["created"].is_null() ? "" : f["created"].get<std::string>();
    auto inRange = [](const std::string& t) { return t >= "2024-12-31" && t < "2025-02-02"; };
    EXPECT_TRUE(inRange(m) || inRange(c)) << f["path"] << " " << m;
  }
  EXPECT_EQ(Cli("", "scan " + ShellQuote(Image("fat32")) + " --attr x").Status, 2);
  EXPECT_NE(Stderr().find("--attr"), std::string::npos);
}

}  // namespace
}  // namespace kestrine

namespace kestrine {
namespace {

TEST_F(CliVolumes, NtfsScanNamesEveryFileWithItsRecordAndStreams) {
  const auto result = Cli("", "scan " + ShellQuote(Image("ntfs")) + " --format json");
  ASSERT_EQ(result.Status, 0) << Stderr();
  std::map<std::string, json> found;
  for (const auto& f : json::parse(result.Output)) {
    EXPECT_FALSE(f["name"].get<std::string>().empty()) << "record " << f["record"];
    found[f["path"]] = f;
  }
  ASSERT_TRUE(found.count("$folder_64/orphan.txt"));  // its parent's record now holds a file
  EXPECT_EQ(found["$folder_64/orphan.txt"]["record"], 65);
  const json& streams = found.at("Streams/deleted streams.txt");
  EXPECT_EQ(streams["record"], 95);
  ASSERT_EQ(streams["streams"].size(), 2u);
  for (const auto& f : ManifestOf("ntfs")["deleted_files"]) {
    if (f["path"] != "Streams/deleted streams.txt") continue;
    for (const auto& s : f["streams"]) {
      const auto bytes = Cli("", "cat " + ShellQuote(Image("ntfs")) + " " +
                                     ShellQuote("Streams/deleted streams.txt:" + s["name"].get<std::string>()) +
                                     " | sha256sum");
      EXPECT_EQ(bytes.Output.substr(0, 64), s["sha256"]) << s["name"];
    }
  }
}

// A fixture image with bytes changed or cut, written beside the fixtures.
std::string Damaged(const test::TTempDir& Dir, const std::string& From, const std::string& Name,
                    const std::function<void(std::vector<std::uint8_t>&)>& Damage) {
  auto bytes = test::ReadFile(Dir.Path() / (From + ".img"));
  Damage(bytes);
  const auto path = Dir.Path() / (Name + ".img");
  test::WriteFile(path, bytes);
  return path.string();
}

std::uint64_t Le64(const std::vector<std::uint8_t>& B, std::size_t At) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | B[At + static_cast<std::size_t>(i)];
  return v;
}

// Every command that scans fails with one line naming the source and what could not be read; none
// hangs (each runs under a timeout) and none takes the volume for one without deleted files.
TEST_F(CliVolumes, VolumesThatCannotBeWalkedAreErrorsForEveryCommand) {
  using TBytes = std::vector<std::uint8_t>;
  struct TCase {
    const char* Name;
    const char* From;
    std::function<void(TBytes&)> Damage;
    const char* Says;
  };
  const std::vector<TCase> cases = {
      {"ntfs-bps0", "ntfs", [](TBytes& B) { B[11] = B[12] = 0; }, "cannot scan: "},
      {"ntfs-spc0", "ntfs", [](TBytes& B) { B[13] = 0; }, "cannot scan: "},
      {"ntfs-mftfar", "ntfs", [](TBytes& B) { test::PutLe64(B, 0x30, 1ull << 33); }, "cannot scan: "},
      {"ntfs-rec80", "ntfs", [](TBytes& B) { B[0x40] = 0x80; }, "cannot scan: "},
      {"ntfs-rec0", "ntfs",
       [](TBytes& B) {
         const std::uint64_t cluster = (std::uint64_t{B[11]} | std::uint64_t{B[12]} << 8) * B[13];
         std::fill_n(B.begin() + static_cast<std::ptrdiff_t>(Le64(B, 0x30) * cluster), 1024, 0);
       },
       "cannot scan: MFT record 0"},
      {"fat32-root", "fat32", [](TBytes& B) { test::PutLe32(B, 44, 0x0FFFFFFF); }, "cannot scan: the root folder"},
      {"fat16-tables", "fat16", [](TBytes& B) { B[16] = 255; }, "cannot scan: "},
      {"fat16-table1", "fat16", [](TBytes& B) { test::PutLe16(B, 22, 1); }, "cannot scan: "},
      {"fat32-table1", "fat32", [](TBytes& B) { test::PutLe32(B, 36, 1); }, "cannot scan: "},
      {"fat12-cut", "fat12", [](TBytes& B) { B.resize(512 * (1 + 2 * 9)); }, "cannot scan: the root folder"},
      // A whole disk: Windows MBR boot code (190 "bytes per sector") whose one table entry points at
      // no file system, while a FAT16 volume lies where no entry says.
      {"disk-mbr", "fat16",
       [](TBytes& B) {
         TBytes mbr(2048, 0);
         const std::uint8_t code[] = {0x33, 0xC0, 0x8E, 0xD0, 0xBC, 0x00, 0x7C, 0x8E, 0xC0, 0x8E, 0xD8,
                                      0xBE, 0x00, 0x7C, 0xBF, 0x00, 0x06, 0xB9, 0x00, 0x02, 0xFC};
         std::copy(std::begin(code), std::end(code), mbr.begin());
         mbr[446 + 4] = 0x06;
         test::PutLe32(mbr, 446 + 8, 1);
         test::PutLe32(mbr, 446 + 12, static_cast<std::uint32_t>(B.size() / 512));
         mbr[510] = 0x55, mbr[511] = 0xAA;
         B.insert(B.begin(), mbr.begin(), mbr.end());
       },
       "no FAT, exFAT or NTFS file system"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string image = Damaged(*Dir, c.From, c.Name, c.Damage);
    const std::string line = "kestrine-cli: " + image + ": ";
    const auto out = Dir->Path() / (std::string(c.Name) + "-out");
    for (const std::string& args : {"scan " + ShellQuote(image), "scan " + ShellQuote(image) + " --format json",
                                    "recover " + ShellQuote(image) + " --all --out " + ShellQuote(out.string()),
                                    "cat " + ShellQuote(image) + " ANY.TXT"}) {
      SCOPED_TRACE(args);
      const auto result = Bounded(args);
      EXPECT_EQ(result.Status, 1);
      EXPECT_EQ(result.Output, "");
      const std::string err = Stderr();
      EXPECT_EQ(err.rfind(line, 0), 0u) << err;
      EXPECT_NE(err.find(c.Says), std::string::npos) << err;
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
  }
}

// A volume that walks and holds no deleted file is an empty result, not a failure.
TEST_F(CliVolumes, ASoundVolumeWithoutDeletedFilesIsAnEmptyResult) {
  // The FAT12 fixture with its root folder emptied: nothing below it is reachable.
  const std::string image = Damaged(*Dir, "fat12", "fat12-empty", [](std::vector<std::uint8_t>& B) {
    std::fill_n(B.begin() + 512 * (1 + 2 * 9), 224 * 32, 0);
  });
  const auto scan = Bounded("scan " + ShellQuote(image) + " --format json");
  EXPECT_EQ(scan.Status, 0) << Stderr();
  EXPECT_EQ(json::parse(scan.Output), json::array());
  EXPECT_EQ(Stderr(), "");
  const auto out = Dir->Path() / "empty-out";
  const auto recover = Bounded("recover " + ShellQuote(image) + " --all --out " + ShellQuote(out.string()));
  EXPECT_EQ(recover.Status, 0) << Stderr();
  EXPECT_NE(recover.Output.find("Recovered 0 files"), std::string::npos) << recover.Output;
}

}  // namespace
}  // namespace kestrine
