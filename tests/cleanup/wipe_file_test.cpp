#include "cleanup/wipe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "cleanup/disk_cleanup.h"
#include "cleanup/findfile/find_file.h"
#include "cleanup/random_generator.h"
#include "tests/support/test_support.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;
using Bytes = std::vector<std::uint8_t>;

// A stream in memory that records every write and can be told to fail.
class TFakeStream : public TWipeStream {
 public:
  explicit TFakeStream(std::int64_t Size) : Data(static_cast<std::size_t>(Size), 0x5A) {}
  std::error_code Size(std::int64_t& Bytes) override {
    Bytes = static_cast<std::int64_t>(Data.size());
    return {};
  }
  std::error_code Rewind() override {
    Position = 0;
    Chunks.emplace_back();
    return {};
  }
  std::error_code Write(const std::uint8_t* Src, std::size_t Count) override {
    if (++Writes == FailWrite) return std::make_error_code(std::errc::io_error);
    std::copy(Src, Src + Count, Data.begin() + static_cast<std::ptrdiff_t>(Position));
    Position += Count;
    Chunks.back().push_back(Count);
    return {};
  }
  std::error_code Flush() override {
    ++Flushes;
    return FailFlush ? std::make_error_code(std::errc::no_space_on_device) : std::error_code();
  }
  Bytes Data;
  std::size_t Position = 0;
  std::vector<std::vector<std::size_t>> Chunks;  // per pass
  int Writes = 0, FailWrite = 0, Flushes = 0;
  bool FailFlush = false;
};

TWipeBuffer RandomBuffer() {
  TWipeBuffer buffer;
  FillRandomBuffer(buffer);
  return buffer;
}

bool AllBytes(const Bytes& B, std::uint8_t Value) {
  return std::all_of(B.begin(), B.end(), [=](std::uint8_t b) { return b == Value; });
}

TEST(RandomGenerator, FollowsItsRuleAndFeedsTheRandomBuffer) {
  std::uint32_t state = RandomState();
  for (std::uint32_t range : {1024u, 65436u, 7u}) {
    state = NextRandomState(state);
    EXPECT_EQ(RandomBelow(range), static_cast<std::uint32_t>((std::uint64_t{state} * range) >> 32));
  }
  const TWipeBuffer buffer = RandomBuffer();
  for (std::size_t i = 0; i < 64; ++i) {
    state = NextRandomState(state);
    ASSERT_EQ(buffer[i], static_cast<std::uint8_t>((std::uint64_t{state} * 1024) >> 32)) << i;
  }
  EXPECT_EQ(NextRandomState(0), 1u);
}

TEST(WipeStream, ChunksStartAtAnOffsetThatChangesEveryPass) {
  TFakeStream stream(200000);
  int reported = 0;
  const TWipeResult result = WipeStream(stream, RandomBuffer(), 200, [&](int Done, int Total, bool&) {
    EXPECT_EQ(Done, ++reported);
    EXPECT_EQ(Total, 10);
  });
  EXPECT_TRUE(result.Wiped());
  ASSERT_EQ(stream.Chunks.size(), 10u);
  EXPECT_EQ(stream.Flushes, 10);
  for (std::size_t pass = 0; pass < stream.Chunks.size(); ++pass) {
    const auto& chunks = stream.Chunks[pass];
    SCOPED_TRACE(pass);
    EXPECT_GE(chunks.front(), 101u);
    EXPECT_LT(chunks.front(), kWipeBufferSize);  // the first offset is never 0 either
    for (std::size_t i = 1; i + 1 < chunks.size(); ++i) EXPECT_EQ(chunks[i], kWipeBufferSize);
    std::size_t total = 0;
    for (std::size_t c : chunks) total += c;
    EXPECT_EQ(total, 200000u);
    if (pass > 0) {
      EXPECT_NE(chunks.front(), stream.Chunks[pass - 1].front());
    }
  }
}

