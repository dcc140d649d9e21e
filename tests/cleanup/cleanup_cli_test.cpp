// kestrine-cli cleanup, run as a user runs it.

#include <unistd.h>

#include <cstdlib>
#include <set>
#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using test::RunCommand;
using test::ShellQuote;
using test::TTempDir;

// KESTRINE_CLI, or the program built beside this test (build/cli beside build/tests/cleanup).
std::string CliPath() {
  if (const char* cli = std::getenv("KESTRINE_CLI")) return cli;
  return (fs::read_symlink("/proc/self/exe").parent_path() / "../../cli/kestrine-cli").lexically_normal().string();
}

class CleanupCli : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a.tmp", "b.BAK", "keep.txt", "sub/c.log", "sub/keep.doc"}) Put(name, 70000);
  }
  void Put(const std::string& Name, std::size_t Size) {
    fs::create_directories((Dir / Name).parent_path());
    test::WriteFile(Dir / Name, std::vector<std::uint8_t>(Size, 0x41));
  }
  // Standard output, with standard error after it in Err; stdin is never a terminal here.
  test::TCommandResult Cli(const std::string& Args, const std::string& Prefix = "") {
    const std::string err = (Scratch / "stderr.txt").string();
    test::TCommandResult r =
        RunCommand(Prefix + ShellQuote(CliPath()) + " cleanup " + Args + " 2>" + ShellQuote(err) + " </dev/null");
    const std::vector<std::uint8_t> bytes = test::ReadFile(err);
    Err.assign(bytes.begin(), bytes.end());
    fs::remove(err);
    return r;
  }
  std::string Root() const { return ShellQuote(Dir.Path().string()); }

  TTempDir Dir;
  TTempDir Scratch;  // outside the searched folder
  std::string Err;
};

TEST_F(CleanupCli, ListsMatchesOfTheDefaultMasksAsJson) {
  const auto r = Cli("--path " + Root() + " --format json");
  ASSERT_EQ(r.Status, 0) << Err;
  const auto rows = nlohmann::json::parse(r.Output);
  ASSERT_EQ(rows.size(), 3u);
  std::set<std::string> names;
  for (const auto& row : rows) {
    names.insert(row.at("name").get<std::string>());
    EXPECT_EQ(row.at("size").get<std::int64_t>(), 70000);
    EXPECT_EQ(row.at("modified").get<std::string>().back(), 'Z');
    EXPECT_EQ(row.at("folder").get<std::string>().back(), '/');
  }
  EXPECT_EQ(names, (std::set<std::string>{"a.tmp", "b.BAK", "c.log"}));
  EXPECT_NE(Err.find("Found: 3 file(s)"), std::string::npos);
  EXPECT_EQ(Err.find("\r"), std::string::npos);  // no progress without a terminal

  const auto csv = Cli("--path " + Root() + " --mask '*.doc' --mask '*.DOC' --format csv");
  EXPECT_EQ(csv.Output.substr(0, csv.Output.find('\n')), "name,folder,type,size,modified");
  EXPECT_NE(csv.Output.find("keep.doc," + Dir.Path().string() + "/sub/,.doc,70000,"), std::string::npos);
}

TEST_F(CleanupCli, RefusesToActWithoutConfirmationAndDeletesWithYes) {
  EXPECT_EQ(Cli("--path " + Root() + " --delete").Status, 2);
  EXPECT_TRUE(fs::exists(Dir / "a.tmp"));
  const auto r = Cli("--path " + Root() + " --mask '*.tmp' --mask '*.t*' --delete --yes");
  EXPECT_EQ(r.Status, 0) << Err;
  EXPECT_FALSE(fs::exists(Dir / "a.tmp"));
  EXPECT_FALSE(fs::exists(Dir / "keep.txt"));  // *.t* takes it too
  EXPECT_TRUE(fs::exists(Dir / "b.BAK"));
  EXPECT_NE(Err.find("Deleted 2 file(s)"), std::string::npos) << Err;  // a.tmp once, though listed twice
}

TEST_F(CleanupCli, UsageErrors) {
  EXPECT_EQ(Cli("").Status, 2);
  EXPECT_EQ(Cli("--path " + Root() + " --passes 3").Status, 2);
  EXPECT_EQ(Cli("--path " + Root() + " --wipe --passes 11").Status, 2);
  EXPECT_EQ(Cli("--path " + Root() + " --delete --wipe").Status, 2);
  EXPECT_EQ(Cli("--path " + Root() + " --mask 'sub/*.log'").Status, 2);
  EXPECT_EQ(Cli("--path " + Root() + " --mask ' ' --delete --yes").Status, 2);
  EXPECT_EQ(Cli("--drive 12").Status, 2);
  EXPECT_TRUE(fs::exists(Dir / "a.tmp"));
  EXPECT_EQ(Cli("--path " + ShellQuote((Dir / "nowhere").string())).Status, 1);
  EXPECT_NE(Err.find("nowhere: no such folder"), std::string::npos) << Err;
}

TEST_F(CleanupCli, DrivesAreSearchedAtTheirMountPoint) {
  Put("image.bin", 4096);
  const std::string env = "KESTRINE_DRIVES=" + ShellQuote("q=" + (Dir / "image.bin").string()) + " ";
  EXPECT_EQ(Cli("--drive q", env).Status, 0) << Err;
  EXPECT_NE(Err.find("not mounted"), std::string::npos) << Err;
  EXPECT_EQ(Cli("--drive q: --drive z", env).Status, 1);
  EXPECT_NE(Err.find("drive z: no such drive"), std::string::npos) << Err;
}

// A real write failure: a file-size limit below the file's length makes the kernel refuse writes.
TEST_F(CleanupCli, WipeFailuresAreCountedAndTheFileIsKept) {
  Put("big.tmp", 300000);
  const auto r = Cli("--path " + Root() + " --mask 'big.tmp' --mask '*.bak' --wipe --passes 2 --yes",
                     "trap '' XFSZ; ulimit -f 200; ");
  EXPECT_EQ(r.Status, 1) << Err;
  EXPECT_NE(Err.find("big.tmp: write failed"), std::string::npos) << Err;
  EXPECT_NE(Err.find("1 failed"), std::string::npos) << Err;
  EXPECT_TRUE(fs::exists(Dir / "big.tmp"));
  EXPECT_FALSE(fs::exists(Dir / "b.BAK"));
}

// A file system mounted inside the searched folder is not entered, in a mount namespace of its own.
TEST_F(CleanupCli, StaysOnTheFileSystemOfTheSearchedFolder) {
  if (RunCommand("unshare --user --map-root-user --mount true 2>/dev/null").Status != 0)
    GTEST_SKIP() << "no user and mount namespaces here";
  fs::create_directories(Dir / "mnt");
  const std::string mnt = ShellQuote((Dir / "mnt").string());
  const std::string script = "mount -t tmpfs none " + mnt + " && touch " + mnt + "/inside.tmp && " +
                             ShellQuote(CliPath()) + " cleanup --path " + Root() +
                             " --format csv";
  const auto r = RunCommand("unshare --user --map-root-user --mount sh -c " + ShellQuote(script) + " 2>/dev/null");
  ASSERT_EQ(r.Status, 0);
  EXPECT_NE(r.Output.find("a.tmp,"), std::string::npos) << r.Output;
  EXPECT_EQ(r.Output.find("inside.tmp"), std::string::npos) << r.Output;
}

}  // namespace
}  // namespace kestrine
