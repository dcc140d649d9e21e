#include "filter/filter_builder.h"

#include <gtest/gtest.h>

#include "engine/volume/file_info.h"
#include "filter/query_object.h"
#include "support/date_time.h"

namespace kestrine {
namespace {

TEST(ConvertMask, Wildcards) {
  EXPECT_EQ(ConvertMask("*"), ".*");
  EXPECT_EQ(ConvertMask("a?c"), "a.?c");
  EXPECT_EQ(ConvertMask("a.*"), "a[.].*");
  EXPECT_EQ(ConvertMask("[x]+{2}\\;"), "[x]+{2}\\;");  // everything else keeps its meaning
}

TEST(ConvertMask, BlanksInNamesAndAfterSeparators) {
  EXPECT_EQ(ConvertMask("my file"), "my\\sfile");
  EXPECT_EQ(ConvertMask("a  b"), "a\\s\\sb");
  EXPECT_EQ(ConvertMask("a;  b"), "a;  b");
  EXPECT_EQ(ConvertMask(" a"), "\\sa");
  EXPECT_EQ(ConvertMask("a ; b"), "a\\s; b");
}

TEST(BuildNameMask, DialogExamples) {
  EXPECT_EQ(BuildNameMask(""), ".*[.].*");
  EXPECT_EQ(BuildNameMask(" \t "), ".*[.].*");
  EXPECT_EQ(BuildNameMask("readme"), ".*readme.*");
  EXPECT_EQ(BuildNameMask("*.txt"), ".*[.]txt");
  EXPECT_EQ(BuildNameMask("my file.doc"), ".*my\\sfile[.]doc.*");
  EXPECT_EQ(BuildNameMask("mygraphic; *.jpg; myanimation.*"), "mygraphic; .*[.]jpg; myanimation[.].*");
  EXPECT_EQ(BuildNameMask("a.*.txt"), "a[.].*[.]txt");
  EXPECT_EQ(BuildNameMask("*."), ".*[.].*");  // an empty side becomes "*"
  EXPECT_EQ(BuildNameMask(".?"), ".*[.].?");
}

TFilterDialogState UseFilter() {
  TFilterDialogState s;
  s.UseFilter = true;
  return s;
}

TFilter Build(const TFilterDialogState& State, TCivilDate Today = {2024, 3, 31}) {
  auto result = BuildFilter(State, Today);
  EXPECT_TRUE(std::holds_alternative<TFilter>(result)) << std::get<std::string>(result);
  return std::holds_alternative<TFilter>(result) ? std::get<TFilter>(result) : TFilter{};
}

std::string Error(const TFilterDialogState& State) {
  auto result = BuildFilter(State, {2024, 3, 31});
  return std::holds_alternative<std::string>(result) ? std::get<std::string>(result) : "";
}

TEST(BuildFilter, ShowAllIsAnEmptyFilter) {
  TFilterDialogState s;
  s.SizeOn = true;
  s.Dates = TDateChoice::PreviousDays;
  EXPECT_EQ(Build(s), TFilter{});
}

TEST(BuildFilter, NameOnly) {
  auto s = UseFilter();
  s.NameMask = "*.txt";
  const TFilter f = Build(s);
  EXPECT_EQ(f.Flags, qfName);
  EXPECT_EQ(f.NameMask, ".*[.]txt");
}

TEST(BuildFilter, DateRanges) {
  auto s = UseFilter();
  s.Dates = TDateChoice::Between;
  s.DateBegin = {2024, 1, 1};
  s.DateEnd = {2024, 1, 31};
  TFilter f = Build(s);
  EXPECT_EQ(f.Flags, qfName | qfDate);
  EXPECT_EQ(f.DateFrom, EncodeDate({2024, 1, 1}));
  EXPECT_EQ(f.DateTo, EncodeDate({2024, 1, 31}));

  s.Dates = TDateChoice::PreviousMonths;
  s.Months = 1;
  f = Build(s, {2024, 3, 31});
  EXPECT_EQ(f.DateFrom, EncodeDate({2024, 2, 29}));
  EXPECT_EQ(f.DateTo, EncodeDate({2024, 3, 31}));
  EXPECT_EQ(Build(s, {2023, 3, 31}).DateFrom, EncodeDate({2023, 2, 28}));
  s.Months = 14;
  EXPECT_EQ(Build(s, {2024, 3, 15}).DateFrom, EncodeDate({2023, 1, 15}));
  s.Months = kMaxFilterMonths;
  EXPECT_EQ(Build(s).DateFrom, EncodeDate({1, 1, 1}));

  s.Dates = TDateChoice::PreviousDays;
  s.Days = 10;
  f = Build(s, {2024, 3, 5});
  EXPECT_EQ(f.DateFrom, EncodeDate({2024, 2, 24}));
  EXPECT_EQ(f.DateTo, EncodeDate({2024, 3, 5}));
}

TEST(BuildFilter, SizeAndAttributes) {
  auto s = UseFilter();
  s.SizeOn = true;
  s.SizeKb = 10;
  s.SizeCompare = TSizeCompare::Greater;
  TFilter f = Build(s);
  EXPECT_EQ(f.Flags, qfName | qfSize | qfSizeGreater);
  EXPECT_EQ(f.Size, 10240);
  s.SizeCompare = TSizeCompare::Smaller;
  EXPECT_EQ(Build(s).Flags, qfName | qfSize | qfSizeSmaller);
  s.SizeCompare = TSizeCompare::Equal;
  EXPECT_EQ(Build(s).Flags, qfName | qfSize | qfSizeEqual);

  s = UseFilter();
  s.SelectedAttributes = true;
  EXPECT_EQ(Build(s).Flags, qfName | qfAttributes);
  EXPECT_EQ(Build(s).Attributes, 0u);
  s.ReadOnly = s.Hidden = s.Archive = s.System = true;
  EXPECT_EQ(Build(s).Attributes, FileAttr::ReadOnly | FileAttr::Hidden | FileAttr::Archive | FileAttr::System);
  s.Archive = false;
  s.Hidden = false;
  EXPECT_EQ(Build(s).Attributes, FileAttr::ReadOnly | FileAttr::System);
}

TEST(BuildFilter, ValuesNoControlCanHoldAreRefused) {
  auto s = UseFilter();
  s.Dates = TDateChoice::Between;
  s.DateBegin = {2024, 2, 30};
  s.DateEnd = {2024, 3, 1};
  EXPECT_NE(Error(s).find("2024-2-30"), std::string::npos);
  s.DateBegin = {2024, 2, 1};
  s.DateEnd = {2024, 13, 1};
  EXPECT_NE(Error(s), "");

  s = UseFilter();
  s.Dates = TDateChoice::PreviousMonths;
  s.Months = -1;
  EXPECT_NE(Error(s), "");
  s.Months = kMaxFilterMonths + 1;
  EXPECT_NE(Error(s), "");
  s.Dates = TDateChoice::PreviousDays;
  s.Days = kMaxFilterDays + 1;
  EXPECT_NE(Error(s), "");

  s = UseFilter();
  s.SizeOn = true;
  s.SizeKb = -1;
  EXPECT_NE(Error(s), "");
  s.SizeKb = INT64_MAX / 1024 + 1;
  EXPECT_NE(Error(s), "");
  s.SizeKb = INT64_MAX / 1024;
  EXPECT_EQ(Error(s), "");
}

// What the dialog's filters let through once the query object holds them.
class DialogFilterQuery : public ::testing::Test {
 protected:
  bool Passes(const TFilterDialogState& State, const std::string& Name, std::int64_t Size = 0,
              std::uint32_t Attributes = FileAttr::Archive) {
    Query.SetFilter(Build(State));
    TFileInfo info;
    info.Name = Name;
    info.Size = Size;
    info.Attributes = Attributes;
    return Query.Matches(&info);
  }
  static TFilterDialogState Mask(const char* Text) {
    auto s = UseFilter();
    s.NameMask = Text;
    return s;
  }
  TQueryObject Query;
};

TEST_F(DialogFilterQuery, NameMasks) {
  EXPECT_TRUE(Passes(Mask(""), "a.b"));
  EXPECT_FALSE(Passes(Mask(""), "noext"));  // "*.*" wants a dot
  EXPECT_TRUE(Passes(Mask("*.txt"), "NOTES.TXT"));
  EXPECT_FALSE(Passes(Mask("*.txt"), "notes_txt"));
  EXPECT_TRUE(Passes(Mask("readme"), "MyReadMe.md"));
  EXPECT_TRUE(Passes(Mask("my file.doc"), "old my file.doc"));
  EXPECT_FALSE(Passes(Mask("my file.doc"), "myfile.doc"));

  const auto tips = Mask("mygraphic; *.jpg; myanimation.*");
  EXPECT_TRUE(Passes(tips, "mygraphic.png"));
  EXPECT_FALSE(Passes(tips, "old mygraphic.png"));  // matched from the first character
  EXPECT_TRUE(Passes(tips, "photo.JPG"));
  EXPECT_TRUE(Passes(tips, "myanimation.gif"));
  EXPECT_FALSE(Passes(tips, "myanimation"));
}

TEST_F(DialogFilterQuery, SizeAndAttributes) {
  auto s = Mask("*");
  s.SizeOn = true;
  s.SizeKb = 0;
  EXPECT_TRUE(Passes(s, "a", 0));
  EXPECT_TRUE(Passes(s, "a", 1023));
  EXPECT_FALSE(Passes(s, "a", 1024));

  s = Mask("*");
  s.SelectedAttributes = true;  // no box checked: like Any Attributes
  EXPECT_TRUE(Passes(s, "a", 0, 0));
  s.ReadOnly = s.Hidden = true;
  EXPECT_FALSE(Passes(s, "a", 0, FileAttr::ReadOnly));
  EXPECT_TRUE(Passes(s, "a", 0, FileAttr::ReadOnly | FileAttr::Hidden | FileAttr::Archive));
}

TEST(DateTime, Encoding) {
  EXPECT_EQ(EncodeDate({1899, 12, 30}), 0.0);
  EXPECT_EQ(EncodeDate({1900, 1, 1}), 2.0);
  EXPECT_EQ(EncodeDate({1899, 12, 29}), -1.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 30}, 18, 0, 0, 0), 0.75);
  EXPECT_FALSE(IsValidDate({2023, 2, 29}));
  EXPECT_TRUE(IsValidDate({2024, 2, 29}));
  EXPECT_FALSE(IsValidDate({2024, 0, 1}));
}

TEST(DateTime, RangeCountsValuesUnderOneMillisecondApartAsEqual) {
  const TDateTime from = EncodeDate({2024, 5, 1}), to = EncodeDate({2024, 5, 2});
  const double ms = 1.0 / 86'400'000.0;
  EXPECT_TRUE(DateTimeInRange(from, from, to));
  EXPECT_TRUE(DateTimeInRange(to, from, to));
  EXPECT_TRUE(DateTimeInRange(to + 0.5 * ms, from, to));
  EXPECT_TRUE(DateTimeInRange(from - 0.5 * ms, from, to));
  EXPECT_FALSE(DateTimeInRange(to + 1.5 * ms, from, to));
  EXPECT_FALSE(DateTimeInRange(from - 1.5 * ms, from, to));
  EXPECT_FALSE(DateTimeInRange(from + 0.5, to, from));  // a reversed range holds nothing
}

}  // namespace
}  // namespace kestrine
