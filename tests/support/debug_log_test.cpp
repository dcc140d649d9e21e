#include "support/debug_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "support/file_time.h"
#include "tests/support/test_support.h"

namespace kestrine {
namespace {

std::string Format(std::string_view Template, const std::vector<TLogArg>& Args) {
  std::string out;
  return FormatLogMessage(Template, Args, out) ? out : "<no line>";
}

std::vector<std::string> Lines(const std::filesystem::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

class DebugLog : public ::testing::Test {
 protected:
  void SetUp() override { SetLogFileName((Dir / "debug.log").string()); }
  void TearDown() override { SetLogFileName({}); }
  test::TTempDir Dir;
};

TEST(DebugLogFormat, PlaceholdersFollowTheirRules) {
  EXPECT_EQ(Format(LogMessages::BpbReadFailed, {std::string("FatScaner.Init"), std::uint64_t{420}}),
            "FatScaner.Init: unable to read BPB; Handle = 1A4");
  EXPECT_EQ(Format("%s: unable to read memory at address %p", {std::string("X"), static_cast<const void*>(nullptr)}),
            "X: unable to read memory at address 00000000");
  EXPECT_EQ(Format("%p", {std::uint64_t{0x1A4}}), "000001A4");
  EXPECT_EQ(Format("%d and %d", {std::int64_t{-12}, std::uint64_t{7}}), "-12 and 7");
  EXPECT_EQ(Format("Disk = %c; 100%%", {'e'}), "Disk = e; 100%");
}

TEST(DebugLogFormat, ArgumentsThatDoNotFitGiveNoLine) {
  EXPECT_EQ(Format("%s", {std::int64_t{1}}), "<no line>");
  EXPECT_EQ(Format("%d", {std::string("x")}), "<no line>");
  EXPECT_EQ(Format("%s %s", {std::string("x")}), "<no line>");
  EXPECT_EQ(Format("%s", {std::string("x"), std::string("y")}), "<no line>");
  EXPECT_EQ(Format("%q", {std::string("x")}), "<no line>");
  EXPECT_EQ(Format("trailing %", {}), "<no line>");
}

TEST(DebugLogFormat, TimeIsLeftOutAtExactMidnight) {
  std::tm midnight{};
  midnight.tm_year = 126;
  midnight.tm_mon = 11;
  midnight.tm_mday = 9;
  std::tm later = midnight;
  later.tm_sec = 1;
  const std::string date = FormatLocalDateTime(midnight, true);
  EXPECT_EQ(date.find(' '), std::string::npos);
  EXPECT_EQ(FormatLocalDateTime(later, true).rfind(date + " ", 0), 0u);
  EXPECT_NE(FormatLocalDateTime(midnight, false), date);  // a fraction past midnight is not midnight
}

TEST_F(DebugLog, FileAppearsWithTheFirstLineWhichIsPrefixedAndEndsInCrLf) {
  EXPECT_FALSE(std::filesystem::exists(Dir / "debug.log"));
  WriteLog(LogMessages::DiskObjectFailed, OperationNames::DiskListFillDiskListItems, 'd');
  WriteLog("%s", 12);  // does not fit: nothing written
  const auto bytes = test::ReadFile(Dir / "debug.log");
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_TRUE(std::regex_match(text, std::regex(R"(\[[^\]]+\] DiskList\.FillDiskListItems: unable to create )"
                                                R"(DiskObject; Disk = d\r\n)")))
      << text;
}

TEST_F(DebugLog, UnwritableFolderLosesTheLineQuietly) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  const auto ro = Dir / "ro";
  std::filesystem::create_directory(ro);
  ::chmod(ro.c_str(), 0555);
  SetLogFileName((ro / "debug.log").string());
  WriteLog("%s: x", std::string("Op"));
  EXPECT_FALSE(std::filesystem::exists(ro / "debug.log"));
}

TEST_F(DebugLog, UnopenableLogLosesTheLineQuietly) {
  SetLogFileName((Dir / "no" / "such" / "debug.log").string());
  WriteLog("%s: x", std::string("Op"));
  EXPECT_FALSE(std::filesystem::exists(Dir / "no"));
  // A log path taken by a folder cannot be opened, even by root.
  std::filesystem::create_directory(Dir / "taken");
  SetLogFileName((Dir / "taken").string());
  WriteLog("%s: x", std::string("Op"));
  EXPECT_TRUE(std::filesystem::is_directory(Dir / "taken"));
}

TEST_F(DebugLog, ConcurrentWritersLoseNoLineAndNeverInterleave) {
  constexpr int kThreads = 8, kLines = 400;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) WriteLog("%s: writer %d line %d", std::string("Test.Op"), t, i);
    });
  for (auto& w : writers) w.join();
  const auto lines = Lines(Dir / "debug.log");
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  const std::regex shape(R"(\[[^\]]+\] Test\.Op: writer (\d) line (\d+)\r)");
  for (const auto& line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
    const int t = std::stoi(m[1]);
    EXPECT_EQ(std::stoi(m[2]), next[t]++);  // each writer's lines in its own order
  }
}

TEST_F(DebugLog, FailedAssertionWritesItsLineAndExecutionGoesOn) {
  bool after = false;
  KESTRINE_ASSERT(1 + 1 == 3, "arithmetic");
  after = true;
  EXPECT_TRUE(after);
  const auto lines = Lines(Dir / "debug.log");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\[[^\]]+\] --- Assert Error --- Message: "arithmetic", )"
                                                    R"(ErrorAddr: [0-9A-F]{8,}, LineNumber: \d+, FileName: ".*debug_log_test\.cpp"\r)")))
      << lines[0];
}

TEST_F(DebugLog, SessionRemovesTheLogOfAnEarlierRun) {
  const auto beside = Dir / "app";
  std::filesystem::create_directory(beside);
  EXPECT_EQ(ChooseLogPath(beside.string(), (Dir / "state").string()), (beside / "debug.log").string());
  EXPECT_EQ(ChooseLogPath("", (Dir / "state").string()), (Dir / "state" / "debug.log").string());
  EXPECT_TRUE(std::filesystem::is_directory(Dir / "state"));

  // The session takes the test binary's own folder; leave a log there and watch it go.
  const auto exeDir = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  if (::access(exeDir.c_str(), W_OK) != 0) GTEST_SKIP();
  std::ofstream(exeDir / "debug.log") << "old\r\n";
  {
    TDebugLogSession session;
    EXPECT_EQ(LogFileName(), (exeDir / "debug.log").string());
    EXPECT_FALSE(std::filesystem::exists(exeDir / "debug.log"));
  }
  EXPECT_EQ(LogFileName(), "");
}

}  // namespace
}  // namespace kestrine