TEST(WipeStream, ClampsPassesAndHandlesTinyAndEmptyStreams) {
  EXPECT_EQ(ClampWipePasses(0), 1);
  EXPECT_EQ(ClampWipePasses(-3), 1);
  EXPECT_EQ(ClampWipePasses(10), 10);
  EXPECT_EQ(ClampWipePasses(200), 10);
  TFakeStream tiny(100);
  EXPECT_TRUE(WipeStream(tiny, RandomBuffer(), 0).Wiped());
  EXPECT_EQ(tiny.Chunks, (std::vector<std::vector<std::size_t>>{{100}}));
  EXPECT_TRUE(AllBytes(tiny.Data, 0x00));
  TFakeStream empty(0);
  int calls = 0;
  EXPECT_TRUE(WipeStream(empty, RandomBuffer(), 3, [&](int, int, bool&) { ++calls; }).Wiped());
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(empty.Flushes, 3);
  EXPECT_EQ(empty.Writes, 0);
}

// A cancel between writes stops inside the pass: what was written is flushed, the length is kept,
// and the result says how many whole passes there were.
TEST(WipeStream, CancelTakesEffectAtTheNextWrite) {
  TFakeStream stream(300000);
  std::vector<std::pair<int, std::int64_t>> seen;
  const TWipeResult result = WipeStream(stream, RandomBuffer(), 3, {},
                                        [&](int Pass, std::int64_t Written, std::int64_t Size, bool& Cancel) {
                                          EXPECT_EQ(Size, 300000);
                                          seen.emplace_back(Pass, Written);
                                          Cancel = Pass == 2 && Written >= 131072;
                                        });
  EXPECT_EQ(result.Status, TWipeStatus::Cancelled);
  EXPECT_EQ(result.PassesDone, 1);
  EXPECT_EQ(result.Passes, 3);
  EXPECT_EQ(result.Message, "cancelled after pass 1 of 3");
  EXPECT_EQ(stream.Flushes, 2);
  ASSERT_EQ(stream.Chunks.size(), 2u);
  // Reported before every write, the bytes of the pass growing; nothing written after the cancel.
  ASSERT_FALSE(seen.empty());
  for (std::size_t i = 1; i < seen.size(); ++i)
    EXPECT_TRUE(seen[i].first > seen[i - 1].first || seen[i].second > seen[i - 1].second) << i;
  EXPECT_EQ(static_cast<std::int64_t>(stream.Position), seen.back().second);
  EXPECT_LT(stream.Position, 300000u);
  ASSERT_EQ(stream.Data.size(), 300000u);
  const auto cut = stream.Data.begin() + static_cast<std::ptrdiff_t>(stream.Position);
  EXPECT_TRUE(std::all_of(stream.Data.begin(), cut, [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(std::all_of(cut, stream.Data.end(), [](std::uint8_t b) { return b == 0x00; }));
}

TEST(WipeStream, FailingWritesAndFlushesAreReported) {
  TFakeStream stream(200000);
  stream.FailWrite = 5;  // in the second pass
  int calls = 0;
  const TWipeResult failed = WipeStream(stream, RandomBuffer(), 3, [&](int, int, bool&) { ++calls; });
  EXPECT_EQ(failed.Status, TWipeStatus::WriteFailed);
  EXPECT_NE(failed.Message.find("write failed"), std::string::npos);
  EXPECT_EQ(calls, 1);
  TFakeStream unflushed(10);
  unflushed.FailFlush = true;
  EXPECT_EQ(WipeStream(unflushed, RandomBuffer(), 3).Status, TWipeStatus::WriteFailed);
  EXPECT_EQ(unflushed.Flushes, 1);
}

class WipeFileTest : public ::testing::Test {
 protected:
  std::string Put(const std::string& Name, std::size_t Size) {
    const std::string path = (Dir / Name).string();
    Bytes bytes(Size);
    for (std::size_t i = 0; i < Size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    test::WriteFile(path, bytes);
    return path;
  }
  TTempDir Dir;
};

TEST_F(WipeFileTest, ThreePassesWriteZerosOnesThenTheRotatedRandomBuffer) {
  const std::string path = Put("f", 200000);
  std::vector<Bytes> afterPass;
  const TWipeResult result = WipeFile(path, 4, [&](int, int, bool&) { afterPass.push_back(test::ReadFile(path)); });
  ASSERT_TRUE(result.Wiped()) << result.Message;
  ASSERT_EQ(afterPass.size(), 4u);
  for (const Bytes& b : afterPass) EXPECT_EQ(b.size(), 200000u);
  EXPECT_TRUE(AllBytes(afterPass[0], 0x00));
  EXPECT_TRUE(AllBytes(afterPass[1], 0xFF));
  // A random pass writes the buffer from its offset on and then whole buffers, so the file
  // repeats every 65,536 bytes; the next pass starts elsewhere in the same buffer.
  const Bytes& third = afterPass[2];
  EXPECT_FALSE(AllBytes(third, third[0]));
  EXPECT_TRUE(std::equal(third.begin(), third.end() - kWipeBufferSize, third.begin() + kWipeBufferSize));
  EXPECT_NE(afterPass[3], third);
  EXPECT_EQ(fs::file_size(path), 200000u);
}

TEST_F(WipeFileTest, CancelStopsAfterTheRunningPass) {
  const std::string path = Put("f", 1000);
  const TWipeResult result = WipeFile(path, 3, [](int Done, int, bool& Cancel) { Cancel = Done == 1; });
  EXPECT_EQ(result.Status, TWipeStatus::Cancelled);
  EXPECT_FALSE(result.Wiped());
  EXPECT_TRUE(AllBytes(test::ReadFile(path), 0x00));
}

TEST_F(WipeFileTest, MissingFilesFoldersAndLinksAreLeftAlone) {
  const std::string missing = (Dir / "missing").string();
  EXPECT_EQ(WipeFile(missing, 3).Status, TWipeStatus::Missing);
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_EQ(WipeFile(Dir.Path().string(), 3).Status, TWipeStatus::Missing);
  const std::string target = Put("target", 50);
  const Bytes before = test::ReadFile(target);
  fs::create_symlink(target, Dir / "link");
  EXPECT_EQ(WipeFile((Dir / "link").string(), 3).Status, TWipeStatus::Missing);
  EXPECT_EQ(test::ReadFile(target), before);
}

// A file this process may not write: read-only for an ordinary user; for root, whose permission
// checks pass, a running program's file, which nobody may open for writing.
class TUnwritableFile {
 public:
  explicit TUnwritableFile(const fs::path& Dir) : Path((Dir / "busy").string()) {
    if (::geteuid() != 0) {
      test::WriteFile(Path, Bytes(10, 1));
      ::chmod(Path.c_str(), 0444);
    } else {
      fs::copy_file("/bin/sleep", Path);
      FChild = ::fork();
      if (FChild == 0) {
        ::execl(Path.c_str(), "sleep", "30", static_cast<char*>(nullptr));
        ::_exit(127);
      }
      // Until the child has started the program, the file may still be opened for writing.
      for (int i = 0; i < 200 && Writable(); ++i) ::usleep(10000);
    }
  }
  ~TUnwritableFile() {
    if (FChild > 0) {
      ::kill(FChild, SIGKILL);
      ::waitpid(FChild, nullptr, 0);
    }
  }
  bool Writable() const {
    const int fd = ::open(Path.c_str(), O_RDWR);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
  }
  std::string Path;

 private:
  pid_t FChild = -1;
};

TEST_F(WipeFileTest, AFileThatCannotBeOpenedForWritingIsReportedUnchanged) {
  const TUnwritableFile file(Dir.Path());
  if (file.Writable()) GTEST_SKIP() << "no way to make an unwritable file here";
  const Bytes before = test::ReadFile(file.Path);
  const TWipeResult result = WipeFile(file.Path, 3);
  EXPECT_EQ(result.Status, TWipeStatus::OpenFailed);
  EXPECT_NE(result.Message.find("cannot open"), std::string::npos);
  EXPECT_EQ(test::ReadFile(file.Path), before);
  // The cleanup keeps a file it could not wipe.
  EXPECT_FALSE(WipeCleanupFile(file.Path, 3).Ok);
  EXPECT_TRUE(fs::exists(file.Path));
}

TEST_F(WipeFileTest, CleanupWipesAndDeletesOrReportsWhy) {
  const std::string path = Put("junk.tmp", 5000);
  EXPECT_TRUE(WipeCleanupFile(path, 1).Ok);
  EXPECT_FALSE(fs::exists(path));
  const TCleanupOutcome gone = DeleteCleanupFile(path);
  EXPECT_FALSE(gone.Ok);
  EXPECT_FALSE(gone.Error.empty());
}

// Targets go in as whole lines, so folders with ";" or blanks in their names are searched as named.
TEST_F(WipeFileTest, CleanupTargetsKeepOddFolderNamesWhole) {
  fs::create_directories(Dir / "a;b c");
  Put("a;b c/x.TMP", 1);
  Put("a;b c/y.bak", 1);
  Put("a;b c/z.txt", 1);
  TFindFile finder;
  SetCleanupTargets(finder.Criteria.Files, {(Dir / "a;b c").string()}, {"*.tmp;*.TMP", " *.bak", ""});
  std::vector<TCleanupMatch> found;
  finder.OnFileMatch = [&](TFindFile&, const std::string& Folder, const TSearchRec& Rec) {
    found.push_back(MakeCleanupMatch(Folder, Rec));
  };
  finder.StartSearch();
  ASSERT_EQ(found.size(), 2u);
  std::sort(found.begin(), found.end(), [](auto& A, auto& B) { return A.Name < B.Name; });
  EXPECT_EQ(found[0].Path(), (Dir / "a;b c/x.TMP").string());
  EXPECT_EQ(found[0].Type, ".TMP");
  EXPECT_EQ(found[0].Size, 1);
  EXPECT_EQ(found[1].Name, "y.bak");
}

// A list that leaves no mask searches for nothing: never for every file.
TEST_F(WipeFileTest, MaskListsThatNameNoFileLeaveNothingToSearchFor) {
  EXPECT_TRUE(CleanupNameMasks({}).empty());
  EXPECT_TRUE(CleanupNameMasks({"", " \t", ";;", "sub/*.log"}).empty());
  EXPECT_EQ(CleanupNameMasks({"*.tmp;*.TMP", "", " *.bak ", "a/*.x"}), (std::vector<std::string>{"*.tmp", "*.bak"}));
  Put("x.tmp", 1);
  TFindFile finder;
  SetCleanupTargets(finder.Criteria.Files, {Dir.Path().string()}, {";", "sub/*.log"});
  EXPECT_TRUE(finder.Criteria.Files.Included.empty());
  int found = 0;
  finder.OnFileMatch = [&](TFindFile&, const std::string&, const TSearchRec&) { ++found; };
  finder.StartSearch();
  EXPECT_EQ(found, 0);
}

// A file with another name keeps its data and both names under a wipe; a delete takes only the
// name it was given.
TEST_F(WipeFileTest, FilesWithOtherNamesAreNeverOverwritten) {
  const std::string path = Put("junk.tmp", 3000);
  const Bytes before = test::ReadFile(path);
  fs::create_directories(Dir / "outside");
  fs::create_hard_link(path, Dir / "outside" / "precious");
  const TWipeResult result = WipeFile(path, 3);
  EXPECT_EQ(result.Status, TWipeStatus::HasOtherNames);
  EXPECT_EQ(result.Message, "has other names; not wiped");
  const TCleanupOutcome wiped = WipeCleanupFile(path, 3);
  EXPECT_FALSE(wiped.Ok);
  EXPECT_FALSE(wiped.Overwritten);
  EXPECT_EQ(wiped.Error, "has other names; not wiped");
  EXPECT_EQ(test::ReadFile(path), before);
  EXPECT_TRUE(DeleteCleanupFile(path).Ok);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(test::ReadFile(Dir / "outside" / "precious"), before);
}

// What a cleanup listed, and what it acts on after the listing: the same files reached from the
// same folder, or nothing.
class ListedCleanup : public WipeFileTest {
 protected:
  void SetUp() override {
    fs::create_directories(Dir / "tree" / "sub");
    fs::create_directories(Dir / "outside");
    for (const char* name : {"tree/a.tmp", "tree/sub/b.tmp", "tree/sub/c.tmp", "outside/b.tmp", "outside/c.tmp"})
      Put(name, 2000);
    Outside = State(Dir / "outside");
    const TCleanupRoots roots({(Dir / "tree").string()});
    TFindFile finder;
    SetCleanupTargets(finder.Criteria.Files, {(Dir / "tree").string()}, {"*.tmp"});
    finder.OnFileMatch = [&](TFindFile&, const std::string& Folder, const TSearchRec& Rec) {
      Matches[Rec.Name] = MakeCleanupMatch(Folder, Rec);
      roots.Attach(Matches[Rec.Name]);
    };
    finder.StartSearch();
    ASSERT_EQ(Matches.size(), 3u);
  }
  std::map<std::string, Bytes> State(const fs::path& Folder) {
    std::map<std::string, Bytes> state;
    for (const auto& e : fs::recursive_directory_iterator(Folder)) state[e.path().string()] = test::ReadFile(e.path());
    return state;
  }
  void SwapSubForLinkOutside() {
    fs::rename(Dir / "tree" / "sub", Dir / "tree" / "moved");
    fs::create_directory_symlink(Dir / "outside", Dir / "tree" / "sub");
  }
  std::map<std::string, Bytes> Outside;
  std::map<std::string, TCleanupMatch> Matches;
};

TEST_F(ListedCleanup, AListedFolderSwappedForALinkIsNotFollowed) {
  const TCleanupMatch& b = Matches["b.tmp"];
  EXPECT_EQ(b.Root, (Dir / "tree").string() + "/");
  EXPECT_TRUE(b.Identity.Known());
  SwapSubForLinkOutside();
  const TCleanupOutcome wiped = WipeCleanupFile(b, 3);
  const TCleanupOutcome deleted = DeleteCleanupFile(Matches["c.tmp"]);
  for (const TCleanupOutcome& o : {wiped, deleted}) {
    EXPECT_FALSE(o.Ok);
    EXPECT_FALSE(o.Overwritten);
    EXPECT_NE(o.Error.find("is no longer a folder (a link took its place); left alone"), std::string::npos) << o.Error;
  }
  EXPECT_EQ(State(Dir / "outside"), Outside);
  EXPECT_TRUE(fs::exists(Dir / "tree" / "moved" / "b.tmp"));
  // What is still as listed is acted on.
  EXPECT_TRUE(WipeCleanupFile(Matches["a.tmp"], 1).Ok);
  EXPECT_FALSE(fs::exists(Dir / "tree" / "a.tmp"));
}

TEST_F(ListedCleanup, ANameThatNowHoldsAnotherFileOrARootThatMovedIsLeftAlone) {
  // Another file under the listed name, in the listed folder.
  fs::rename(Dir / "tree" / "sub" / "b.tmp", Dir / "tree" / "sub" / "old");
  Put("tree/sub/b.tmp", 10);
  const Bytes other = test::ReadFile(Dir / "tree" / "sub" / "b.tmp");
  for (const TCleanupOutcome& o : {WipeCleanupFile(Matches["b.tmp"], 3), DeleteCleanupFile(Matches["b.tmp"])}) {
    EXPECT_FALSE(o.Ok);
    EXPECT_EQ(o.Error, "is no longer the file that was listed; left alone");
  }
  EXPECT_EQ(test::ReadFile(Dir / "tree" / "sub" / "b.tmp"), other);
  // The searched folder itself swapped for a link to one of the same shape.
  fs::rename(Dir / "tree", Dir / "tree.old");
  fs::create_directories(Dir / "tree");
  fs::create_directory_symlink(Dir / "outside", Dir / "tree" / "sub");
  const TCleanupOutcome moved = DeleteCleanupFile(Matches["c.tmp"]);
  EXPECT_FALSE(moved.Ok);
  EXPECT_NE(moved.Error.find("is no longer the one searched"), std::string::npos) << moved.Error;
  EXPECT_EQ(State(Dir / "outside"), Outside);
}

}  // namespace
}  // namespace kestrine
