// kestrine-cli over images in the forensic and virtual machine formats, made in the run from the
// fixture volumes: they scan, read and recover as the raw volume does, and broken ones are refused.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "tests/support/test_support.h"

namespace kestrine {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::ShellQuote;

class CliImages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new test::TTempDir;
    for (const char* name : {"fat16", "exfat", "ntfs", "mbr"})
      test::UnpackImage(test::TestDataDir() / (std::string(name) + ".img.xz"), Dir->Path());
  }
  static void TearDownTestSuite() { delete Dir; }
  static std::string Raw(const std::string& Name) { return (Dir->Path() / (Name + ".img")).string(); }
  static std::string Make(const std::string& Kind, const std::string& Name, std::string& Why) {
    return test::MakeImage(Kind, Raw(Name), Dir->Path(), Why).string();
  }
  static test::TCommandResult Cli(const std::string& Args, const std::string& Drives = "") {
    const char* cli = std::getenv("KESTRINE_CLI");
    return test::RunCommand("KESTRINE_DRIVES=" + ShellQuote(Drives) + " " + ShellQuote(cli ? cli : "kestrine-cli") + " " +
                            Args + " 2>" + ShellQuote((Dir->Path() / "stderr").string()));
  }
  static std::string Stderr() {
    const auto b = test::ReadFile(Dir->Path() / "stderr");
    return std::string(b.begin(), b.end());
  }

  static test::TTempDir* Dir;
};
test::TTempDir* CliImages::Dir = nullptr;

TEST_F(CliImages, EveryFormatScansAndReadsAsTheRawVolume) {
  for (const char* name : {"fat16", "exfat", "ntfs"}) {
    const auto raw = Cli("scan " + ShellQuote(Raw(name)) + " --format json");
    ASSERT_EQ(raw.Status, 0) << Stderr();
    const json items = json::parse(raw.Output);
    for (const char* kind : {"E01", "qcow2", "vhdx", "vmdk", "vhd", "split"}) {
      SCOPED_TRACE(std::string(name) + " as " + kind);
      std::string why;
      const std::string image = Make(kind, name, why);
      if (image.empty()) GTEST_SKIP() << why;
      const auto scan = Cli("scan " + ShellQuote(image) + " --format json");
      ASSERT_EQ(scan.Status, 0) << Stderr();
      EXPECT_EQ(scan.Output, raw.Output);
      int read = 0;
      for (const json& item : items) {
        if (item["folder"] || item["size"] == 0 || item["condition"] != 100 || ++read > 3) continue;
        const std::string id = " '#" + std::to_string(item["id"].get<int>()) + "' | sha256sum";
        EXPECT_EQ(Cli("cat " + ShellQuote(image) + id).Output, Cli("cat " + ShellQuote(Raw(name)) + id).Output);
      }
    }
  }
}

TEST_F(CliImages, APartitionedDiskInsideAnE01GivesItsPartitionsAndRecoversAsTheRawDisk) {
  std::string why;
  const std::string e01 = Make("E01", "mbr", why);
  if (e01.empty()) GTEST_SKIP() << why;
  const auto drives = Cli("drives --format json", "x=" + e01);
  ASSERT_EQ(drives.Status, 0);
  std::map<int, std::string> names;
  for (const json& d : json::parse(drives.Output))
    if (d["source"] == e01) names[d["partition"].get<int>()] = d["fs_name"];
  EXPECT_EQ(names, (std::map<int, std::string>{{1, "FAT32"}, {2, "NTFS"}}));

  const auto part = Cli("scan " + ShellQuote(e01 + "@2") + " --format json");
  ASSERT_EQ(part.Status, 0) << Stderr();
  EXPECT_EQ(part.Output, Cli("scan " + ShellQuote(Raw("mbr") + "@2") + " --format json").Output);

  // Recovered from the container, the files are the raw disk's, byte for byte.
  const fs::path fromImage = Dir->Path() / "from-image", fromRaw = Dir->Path() / "from-raw";
  Cli("recover " + ShellQuote(e01 + "@2") + " --all --out " + ShellQuote(fromImage.string()));
  Cli("recover " + ShellQuote(Raw("mbr") + "@2") + " --all --out " + ShellQuote(fromRaw.string()));
  EXPECT_FALSE(fs::is_empty(fromRaw));
  EXPECT_EQ(test::RunCommand("diff -r " + ShellQuote(fromImage.string()) + " " + ShellQuote(fromRaw.string())).Status, 0);
}

TEST_F(CliImages, ABrokenImageIsOneLineNamingItExitOneAndNothingWritten) {
  std::string why;
  const std::string e01 = Make("E01", "mbr", why);
  if (e01.empty()) GTEST_SKIP() << why;
  const fs::path second = fs::path(e01).replace_extension(".E02");
  fs::rename(second, Dir->Path() / "aside");
  const fs::path out = Dir->Path() / "out";
  for (const std::string& args : {"scan " + ShellQuote(e01 + "@1"), "cat " + ShellQuote(e01 + "@1") + " '#0'",
                                  "recover " + ShellQuote(e01 + "@1") + " --all --out " + ShellQuote(out.string())}) {
    SCOPED_TRACE(args);
    EXPECT_EQ(Cli(args).Status, 1);
    const std::string error = Stderr();
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
    EXPECT_NE(error.find(e01), std::string::npos) << error;
    EXPECT_NE(error.find("mbr.E02 of the E01 image is missing"), std::string::npos) << error;
  }
  EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out));
  fs::rename(Dir->Path() / "aside", second);
}

TEST_F(CliImages, FilesOverCorruptChunksArePartialAndWhatIsWrittenIsTheRawVolumesBytes) {
  std::string why;
  const std::string e01 = Make("E01", "ntfs", why);
  if (e01.empty()) GTEST_SKIP() << why;
  auto bytes = test::ReadFile(e01);
  for (std::size_t i = bytes.size() / 4; i < bytes.size() * 3 / 4; i += 20000) bytes[i] ^= 0x5A;
  test::WriteFile(e01, bytes);
  const auto recover = [&](const std::string& Source, const std::string& Name) {
    const fs::path out = Dir->Path() / Name, report = Dir->Path() / (Name + ".json");
    const int status = Cli("recover " + ShellQuote(Source) + " --all --out " + ShellQuote(out.string()) + " --report " +
                           ShellQuote(report.string()))
                           .Status;
    EXPECT_TRUE(status == 0 || status == 1) << Stderr();
    std::ifstream in(report);
    return json::parse(in);
  };
  std::map<std::string, std::string> digests;
  for (const json& row : recover(Raw("ntfs"), "raw-out")) digests[row["source"]] = row["sha256"];
  int partial = 0, written = 0;
  for (const json& row : recover(e01, "e01-out")) {
    SCOPED_TRACE(row["source"].get<std::string>());
    if (row["outcome"] == "written") {
      ++written;
      EXPECT_EQ(row["sha256"], digests[row["source"]]);
    } else {
      ++partial;
    }
  }
  EXPECT_GT(partial, 0);
  EXPECT_GT(written, 0);
}

}  // namespace
}  // namespace kestrine
