// Acting on listed matches row by row, and carrying a search's reports to the thread that shows them.

#include "cleanup/cleanup_results.h"

#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "cleanup/cleanup_search_feed.h"
#include "tests/support/test_support.h"

namespace kestrine {
namespace {

TCleanupRow Row(const std::string& Name, bool Checked, const std::string& Folder = "/d/") {
  TCleanupRow row;
  row.Match.Name = Name;
  row.Match.Folder = Folder;
  row.Checked = Checked;
  return row;
}

// Records the files acted on; those named in Fail fail.
struct TRecorder {
  std::vector<std::string> Acted;
  std::vector<std::string> Fail;
  TCleanupAction Action() {
    return [this](const TCleanupMatch& M) {
      Acted.push_back(M.Name);
      for (const std::string& f : Fail)
        if (f == M.Name) return TCleanupOutcome{false, false, "in use"};
      return TCleanupOutcome{};
    };
  }
};

TEST(CleanupRows, CheckedRowsAreTakenFromTheBottomUpAndEachFileOnce) {
  std::vector<TCleanupRow> rows = {Row("a", true), Row("b", false), Row("c", true), Row("a", true),
                                   Row("d", true), Row("c", true, "/other/")};
  EXPECT_EQ(CountCheckedFiles(rows), 4u);
  TRecorder rec;
  rec.Fail = {"d"};
  const TCleanupActionReport report = ActOnCheckedRows(rows, rec.Action());
  // The lower "a" row goes first; the upper one shares its outcome. "c" in another folder is another file.
  EXPECT_EQ(rec.Acted, (std::vector<std::string>{"c", "d", "a", "c"}));
  EXPECT_EQ(report.Done, 3u);
  EXPECT_EQ(report.Finished, (std::vector<std::size_t>{5, 3, 2, 0}));
  ASSERT_EQ(report.Failures.size(), 1u);
  EXPECT_EQ(report.Failures[0].Path, "/d/d");
  EXPECT_EQ(report.Failures[0].Reason, "in use");
  EXPECT_EQ(rows[4].Problem, "in use");
  EXPECT_TRUE(rows[1].Problem.empty());

  EraseRows(rows, report.Finished);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Match.Name, "b");
  EXPECT_EQ(rows[1].Match.Name, "d");

  // A failed file shares its outcome with its other row; a later success clears the problem.
  std::vector<TCleanupRow> twice = {Row("x", true), Row("x", true)};
  rec.Fail = {"x"};
  const TCleanupActionReport failed = ActOnCheckedRows(twice, rec.Action());
  EXPECT_EQ(failed.Failures.size(), 1u);
  EXPECT_TRUE(failed.Finished.empty());
  EXPECT_EQ(twice[0].Problem, "in use");
  rec.Fail.clear();
  ActOnRow(twice, 0, rec.Action());
  EXPECT_TRUE(twice[0].Problem.empty());
  EXPECT_EQ(twice[1].Problem, "in use");
}

TEST(CleanupRows, OneRowIsActedOnWhetherCheckedOrNot) {
  std::vector<TCleanupRow> rows = {Row("a", true), Row("b", false)};
  TRecorder rec;
  const TCleanupActionReport report = ActOnRow(rows, 1, rec.Action());
  EXPECT_EQ(rec.Acted, std::vector<std::string>{"b"});
  EXPECT_EQ(report.Finished, std::vector<std::size_t>{1});
  EXPECT_TRUE(ActOnRow(rows, 7, rec.Action()).Finished.empty());
  EXPECT_EQ(rec.Acted.size(), 1u);
}

// Cancels once the wipe is well into the second pass of the file named Cut.
class TCancellingWatch final : public TWipeWatch {
 public:
  explicit TCancellingWatch(std::string Cut) : FCut(std::move(Cut)) {}
  void Progress(const TWipeProgress& Where) override {
    Seen.push_back(Where);
    if (Where.Path == FCut && Where.Pass == 2 && Where.Written > 100000) FCancel = true;
  }
  bool CancelRequested() const override { return FCancel; }
  std::vector<TWipeProgress> Seen;

