// kestrine-cli cleanup, run as a user runs it.

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <set>
#include <filesystem>
#include <thread>

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
  EXPECT_EQ(Cli("--path " + Root() + " --mask ';' --mask ' ; ' --delete --yes").Status, 2);
  EXPECT_NE(Err.find("every mask is empty"), std::string::npos) << Err;
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

// A wipe never overwrites a file that has a name outside the tree; a delete takes only the name.
TEST_F(CleanupCli, HardLinkedMatchesAreNotWipedAndDeleteTakesOnlyTheName) {
  fs::create_hard_link(Dir / "a.tmp", Scratch / "precious");
  const std::vector<std::uint8_t> before = test::ReadFile(Scratch / "precious");
  const auto wipe = Cli("--path " + Root() + " --mask '*.tmp' --mask '*.bak' --wipe --passes 1 --yes");
  EXPECT_EQ(wipe.Status, 1) << Err;
  EXPECT_NE(Err.find((Dir / "a.tmp").string() + ": has other names; not wiped"), std::string::npos) << Err;
  EXPECT_NE(Err.find("Wiped and deleted 1 file(s), 1 failed"), std::string::npos) << Err;
  EXPECT_TRUE(fs::exists(Dir / "a.tmp"));
  EXPECT_FALSE(fs::exists(Dir / "b.BAK"));
  EXPECT_EQ(test::ReadFile(Scratch / "precious"), before);
  EXPECT_EQ(Cli("--path " + Root() + " --mask '*.tmp' --delete --yes").Status, 0) << Err;
  EXPECT_FALSE(fs::exists(Dir / "a.tmp"));
  EXPECT_EQ(test::ReadFile(Scratch / "precious"), before);
}

// A folder that may not be changed: the file in it can be overwritten but not deleted. Root passes
// every permission check, so it runs in a user namespace of its own, where it does not.
TEST_F(CleanupCli, AWipeThatCannotDeleteSaysTheDataWasOverwritten) {
  std::string prefix;
  if (::geteuid() == 0) {
    if (RunCommand("unshare --user true 2>/dev/null").Status != 0) GTEST_SKIP() << "no user namespaces here";
    prefix = "unshare --user ";
  }
  ::chmod((Dir / "sub").c_str(), 0555);
  const auto r = Cli("--path " + Root() + " --mask '*.log' --wipe --passes 1 --yes", prefix);
  ::chmod((Dir / "sub").c_str(), 0755);
  EXPECT_EQ(r.Status, 1) << Err;
  EXPECT_NE(Err.find((Dir / "sub" / "c.log").string() + ": overwritten, but could not be deleted: Permission denied"),
            std::string::npos)
      << Err;
  EXPECT_NE(Err.find("Wiped and deleted 0 file(s), 1 overwritten but not deleted"), std::string::npos) << Err;
  EXPECT_EQ(test::ReadFile(Dir / "sub" / "c.log"), std::vector<std::uint8_t>(70000, 0x00));
}

// A FIFO that matches is listed but never opened for writing, which would wait for a reader.
TEST_F(CleanupCli, AFifoInTheTreeNeverHoldsTheWipeUp) {
  ASSERT_EQ(::mkfifo((Dir / "pipe.tmp").c_str(), 0666), 0);
  const auto r = Cli("--path " + Root() + " --mask '*.tmp' --wipe --passes 1 --yes", "timeout 60 ");
  EXPECT_EQ(r.Status, 1) << Err;
  EXPECT_NE(Err.find("pipe.tmp: not a regular file"), std::string::npos) << Err;
  EXPECT_EQ(fs::status(Dir / "pipe.tmp").type(), fs::file_type::fifo);
  EXPECT_FALSE(fs::exists(Dir / "a.tmp"));
}

// A helper thread swaps a folder of the tree for a link to a folder outside and back, as fast as it
// can, while deletes and wipes run: nothing outside changes.
TEST_F(CleanupCli, FoldersSwappedForLinksWhileItRunsLeaveTheOutsideAlone) {
  const fs::path sentinel = Scratch / "sentinel";
  fs::create_directories(sentinel);
  const std::vector<std::string> names = {"c.log", "d.log", "e.log", "f.log", "g.log", "h.log"};
  for (const std::string& name : names) test::WriteFile(sentinel / name, std::vector<std::uint8_t>(5000, 0x53));
  const auto state = [&] {
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const auto& e : fs::directory_iterator(sentinel)) files[e.path().string()] = test::ReadFile(e.path());
    return files;
  };
  const auto before = state();
  const fs::path sub = Dir / "sub", held = Dir / "held";
  int swaps = 0;
  for (int run = 0; run < 16; ++run) {
    for (const std::string& name : names) Put("sub/" + name, 5000);
    std::atomic<bool> done{false};
    std::thread swapper([&] {
      for (int i = 0; i < 1000000 && !done; ++i) {
        std::error_code ec;
        if (fs::is_symlink(sub, ec)) {
          fs::remove(sub, ec);
          fs::rename(held, sub, ec);
        } else {
          fs::rename(sub, held, ec);
          fs::create_directory_symlink(sentinel, sub, ec);
          ++swaps;
        }
      }
    });
    const auto r = Cli("--path " + Root() + " --mask '*.log' " + (run % 2 ? "--wipe --passes 1" : "--delete") + " --yes",
                       "timeout 60 ");
    done = true;
    swapper.join();
    std::error_code ec;
    if (fs::is_symlink(sub, ec)) {
      fs::remove(sub);
      fs::rename(held, sub);
    }
    EXPECT_NE(r.Status, 124) << Err;
    ASSERT_EQ(state(), before) << "run " << run << ": " << Err;
  }
  EXPECT_GT(swaps, 0);
}

}  // namespace
}  // namespace kestrine
