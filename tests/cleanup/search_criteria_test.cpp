#include "cleanup/findfile/search_criteria.h"

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include <gtest/gtest.h>

#include "cleanup/findfile/phrase_search.h"
#include "cleanup/findfile/target_search.h"
#include "tests/support/test_support.h"

namespace kestrine {
namespace {

using test::TTempDir;

TFileTime LocalFileTime(int Year, int Month, int Day, int Hour, int Minute, int Second) {
  std::tm tm{};
  tm.tm_year = Year - 1900;
  tm.tm_mon = Month - 1;
  tm.tm_mday = Day;
  tm.tm_hour = Hour;
  tm.tm_min = Minute;
  tm.tm_sec = Second;
  tm.tm_isdst = -1;
  return UnixToFileTime(std::mktime(&tm));
}

TDateTime DateValue(int Year, int Month, int Day) {
  std::tm tm{};
  tm.tm_year = Year - 1900;
  tm.tm_mon = Month - 1;
  tm.tm_mday = Day;
  return static_cast<double>(::timegm(&tm)) / 86400.0 + 25569.0;
}

TDateTime TimeValue(int Hour, int Minute, int Second) { return (Hour * 3600.0 + Minute * 60 + Second) / 86400.0; }

TEST(AttributeCriteria, DefaultsAcceptFilesOfAnyOtherBitsButNoFolders) {
  const TAttributeCriteria criteria;
  EXPECT_EQ(criteria.AttrMask(), 0x27u);
  EXPECT_TRUE(criteria.Matches(SearchAttr::Archive));
  EXPECT_TRUE(criteria.Matches(SearchAttr::Archive | SearchAttr::ReadOnly | SearchAttr::Hidden));
  EXPECT_TRUE(criteria.Matches(SearchAttr::ReparsePoint | SearchAttr::Compressed));  // outside 0x37
  EXPECT_FALSE(criteria.Matches(SearchAttr::Directory));
  TAttributeCriteria exact;
  exact.ExactMatch = true;
  EXPECT_TRUE(exact.Matches(0x27 | SearchAttr::Temporary));
  EXPECT_FALSE(exact.Matches(0x23));
  EXPECT_FALSE(exact.Matches(0x37));
  exact.SetAttributes({ffDirectory, ffHidden});
  EXPECT_EQ(exact.AttrMask(), 0x12u);
  EXPECT_EQ(exact.Attributes(), (TFileAttributes{ffHidden, ffDirectory}));
}

TEST(AttributeCriteriaEx, StatusesMoveBetweenTheMasks) {
  TAttributeCriteriaEx criteria;
  EXPECT_TRUE(criteria.Matches(0xFFFFFFFF));
  criteria.SetStatus(TAttributeCriteriaEx::Hidden, fsSet);
  criteria.SetStatus(TAttributeCriteriaEx::ReparsePoint, fsUnset);
  EXPECT_TRUE(criteria.Matches(SearchAttr::Hidden | SearchAttr::Archive));
  EXPECT_FALSE(criteria.Matches(SearchAttr::Archive));
  EXPECT_FALSE(criteria.Matches(SearchAttr::Hidden | SearchAttr::ReparsePoint));
  criteria.SetStatus(TAttributeCriteriaEx::Hidden, fsUnset);
  EXPECT_EQ(criteria.Status(TAttributeCriteriaEx::Hidden), fsUnset);
  EXPECT_EQ(criteria.SetMask(), 0u);
  EXPECT_EQ(criteria.UnsetMask(), SearchAttr::Hidden | SearchAttr::ReparsePoint);
  criteria.SetStatus(TAttributeCriteriaEx::Hidden, fsIgnore);
  EXPECT_EQ(criteria.Status(TAttributeCriteriaEx::Hidden), fsIgnore);
  EXPECT_EQ(criteria.Status(TAttributeCriteriaEx::SparseFile), fsIgnore);
}

TEST(SizeCriteria, BoundsUseTheFullSize) {
  TSearchCriteria criteria;
  criteria.Size.Min = criteria.Size.Max = 100;
  EXPECT_TRUE(criteria.Size.Matches(100));
  EXPECT_FALSE(criteria.Size.Matches(99));
  EXPECT_FALSE(criteria.Size.Matches(101));
  criteria.Size = {};
  criteria.Size.Min = (std::int64_t{1} << 32) + 5;
  const TTargetSearch search(criteria);
  TSearchRec rec;
  rec.Name = "big";
  rec.Attr = SearchAttr::Archive;
  rec.FindData.nFileSizeHigh = 1;
  rec.FindData.nFileSizeLow = 5;
  EXPECT_TRUE(search.Matches("/x/", rec));
  rec.FindData.nFileSizeLow = 4;
  EXPECT_FALSE(search.Matches("/x/", rec));
}

TEST(DateTimeCriteria, PureDatesAndPureTimesCompareTheirPartOnly) {
  const TFileTime lateOnDay = LocalFileTime(2024, 3, 15, 23, 59, 0);
  const TFileTime nextDay = LocalFileTime(2024, 3, 16, 0, 0, 1);
  TDateTimeCriteria criteria;
  criteria.ModifiedBefore = DateValue(2024, 3, 15);  // the whole of that day
  EXPECT_TRUE(criteria.Matches(0, lateOnDay, 0));
  EXPECT_FALSE(criteria.Matches(0, nextDay, 0));
  criteria.ModifiedBefore = DateValue(2024, 3, 15) + TimeValue(23, 59, 0);
  EXPECT_TRUE(criteria.Matches(0, lateOnDay, 0));
  EXPECT_FALSE(criteria.Matches(0, LocalFileTime(2024, 3, 15, 23, 59, 1), 0));

  TDateTimeCriteria afterTime;
  afterTime.CreatedAfter = TimeValue(12, 0, 0);  // any day, from noon on
  EXPECT_TRUE(afterTime.Matches(LocalFileTime(1999, 1, 2, 12, 0, 0), 0, 0));
  EXPECT_TRUE(afterTime.Matches(LocalFileTime(2030, 7, 9, 18, 30, 0), 0, 0));
  EXPECT_FALSE(afterTime.Matches(LocalFileTime(2030, 7, 9, 11, 59, 59), 0, 0));

  TDateTimeCriteria between;
  between.AccessedAfter = DateValue(2024, 3, 10);
  between.AccessedBefore = DateValue(2024, 3, 15);
  EXPECT_TRUE(between.Matches(0, 0, LocalFileTime(2024, 3, 10, 0, 0, 0)));
  EXPECT_FALSE(between.Matches(0, 0, LocalFileTime(2024, 3, 9, 23, 59, 59)));
  // Unset pairs do not look at their time at all.
  EXPECT_TRUE(between.Matches(1, 1, LocalFileTime(2024, 3, 12, 8, 0, 0)));
}

TEST(ContentCriteria, DerivedFieldsFollowTheSetters) {
  TContentCriteria content;
  content.SetPhrase("HeLLo \xC9t\xC9");
  EXPECT_EQ(content.SearchPhrase(), "hello \xE9t\xE9");
  EXPECT_EQ(content.PhraseLength(), 9u);
  EXPECT_EQ(&content.CaseTable(), &LowerCaseTable);
  const TContentCriteria copy = content;
  content.SetIgnoreCase(false);
  EXPECT_EQ(content.SearchPhrase(), "HeLLo \xC9t\xC9");
  EXPECT_EQ(&content.CaseTable(), &IdentityCaseTable);
  EXPECT_EQ(copy.SearchPhrase(), "hello \xE9t\xE9");
  EXPECT_TRUE(TContentCriteria().Matches("/no/such/file"));  // no phrase: nothing is opened
}

class PhraseSearch : public ::testing::Test {
 protected:
  std::string Put(const std::string& Name, const std::string& Bytes) {
    const std::string path = (Dir / Name).string();
    test::WriteFile(path, std::vector<std::uint8_t>(Bytes.begin(), Bytes.end()));
    return path;
  }
  static bool Contains(const std::string& Path, const std::string& Phrase, bool WholeWord, bool IgnoreCase = true) {
    TContentCriteria content;
    content.SetIgnoreCase(IgnoreCase);
    content.SetPhrase(Phrase);
    content.WholeWord = WholeWord;
    return content.Matches(Path);
  }
  TTempDir Dir;
};

TEST_F(PhraseSearch, FindsAPhraseAcrossTheBufferBoundary) {
  std::string bytes(100000, 'x');
  bytes.replace(kPhraseBufferSize - 3, 6, "NEEDLE");
  const std::string path = Put("big", bytes);
  EXPECT_TRUE(Contains(path, "needle", false));
  EXPECT_FALSE(Contains(path, "needle", false, false));
  EXPECT_TRUE(Contains(path, "NEEDLE", false, false));
  EXPECT_FALSE(Contains(path, "needle", true));  // letters on both sides
  bytes[kPhraseBufferSize - 4] = ' ';
  bytes[kPhraseBufferSize + 3] = '.';
  EXPECT_TRUE(Contains(Put("word", bytes), "needle", true));
}

TEST_F(PhraseSearch, WholeWordAtTheEdgesOfFileAndBuffer) {
  EXPECT_TRUE(Contains(Put("start", "word, then more"), "word", true));
  EXPECT_TRUE(Contains(Put("end", "more, then word"), "WORD", true));
  EXPECT_FALSE(Contains(Put("inside", "swordfish"), "word", true));
  EXPECT_TRUE(Contains(Put("second", "swords word"), "word", true));
  EXPECT_TRUE(Contains(Put("latin1", "caf\xC9 au lait"), "caf\xE9", true));
  EXPECT_FALSE(Contains(Put("latin1b", "caf\xC9s"), "caf\xE9", true));  // É is a letter, not a delimiter
  // A word that ends exactly where the first block ends waits for the next block's first byte.
  std::string bytes(kPhraseBufferSize + 10, ' ');
  bytes.replace(kPhraseBufferSize - 4, 4, "word");
  bytes[kPhraseBufferSize] = 's';
  EXPECT_FALSE(Contains(Put("edge", bytes), "word", true));
  bytes[kPhraseBufferSize] = '!';
  EXPECT_TRUE(Contains(Put("edge2", bytes), "word", true));
}

TEST_F(PhraseSearch, ShortMissingAndSpecialFilesDoNotMatch) {
  EXPECT_FALSE(Contains(Put("short", "abc"), "abcd", false));
  EXPECT_FALSE(Contains((Dir / "missing").string(), "a", false));
  const std::string fifo = (Dir / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(Contains(fifo, "a", false));  // must not wait for a writer
  const std::string target = Put("target", "secret");
  std::filesystem::create_symlink(target, Dir / "link");
  EXPECT_FALSE(Contains((Dir / "link").string(), "secret", false));
}

TEST(TargetSearch, APhraseKeepsFoldersOut) {
  TSearchCriteria criteria;
  criteria.Attribute.SetAttributes({ffArchive, ffDirectory});
  criteria.Content.SetPhrase("x");
  const TTargetSearch search(criteria);
  EXPECT_FALSE(search.Attribute.Attributes().Contains(ffDirectory));
  EXPECT_TRUE(criteria.Attribute.Attributes().Contains(ffDirectory));  // the criteria stay as they were
  TSearchRec folder;
  folder.Name = "dir";
  folder.Attr = SearchAttr::Directory;
  EXPECT_FALSE(search.Matches("/", folder));
}

}  // namespace
}  // namespace kestrine