 private:
  std::string FCut;
  bool FCancel = false;
};

// Rows are wiped from the bottom up: "a" is wiped and deleted, "big" is cut off in its second pass and
// kept, "c" is never begun; big's other row shares its note.
TEST(CleanupRows, ACancelledWipeKeepsThePartlyOverwrittenFileAndBeginsNoOther) {
  test::TTempDir dir;
  const std::string folder = dir.Path().string() + "/";
  const std::vector<std::uint8_t> small(1000, 0x41), large(400000, 0x41);
  test::WriteFile(folder + "a.tmp", small);
  test::WriteFile(folder + "big.tmp", large);
  test::WriteFile(folder + "c.tmp", small);
  std::vector<TCleanupRow> rows;
  for (const char* name : {"big.tmp", "c.tmp", "big.tmp", "a.tmp"}) rows.push_back(Row(name, true, folder));
  TCancellingWatch watch(folder + "big.tmp");

  const TCleanupActionReport report = WipeCheckedRows(rows, 3, watch);
  EXPECT_FALSE(std::filesystem::exists(folder + "a.tmp"));
  EXPECT_EQ(report.Done, 1u);
  EXPECT_EQ(report.Finished, std::vector<std::size_t>{3});
  EXPECT_TRUE(report.Failures.empty());
  EXPECT_TRUE(report.Stopped);
  ASSERT_TRUE(report.Cancelled);
  EXPECT_EQ(report.Cancelled->Path, folder + "big.tmp");
  EXPECT_EQ(report.Cancelled->PassesDone, 1);
  EXPECT_EQ(report.Cancelled->Passes, 3);

  // Kept at its length: the second pass's 0xFF bytes, then the first pass's zeros.
  const std::vector<std::uint8_t> big = test::ReadFile(folder + "big.tmp");
  ASSERT_EQ(big.size(), large.size());
  EXPECT_EQ(big.front(), 0xFF);
  EXPECT_EQ(big.back(), 0x00);
  EXPECT_EQ(rows[2].Problem, "wipe cancelled after pass 1 of 3: kept, partly overwritten, not deleted");
  EXPECT_EQ(rows[0].Problem, rows[2].Problem);
  EXPECT_EQ(test::ReadFile(folder + "c.tmp"), small);
  EXPECT_TRUE(rows[1].Problem.empty());
  EXPECT_TRUE(rows[1].Checked);

  // Files counted once each; the third was never begun.
  ASSERT_FALSE(watch.Seen.empty());
  for (const TWipeProgress& at : watch.Seen) {
    EXPECT_EQ(at.Files, 3u);
    EXPECT_EQ(at.Passes, 3);
    EXPECT_LE(at.File, 2u);
  }
  EXPECT_EQ(watch.Seen.front().Path, folder + "a.tmp");
  EXPECT_EQ(watch.Seen.back().Size, 400000);
}

TEST(CleanupRows, FailureLinesStopAtTheirLimit) {
  std::vector<TCleanupFailure> failures;
  for (int i = 0; i < 4; ++i) failures.push_back({"/f" + std::to_string(i), "why"});
  EXPECT_EQ(FailureLines(failures, 10), "/f0: why\n/f1: why\n/f2: why\n/f3: why\n");
  EXPECT_EQ(FailureLines(failures, 2), "/f0: why\n/f1: why\n... and 2 more\n");
}

TEST(CleanupRows, ModifiedTimeIsLocalToTwoSeconds) {
  test::TScopedZone zone("UTC0");
  // 2024-03-05 12:34:57 UTC
  const auto local = CleanupLocalTime(UnixToFileTime(1709642097, 500'000'000));
  ASSERT_TRUE(local);
  EXPECT_EQ(local->tm_hour, 12);
  EXPECT_EQ(local->tm_min, 34);
  EXPECT_EQ(local->tm_sec, 56);
  test::TScopedZone east("XST-2");
  EXPECT_EQ(CleanupLocalTime(UnixToFileTime(1709642097))->tm_hour, 14);
}

TEST(CleanupSearchFeed, HandsOverEveryMatchInOrderWhileTheWriterRuns) {
  TCleanupSearchFeed feed;
  EXPECT_TRUE(feed.Take().Matches.empty());
  constexpr int kCount = 20000;
  std::thread writer([&] {
    for (int i = 0; i < kCount; ++i) {
      if (i % 100 == 0) feed.FolderChanged("/f" + std::to_string(i / 100) + "/");
      TCleanupMatch m;
      m.Name = std::to_string(i);
      feed.Matched(std::move(m));
    }
  });
  std::vector<std::string> seen;
  std::string lastFolder;
  while (seen.size() < static_cast<std::size_t>(kCount)) {
    TCleanupSearchFeed::TBatch batch = feed.Take();
    if (!batch.Folder.empty()) lastFolder = batch.Folder;
    for (TCleanupMatch& m : batch.Matches) seen.push_back(m.Name);
  }
  writer.join();
  for (int i = 0; i < kCount; ++i) ASSERT_EQ(seen[static_cast<std::size_t>(i)], std::to_string(i));
  EXPECT_EQ(lastFolder, "/f199/");
  EXPECT_TRUE(feed.Take().Folder.empty());
}

}  // namespace
}  // namespace kestrine
