#include "filter/regex_calc.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/ansi_chars.h"

namespace kestrine {
namespace {

bool M(std::string_view Pattern, std::string_view Name, bool IgnoreCase = false) {
  auto compiled = TRegExPattern::Compile(Pattern, IgnoreCase);
  EXPECT_TRUE(compiled.has_value()) << Pattern;
  return compiled && compiled->Match(Name);
}

std::vector<TExp> Items(std::string_view Pattern) { return TRegExPattern::Compile(Pattern, false)->Items(); }

TEST(RegExMatch, DialogMasks) {
  EXPECT_TRUE(M(".*[.]txt", "A.TXT", true));
  EXPECT_FALSE(M(".*[.]txt", "A.TXT"));
  EXPECT_FALSE(M(".*[.]txt", "atxt", true));
  EXPECT_TRUE(M(".*[.]txt", "a.txt.bak", true));
  EXPECT_TRUE(M(".*readme.*", "readme"));
  EXPECT_TRUE(M(".*readme.*", "myreadme.txt"));
  EXPECT_TRUE(M(".*readme.*", "README", true));
  EXPECT_FALSE(M(".*readme.*", "readm"));
  EXPECT_TRUE(M(".*[.].*", "a.b"));
  EXPECT_FALSE(M(".*[.].*", "noext"));
  EXPECT_TRUE(M(".*my\\sfile[.]doc.*", "old my file.doc"));
  EXPECT_FALSE(M(".*my\\sfile[.]doc.*", "myfile.doc"));
}

TEST(RegExMatch, StartsAtFirstByteAndIgnoresTheRest) {
  EXPECT_TRUE(M("abc", "abcdef"));
  EXPECT_FALSE(M("abc", "xabc"));
  EXPECT_TRUE(M("mygraphic", "mygraphic.png"));
  EXPECT_FALSE(M("mygraphic", "a mygraphic"));
  EXPECT_FALSE(M("abc", "ab"));  // a literal cut short by the end of the name
}

TEST(RegExMatch, EmptyNameAndEmptyPatternMatchNothing) {
  EXPECT_FALSE(M(".*", ""));
  EXPECT_FALSE(M("abc?", ""));
  EXPECT_FALSE(M("", "anything"));
  EXPECT_FALSE(M("\\q\\z", "anything"));  // only unknown escapes: no element
  EXPECT_FALSE(M("{3}", "anything"));     // a repeat with nothing to repeat
}

TEST(RegExCompile, QuestionAndStarTakeTheRunPlusAndBraceTheCharacter) {
  auto star = Items("abc*");
  ASSERT_EQ(star.size(), 1u);
  EXPECT_EQ(star[0].Text, "abc");
  EXPECT_EQ(star[0].MinCount, kRepeatStar);

  auto plus = Items("abc+d");
  ASSERT_EQ(plus.size(), 3u);
  EXPECT_EQ(plus[0].Text, "ab");
  EXPECT_EQ(plus[1].Text, "c");
  EXPECT_EQ(plus[1].MinCount, kRepeatPlus);
  EXPECT_EQ(plus[2].Text, "d");

  auto brace = Items("xab{2,5}");
  ASSERT_EQ(brace.size(), 2u);
  EXPECT_EQ(brace[0].Text, "xa");
  EXPECT_EQ(brace[1].Text, "b");
  EXPECT_EQ(brace[1].MinCount, 2);
  EXPECT_EQ(brace[1].MaxCount, 5);

  // After a construct the marks apply to that one element.
  auto set = Items("[ab]{3,-}.?\\d*");
  ASSERT_EQ(set.size(), 3u);
  EXPECT_EQ(set[0].MinCount, 3);
  EXPECT_EQ(set[0].MaxCount, kRepeatPlus);
  EXPECT_EQ(set[1].MinCount, kRepeatOptional);
  EXPECT_EQ(set[2].MinCount, kRepeatStar);
}

TEST(RegExCompile, RepeatCodes) {
  auto code = [](std::string_view p) {
    const TExp e = Items(p).back();
    return std::pair{e.MinCount, e.MaxCount};
  };
  EXPECT_EQ(code("a{4}"), std::pair(4, -1));
  EXPECT_EQ(code("a{4,7}"), std::pair(4, 7));
  EXPECT_EQ(code("a{4,-}"), std::pair(4, kRepeatPlus));
  EXPECT_EQ(code("a{4,x}"), std::pair(4, -1));
  EXPECT_EQ(code("a{4,7x}"), std::pair(4, -1));
  EXPECT_EQ(code("a{4;9}"), std::pair(4, 9));  // any separator
  EXPECT_EQ(code("a{0}"), std::pair(kRepeatOptional, -1));
  EXPECT_EQ(code("a{2147483647}"), std::pair(kRepeatPlus, -1));
  EXPECT_FALSE(TRegExPattern::Compile("a{2147483648}", false));
  EXPECT_FALSE(TRegExPattern::Compile("a{1,99999999999}", false));
}

TEST(RegExMatch, PlusAndQuestion) {
  EXPECT_TRUE(M("abc?", "zzz"));  // the whole run is optional and nothing else is needed
  EXPECT_TRUE(M("abc+", "abc"));
  EXPECT_TRUE(M("abc+", "abccc"));
  EXPECT_FALSE(M("abc+", "ab"));
  EXPECT_FALSE(M("abc+", "abd"));
  EXPECT_TRUE(M("ab+c", "abbbc"));
  EXPECT_FALSE(M("ab+c", "abbbd"));
  EXPECT_TRUE(M("[ab]+c", "abbac"));
  EXPECT_TRUE(M("x?y", "y"));
  EXPECT_TRUE(M("x?y", "xy"));
}

TEST(RegExMatch, CountedRepeats) {
  EXPECT_TRUE(M("a{2}", "aa"));
  EXPECT_TRUE(M("a{2}", "aab"));
  EXPECT_FALSE(M("a{2}", "ab"));
  EXPECT_FALSE(M("a{2}", "baa"));
  EXPECT_TRUE(M("a{2,-}b", "aaaaab"));
  EXPECT_TRUE(M("a{2,3}b", "aaab"));
  EXPECT_TRUE(M("a{2,3}b", "aab"));
  EXPECT_FALSE(M("a{2,3}b", "aaaab"));
  EXPECT_FALSE(M("a{2,3}b", "ab"));
  // The failed last try of a range keeps its position; a following "+" cannot step back.
  EXPECT_FALSE(M("a{1,2}b+", "ab"));
  EXPECT_TRUE(M("a{1,2}b+", "aab"));
  // A following single element steps back one byte to where the range stopped.
  EXPECT_TRUE(M("a{1,3}b", "ab"));
}

TEST(RegExMatch, StepBackOnlyAfterAVariableElement) {
  EXPECT_TRUE(M(".*b", "aab"));
  EXPECT_FALSE(M(".*b", "aaa"));
  EXPECT_TRUE(M("a?ab", "ab"));  // the optional a took the a; "ab" steps back
  EXPECT_FALSE(M("aab", "ab"));
}

TEST(RegExMatch, BraceThatStartsNoRepeatIsAnOrdinaryCharacter) {
  EXPECT_TRUE(M("a{b", "a{b"));
  EXPECT_TRUE(M("a{", "a{"));
  EXPECT_TRUE(M("a{}", "a{}"));
  EXPECT_TRUE(M("{x}", "{x}z"));
  EXPECT_TRUE(M("a{3", "a{3"));
  EXPECT_FALSE(M("a{3", "aaa"));
  EXPECT_TRUE(M("{{2}", "{{"));  // the second brace repeats the first
  ASSERT_EQ(Items("ab{c").size(), 1u);
  EXPECT_EQ(Items("ab{c")[0].Text, "ab{c");
  EXPECT_TRUE(M("x*{y", "xx{y"));
}

TEST(RegExMatch, Escapes) {
  EXPECT_TRUE(M("\\d\\d", "42"));
  EXPECT_FALSE(M("\\d", "x"));
  EXPECT_TRUE(M("\\D", "x"));
  EXPECT_TRUE(M("\\w\\W", "a-"));
  EXPECT_FALSE(M("\\w", "_"));
  EXPECT_TRUE(M("a\\sb", "a b"));
  EXPECT_TRUE(M("\\S", "\t"));  // \s is the blank alone
  EXPECT_TRUE(M("a\\qb", "ab"));  // an unknown escape is dropped with its letter
  auto trailing = Items("ab\\");
  ASSERT_EQ(trailing.size(), 2u);
  EXPECT_EQ(trailing[1].Text, "\\");
  EXPECT_TRUE(M("ab\\", "ab\\"));
}

TEST(RegExMatch, Classes) {
  EXPECT_TRUE(M("[a-c]", "B", true));
  EXPECT_FALSE(M("[a-c]", "B"));
  EXPECT_TRUE(M("[c-a]", "b"));  // ends swapped
  EXPECT_FALSE(M("[^0-9]", "7"));
  EXPECT_TRUE(M("[^0-9]", "x"));
  EXPECT_FALSE(M("[]", "a"));
  EXPECT_TRUE(M("[^]", "a"));
  EXPECT_TRUE(M("[-a]", "-"));
  EXPECT_TRUE(M("[a-]", "-"));
  EXPECT_TRUE(M("[\\d]", "5"));
  EXPECT_TRUE(M("[\\-]", "-"));
  EXPECT_TRUE(M("[\\q]", "\\"));  // other escapes add the backslash and the letter
  EXPECT_TRUE(M("[\\q]", "q"));
  EXPECT_TRUE(M("[a\\]x", "\\x"));  // a trailing backslash in the class
  EXPECT_TRUE(M("[ab]]", "a]"));    // no "]" inside a class
  EXPECT_TRUE(M("[ab", "[ab"));     // unclosed: ordinary characters
  EXPECT_TRUE(M("[Xy]", "x", true));
  EXPECT_TRUE(M("[Xy]", "Y", true));
}

TEST(RegExMatch, BytesAboveAscii) {
  // Latin-1 letters are letters and fold case byte by byte.
  EXPECT_TRUE(M("\\w", "\xE9"));
  EXPECT_TRUE(M("\xC9", "\xE9", true));
  EXPECT_FALSE(M("\xC9", "\xE9"));
  EXPECT_TRUE(M("[\xE0-\xE9]", "\xC5", true));
  // UTF-8 "é" is two bytes: a lead that reads as a Latin-1 letter and a continuation that does not.
  EXPECT_FALSE(M("\\w\\w", "\xC3\xA9"));
  EXPECT_TRUE(M("..", "\xC3\xA9"));
  EXPECT_TRUE(M(".*\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9.doc"));
  EXPECT_TRUE(M("\\W", "\xD7"));  // the multiplication sign is no letter
  EXPECT_TRUE(M("[^a]", "\xFF"));
}

TEST(RegExMatch, BoundedOnRepeatHeavyPatterns) {
  const std::string many(20000, 'a');
  EXPECT_FALSE(M("a*a*a*a*a*a*a*a*a*a*b", many));
  EXPECT_FALSE(M(".*.*.*.*.*.*.*.*b", many));
  EXPECT_FALSE(M("a{1,-}a{1,-}a{1,-}b", many));
  EXPECT_TRUE(M("a*a*a*a*b", "aaab"));
}

TEST(RegExCalc, AlternativesInOrder) {
  TRegExCalc calc;
  EXPECT_FALSE(calc.MatchAny("a"));
  calc.SetPatterns({"mygraphic", ".*[.]jpg", "myanimation[.].*"}, true);
  EXPECT_TRUE(calc.MatchAny("MyGraphic.bmp"));
  EXPECT_TRUE(calc.MatchAny("holiday.JPG"));
  EXPECT_TRUE(calc.MatchAny("myanimation.gif"));
  EXPECT_FALSE(calc.MatchAny("old mygraphic"));
  EXPECT_FALSE(calc.MatchAny(""));
}

TEST(RegExCalc, FaultyAlternativeStopsTheTestTheSameWayForEveryName) {
  TRegExCalc calc;
  calc.SetPatterns({"x", "a{99999999999}", "b"}, false);
  EXPECT_TRUE(calc.MatchAny("x1"));
  EXPECT_FALSE(calc.MatchAny("b"));
  EXPECT_FALSE(calc.MatchAny("a"));
  EXPECT_TRUE(calc.MatchAny("x2"));  // no state is left behind by a failed test
}

// The class rules as written: escapes, then ranges, each taken at the first one left in the text.
TCharSet ReferenceClass(std::string C, bool IgnoreCase) {
  TCharSet set;
  auto add = [&set](unsigned char c) { set.set(c); };
  size_t p;
  while ((p = C.find('\\')) != std::string::npos) {
    if (p + 1 == C.size()) {
      add('\\');
      C.erase(p, 1);
      continue;
    }
    switch (C[p + 1]) {
      case 'w': set |= CharSets::Alnum(); break;
      case 'W': set |= CharSets::NonAlnum(); break;
      case 'd': set |= CharSets::Digits(); break;
      case 'D': set |= CharSets::NonDigits(); break;
      case 's': add(' '); break;
      case 'S': set |= CharSets::AllButSpace(); break;
      case '-': add('-'); break;
      default: add('\\'); add(static_cast<unsigned char>(C[p + 1]));
    }
    C.erase(p, 2);
  }
  while ((p = C.find('-')) != std::string::npos) {
    if (p == 0 || p + 1 == C.size()) {
      add('-');
      C.erase(p, 1);
      continue;
    }
    unsigned char a = C[p - 1], b = C[p + 1];
    if (a > b) std::swap(a, b);
    auto range = [&](unsigned lo, unsigned hi) { for (unsigned x = lo; x <= hi; ++x) set.set(x); };
    if (!IgnoreCase) {
      range(a, b);
    } else {
      if (AnsiLowerByte(a) <= AnsiLowerByte(b)) range(AnsiLowerByte(a), AnsiLowerByte(b));
      if (AnsiUpperByte(a) <= AnsiUpperByte(b)) range(AnsiUpperByte(a), AnsiUpperByte(b));
    }
    C.erase(p - 1, 3);
  }
  for (unsigned char c : C) {
    if (IgnoreCase) {
      add(AnsiLowerByte(c));
      add(AnsiUpperByte(c));
    } else {
      add(c);
    }
  }
  return set;
}

TEST(RegExCompile, ClassesAgreeWithTheRulesAsWritten) {
  EXPECT_EQ(Items("[xa-b-c]")[0].CharSet, ReferenceClass("xa-b-c", false));  // "x-c" after "a-b"
  EXPECT_TRUE(M("[xa-b-c]", "p"));
  EXPECT_TRUE(M("[a\\d-z]", "m"));  // escapes go first, so "a-z" is a range

  const std::string alphabet = "ab-\\dwsSq^Zz-\xE0\xC9";
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 9);
    for (int k = 0; k < length; ++k) text += alphabet[random() % alphabet.size()];
    if (!text.empty() && text[0] == '^') text[0] = 'a';
    for (bool ignoreCase : {false, true}) {
      auto compiled = TRegExPattern::Compile("[" + text + "]", ignoreCase);
      ASSERT_TRUE(compiled);
      ASSERT_EQ(compiled->Items().size(), 1u) << text;
      EXPECT_EQ(compiled->Items()[0].CharSet, ReferenceClass(text, ignoreCase)) << text << " " << ignoreCase;
    }
  }
}

}  // namespace
}  // namespace kestrine
