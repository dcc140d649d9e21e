// kestrine-cli mount, really mounted over the fixture volumes: what find lists, what reads give,
// that every change is refused, and how it ends.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/test_support.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::RunCommand;
using test::ShellQuote;

std::string Cli() {
  const char* cli = std::getenv("KESTRINE_CLI");
  return cli ? cli : "kestrine-cli";
}

// Why FUSE cannot be used here; empty when it can.
std::string FuseMissing() {
  if (::access("/dev/fuse", R_OK | W_OK) != 0) return "/dev/fuse cannot be opened here";
  if (RunCommand("command -v fusermount3 >/dev/null").Status != 0) return "fusermount3 (fuse3) is not installed";
  if (::geteuid() != 0) return "mounting needs root here";
  return {};
}

bool Mounted(const fs::path& Folder) {
  std::ifstream mounts("/proc/self/mounts");
  for (std::string device, point, rest; mounts >> device >> point && std::getline(mounts, rest);)
    if (point == Folder.string()) return true;
  return false;
}

// kestrine-cli mount running in the background while it lives; unmounted at the end if still mounted.
class TMountProcess {
 public:
  TMountProcess(const fs::path& Image, const fs::path& Folder, const fs::path& Output) : FFolder(Folder) {
    FPid = ::fork();
    if (FPid == 0) {
      const int out = ::open(Output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, STDOUT_FILENO);
      ::dup2(out, STDERR_FILENO);
      ::execl(Cli().c_str(), "kestrine-cli", "mount", Image.c_str(), Folder.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 300 && !Mounted(Folder) && !Ended(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~TMountProcess() {
    if (Mounted(FFolder)) RunCommand("fusermount3 -u " + ShellQuote(FFolder.string()));
    Wait();
  }
  bool Ended() {
    if (FStatus >= 0) return true;
    int status = 0;
    if (::waitpid(FPid, &status, WNOHANG) != FPid) return false;
    FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
  }
  int Wait() {
    for (int i = 0; i < 600 && !Ended(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return FStatus;
  }
  void Signal(int Number) { ::kill(FPid, Number); }

 private:
  fs::path FFolder;
  pid_t FPid = -1;
  int FStatus = -1;
};

class MountCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new test::TTempDir;
    for (const char* name : {"fat12", "fat16", "fat32", "exfat", "ntfs"})
      ASSERT_FALSE(test::UnpackImage(test::TestDataDir() / (std::string(name) + ".img.xz"), Dir->Path()).empty());
    test::WriteFile(Dir->Path() / "zeros.img", std::vector<std::uint8_t>(1 << 20));
  }
  static void TearDownTestSuite() { delete Dir; }
  static fs::path Image(const std::string& Name) { return Dir->Path() / (Name + ".img"); }
  static std::string Run(const std::string& Args) {
    return "KESTRINE_DRIVES= " + ShellQuote(Cli()) + " " + Args;
  }

  // What scan lists of the volume: every file's path, and path:stream for its named streams.
  static std::set<std::string> ScanPaths(const fs::path& Image) {
    const auto scan = RunCommand(Run("scan " + ShellQuote(Image.string()) + " --format json"));
    EXPECT_EQ(scan.Status, 0);
    std::set<std::string> paths;
    for (const json& row : json::parse(scan.Output)) {
      paths.insert(row["path"].get<std::string>());
      if (row.contains("streams"))
        for (const json& s : row["streams"]) paths.insert(row["path"].get<std::string>() + ":" + s["name"].get<std::string>());
    }
    return paths;
  }

  static test::TTempDir* Dir;
};
test::TTempDir* MountCli::Dir = nullptr;

void ExpectRefused(int Result, const std::string& What) {
  EXPECT_EQ(Result, -1) << What;
  EXPECT_EQ(errno, EROFS) << What;
}

TEST_F(MountCli, EveryVolumeListsAsScanAndReadsAsCatAndRefusesEveryChange) {
  if (const std::string why = FuseMissing(); !why.empty()) GTEST_SKIP() << "cannot mount: " << why;
  std::mt19937 random(11);
  for (const char* name : {"fat12", "fat16", "fat32", "exfat", "ntfs"}) {
    SCOPED_TRACE(name);
    const fs::path mount = Dir->Path() / (std::string("mnt-") + name);
    fs::create_directories(mount);
    const std::set<std::string> listed = ScanPaths(Image(name));
    TMountProcess process(Image(name), mount, Dir->Path() / "mount.out");
    ASSERT_TRUE(Mounted(mount)) << test::ReadFile(Dir->Path() / "mount.out").size() << " bytes said";

    const auto found = RunCommand("cd " + ShellQuote(mount.string()) + " && find . -type f | cut -c3-");
    std::set<std::string> shown;
    std::istringstream lines(found.Output);
    for (std::string line; std::getline(lines, line);) shown.insert(line);
    EXPECT_EQ(shown, listed);

    for (const std::string& path : listed) {
      SCOPED_TRACE(path);
      const fs::path file = mount / path;
      const std::string quoted = ShellQuote(Image(name).string()) + " " + ShellQuote(path);
      const auto cat = RunCommand(Run("cat " + quoted));
      EXPECT_EQ(RunCommand("sha256sum < " + ShellQuote(file.string())).Output,
                RunCommand(Run("cat " + quoted) + " | sha256sum").Output);
      const int fd = ::open(file.c_str(), O_RDONLY);
      ASSERT_GE(fd, 0);
      for (int i = 0; i < 8 && !cat.Output.empty(); ++i) {
        const std::size_t at = random() % cat.Output.size();
        std::string piece(4096, '\0');
        const ssize_t got = ::pread(fd, piece.data(), piece.size(), static_cast<off_t>(at));
        ASSERT_EQ(got, static_cast<ssize_t>(std::min<std::size_t>(4096, cat.Output.size() - at)));
        EXPECT_EQ(piece.substr(0, static_cast<std::size_t>(got)), cat.Output.substr(at, static_cast<std::size_t>(got)));
      }
      ::close(fd);
    }

    const fs::path some = mount / *listed.begin();
    ExpectRefused(::open(some.c_str(), O_WRONLY), "open for writing");
    ExpectRefused(::open((mount / "new").c_str(), O_WRONLY | O_CREAT, 0644), "create");
    ExpectRefused(::mkdir((mount / "folder").c_str(), 0755), "mkdir");
    ExpectRefused(::rename(some.c_str(), (mount / "renamed").c_str()), "rename");
    ExpectRefused(::unlink(some.c_str()), "unlink");
    ExpectRefused(::chmod(some.c_str(), 0644), "chmod");
    ExpectRefused(::truncate(some.c_str(), 0), "truncate");
    ExpectRefused(::setxattr(some.c_str(), "user.x", "y", 1, 0), "setxattr");

    // fusermount3 -u ends it for the first volumes, Ctrl-C for the last.
    if (std::string(name) == "ntfs") {
      char condition[8] = {};
      EXPECT_EQ(::getxattr((mount / "Streams/deleted streams.txt").c_str(), "user.kestrine.condition", condition, 8), 3);
      process.Signal(SIGINT);
    } else {
      EXPECT_EQ(RunCommand("fusermount3 -u " + ShellQuote(mount.string())).Status, 0);
    }
    EXPECT_EQ(process.Wait(), 0);
    EXPECT_FALSE(Mounted(mount));
  }
}

TEST_F(MountCli, AMountThatCannotBeMadeSaysWhyInOneLineAndExitsWith1) {
  const fs::path full = Dir->Path() / "full";
  fs::create_directories(full);
  test::WriteFile(full / "kept.txt", {'k'});
  struct TCase {
    std::string Image, Folder, Says;
  };
  const std::vector<TCase> cases = {
      {Image("fat12").string(), full.string(), full.string() + ": not empty\n"},
      {Image("fat12").string(), (Dir->Path() / "missing").string(), (Dir->Path() / "missing").string() + ": no such folder\n"},
      {Image("fat12").string(), (full / "kept.txt").string(), (full / "kept.txt").string() + ": not a folder\n"},
      {Image("zeros").string(), (Dir->Path() / "empty").string(), Image("zeros").string() + ": no FAT, exFAT or NTFS file system to scan (--deep looks at its bytes)\n"},
  };
  fs::create_directories(Dir->Path() / "empty");
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Folder);
    const auto result = RunCommand(Run("mount " + ShellQuote(c.Image) + " " + ShellQuote(c.Folder)) + " 2>&1");
    EXPECT_EQ(result.Status, 1);
    EXPECT_EQ(result.Output, "kestrine-cli: " + c.Says);
    EXPECT_FALSE(Mounted(c.Folder));
  }
  EXPECT_EQ(test::ReadFile(full / "kept.txt"), std::vector<std::uint8_t>{'k'});
}

}  // namespace
}  // namespace kestrine
