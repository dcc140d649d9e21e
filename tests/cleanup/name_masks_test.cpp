#include "cleanup/findfile/name_masks.h"

#include <fnmatch.h>

#include <random>

#include <gtest/gtest.h>

namespace kestrine {
namespace {

TEST(WildcardMatch, StarEndsTheComparisonAndLeftoverWildcardsAreSkipped) {
  EXPECT_TRUE(WildcardMatch("abc", "a*x"));  // nothing after "*" is looked at
  EXPECT_TRUE(WildcardMatch("ab", "ab??"));
  EXPECT_TRUE(WildcardMatch("ab", "ab*?*"));
  EXPECT_FALSE(WildcardMatch("abc", "ab"));
  EXPECT_FALSE(WildcardMatch("ab", "abc"));
  EXPECT_FALSE(WildcardMatch("ab", "ab?c"));
  EXPECT_TRUE(WildcardMatch("ReadMe", "rEADmE"));
  EXPECT_TRUE(WildcardMatch("\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9"));  // ÉTÉ against été
  EXPECT_TRUE(WildcardMatch("\xC3\xA9", "?"));                          // one character, two bytes
}

TEST(NameMatch, BaseAndExtensionAreComparedApart) {
  EXPECT_TRUE(NameMatch("README.TXT", "readme"));  // a mask without extension ignores the name's
  EXPECT_TRUE(NameMatch("readme.doc", "readme"));
  EXPECT_FALSE(NameMatch("readme2.doc", "readme"));
  EXPECT_TRUE(NameMatch("x.BAK", "*.bak"));
  EXPECT_FALSE(NameMatch("x.bak.old", "*.bak"));
  EXPECT_TRUE(NameMatch("noext", "*."));  // no extension counts as "."
  EXPECT_FALSE(NameMatch("a.txt", "*."));
}

TEST(NameMask, MatchesLikeTheEnumerationIgnoringCase) {
  const TNameMask tmp("*.tmp");
  EXPECT_TRUE(tmp.Matches("A.TMP"));
  EXPECT_TRUE(tmp.Matches(".tmp"));
  EXPECT_FALSE(tmp.Matches("a.tmpl"));
  EXPECT_FALSE(tmp.Matches("tmp"));
  const TNameMask twoAndTilde("*.??~");
  EXPECT_TRUE(twoAndTilde.Matches("f.ab~"));
  EXPECT_TRUE(twoAndTilde.Matches("f.\xC3\xA9" "a~"));  // "?" takes a whole UTF-8 character
  EXPECT_FALSE(twoAndTilde.Matches("f.a~"));
  EXPECT_FALSE(twoAndTilde.Matches("f.abc~"));
  EXPECT_TRUE(TNameMask("*.~*").Matches("a.~"));
  EXPECT_TRUE(TNameMask("*.$$$").Matches("SETUP.$$$"));
  EXPECT_TRUE(TNameMask("*.\xC3\x89T\xC3\x89").Matches("x.\xC3\xA9t\xC3\xA9"));
  EXPECT_TRUE(TNameMask("a*b*c").Matches("aXbYbZc"));
  EXPECT_FALSE(TNameMask("a*b*c").Matches("aXbYbZ"));
  // "*.*" is every name, and a trailing ".*" admits a name without extension.
  EXPECT_TRUE(TNameMask("*.*").Matches("noext"));
  EXPECT_TRUE(TNameMask("foo.*").Matches("FOO"));
  EXPECT_TRUE(TNameMask("foo.*").Matches("foo.bar.baz"));
  EXPECT_FALSE(TNameMask("foo.*").Matches("food"));
}

// On plain ASCII the masks must agree with fnmatch's case-folded globbing.
TEST(NameMask, AgreesWithFnmatchOnAscii) {
  std::mt19937 random(7);
  const std::string alphabet = "aAbB.~*?";
  auto draw = [&](std::size_t MaxLength, bool Wildcards) {
    std::string s(random() % (MaxLength + 1), ' ');
    for (char& c : s) c = alphabet[random() % (Wildcards ? alphabet.size() : alphabet.size() - 2)];
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::string mask = draw(6, true), name = draw(8, false);
    if (mask.size() >= 2 && mask.substr(mask.size() - 2) == ".*") continue;  // our one extension
    const bool expected = ::fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD | FNM_NOESCAPE) == 0;
    ASSERT_EQ(TNameMask(mask).Matches(name), expected) << "mask " << mask << " name " << name;
  }
}

TEST(SplitMaskList, TrimsDropsEmptyAndCaseInsensitiveDuplicates) {
  EXPECT_EQ(SplitMaskList("*.tmp ; *.TMP;;"), (std::vector<std::string>{"*.tmp"}));
  EXPECT_EQ(SplitMaskList("\t*.log\r\n;*.bak;*.LOG;*.tmp;"), (std::vector<std::string>{"*.log", "*.bak", "*.tmp"}));
  EXPECT_TRUE(SplitMaskList(" ; ;").empty());
  // Folder paths tell case apart.
  EXPECT_EQ(SplitFolderList("/tmp/A;/tmp/a;/tmp/A"), (std::vector<std::string>{"/tmp/A", "/tmp/a"}));
}

TEST(ExclusionMatch, BareMaskPathAndEmptyEntries) {
  EXPECT_TRUE(ExclusionMatch("/home/u/", "old.BAK", "*.bak"));
  EXPECT_TRUE(ExclusionMatch("/srv/", "x.bak", "*.bak"));
  EXPECT_FALSE(ExclusionMatch("/srv/", "x.bak1", "*.bak"));
  EXPECT_TRUE(ExclusionMatch("/srv/", "anything", ""));
  // A folder part matches every folder that ends with it, letter case aside.
  EXPECT_TRUE(ExclusionMatch("/data/Temp/", "a.txt", "/Temp/"));
  EXPECT_TRUE(ExclusionMatch("/x/y/temp/", "a.txt", "/TEMP/"));
  EXPECT_FALSE(ExclusionMatch("/data/Temp2/", "a.txt", "/Temp/"));
  EXPECT_TRUE(ExclusionMatch("/data/Temp/", "a.log", "/Temp/*.log"));
  EXPECT_FALSE(ExclusionMatch("/data/Temp/", "a.txt", "/Temp/*.log"));
}

TEST(ExclusionMatch, DriveLettersNameTheirMountPoints) {
  const TDriveRoots drives = {{'r', "/"}, {'c', "/mnt/c"}, {'d', "/mnt/d/"}};
  EXPECT_TRUE(ExclusionMatch("/mnt/c/Temp/", "f", "c:/Temp/", drives));
  EXPECT_TRUE(ExclusionMatch("/mnt/c/a/Temp/", "f", "C:/Temp/", drives));
  EXPECT_FALSE(ExclusionMatch("/mnt/d/Temp/", "f", "c:/Temp/", drives));
  EXPECT_TRUE(ExclusionMatch("/mnt/d/Temp/", "f", "*:/Temp/", drives));
  EXPECT_TRUE(ExclusionMatch("/mnt/c/deep/er/", "f", "c:", drives));  // the whole drive
  EXPECT_TRUE(ExclusionMatch("/mnt/c/", "x.tmp", "c:*.tmp", drives));
  // The longest mount point wins: /mnt/c/ lies on c, not on the root drive r.
  EXPECT_FALSE(ExclusionMatch("/mnt/c/Temp/", "f", "r:/Temp/", drives));
  EXPECT_TRUE(ExclusionMatch("/Temp/", "f", "r:/Temp/", drives));
  // The folder part is compared below the mount point only.
  EXPECT_FALSE(ExclusionMatch("/mnt/c/", "f", "c:/mnt/c/", drives));
  // A folder on no known drive matches no lettered entry.
  EXPECT_FALSE(ExclusionMatch("/mnt/c/Temp/", "f", "c:/Temp/"));
}

}  // namespace
}  // namespace kestrine
