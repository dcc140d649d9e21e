#include "filter/regex_calc.h"

#include <algorithm>

#include "support/ansi_chars.h"

namespace kestrine {
namespace CharSets {
namespace {

template <typename Pred>
TCharSet Build(Pred Member) {
  TCharSet set;
  for (unsigned b = 0; b < 256; ++b) set[b] = Member(static_cast<std::uint8_t>(b));
  return set;
}

bool IsDigit(std::uint8_t b) { return b >= '0' && b <= '9'; }

}  // namespace

const TCharSet& Alnum() {
  static const TCharSet set = Build(IsAnsiAlphaNumeric);
  return set;
}
const TCharSet& NonAlnum() {
  static const TCharSet set = ~Alnum();
  return set;
}
const TCharSet& Digits() {
  static const TCharSet set = Build(IsDigit);
  return set;
}
const TCharSet& NonDigits() {
  static const TCharSet set = ~Digits();
  return set;
}
const TCharSet& Space() {
  static const TCharSet set = Build([](std::uint8_t b) { return b == ' '; });
  return set;
}
const TCharSet& AllButSpace() {
  static const TCharSet set = ~Space();
  return set;
}
const TCharSet& All() {
  static const TCharSet set = TCharSet().set();
  return set;
}

}  // namespace CharSets

namespace {

bool IsDigitChar(char c) { return c >= '0' && c <= '9'; }

// A decimal run as a 32-bit count; nullopt when it does not fit.
std::optional<std::int32_t> ParseCount(std::string_view Digits) {
  std::int64_t value = 0;
  for (char c : Digits) {
    value = value * 10 + (c - '0');
    if (value > kRepeatPlus) return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

// Cuts the pattern into elements, left to right. What is left to scan is always a suffix of the
// pattern, so each character is looked at a bounded number of times.
class TCompiler {
 public:
  TCompiler(std::string_view Pattern, bool IgnoreCase)
      : FPattern(Pattern), FRest(Pattern), FIgnoreCase(IgnoreCase), FLastBrace(Pattern.rfind('}')) {}

  std::optional<std::vector<TExp>> Run() {
    std::size_t i = 0;
    while (i < FRest.size()) {
      switch (FRest[i]) {
        case '[':
          Flush(i);
          // An unclosed "[" is an ordinary character that starts the next literal run.
          i = ParseClass() ? 0 : 1;
          break;
        case '\\':
          Flush(i);
          if (FRest.size() == 1) {
            AddText("\\", 1);
            return std::move(FItems);
          }
          AddEscape(FRest[1]);
          FRest.remove_prefix(2);
          i = 0;
          break;
        case '.':
          Flush(i);
          AddSet(CharSets::All(), TExpMatcher::InSet);
          FRest.remove_prefix(1);
          i = 0;
          break;
        case '?':
        case '*':
          Flush(i);
          if (!FItems.empty()) FItems.back().MinCount = FRest[0] == '?' ? kRepeatOptional : kRepeatStar;
          FRest.remove_prefix(1);
          i = 0;
          break;
        case '+':
          if (i == 0 && !FItems.empty()) FItems.back().MinCount = kRepeatPlus;
          TakeOneBefore(i);
          FRest.remove_prefix(1);
          i = 0;
          break;
        case '{':
          if (!StartsRepeat(i)) {
            ++i;  // no well-formed repeat: an ordinary character
            break;
          }
          TakeOneBefore(i);
          if (!ParseRepeat()) return std::nullopt;
          i = 0;
          break;
        default:
          ++i;
      }
    }
    Flush(FRest.size());
    return std::move(FItems);
  }

 private:
  // The run before position K becomes a literal element.
  void Flush(std::size_t K) {
    if (K == 0) return;
    AddText(FRest.substr(0, K), 1);
    FRest.remove_prefix(K);
  }

  // "+" and "{" at position I bind to the one character before them: the run before that
  // character is flushed, the character becomes its own element (with "+"'s code) and is
  // removed, leaving the mark at the front.
  void TakeOneBefore(std::size_t I) {
    if (I == 0) return;
    Flush(I - 1);
    AddText(FRest.substr(0, 1), kRepeatPlus);
    FRest.remove_prefix(1);
  }

  void AddText(std::string_view Text, std::int32_t MinCount) {
    TExp e;
    e.Text.assign(Text);
    if (FIgnoreCase)
      for (char& c : e.Text) c = static_cast<char>(AnsiLowerByte(static_cast<std::uint8_t>(c)));
    e.MinCount = MinCount;
    FItems.push_back(std::move(e));
  }

  void AddSet(const TCharSet& Set, TExpMatcher Matcher) {
    TExp e;
    e.CharSet = Set;
    e.Matcher = Matcher;
    FItems.push_back(std::move(e));
  }

  void AddEscape(char Letter) {
    switch (Letter) {
      case 'w': AddSet(CharSets::Alnum(), TExpMatcher::InSet); break;
      case 'W': AddSet(CharSets::Alnum(), TExpMatcher::NotInSet); break;
      case 'd': AddSet(CharSets::Digits(), TExpMatcher::InSet); break;
      case 'D': AddSet(CharSets::Digits(), TExpMatcher::NotInSet); break;
      case 's': AddSet(CharSets::Space(), TExpMatcher::InSet); break;
      case 'S': AddSet(CharSets::Space(), TExpMatcher::NotInSet); break;
      default: break;  // an unknown escape stands for nothing
    }
  }

  // FRest starts with "["; false (and nothing consumed) when no "]" follows.
  bool ParseClass() {
    const std::size_t close = FNoBracket ? std::string_view::npos : FRest.find(']');
    if (close == std::string_view::npos) {
      FNoBracket = true;  // none further on either
      return false;
    }
    std::string_view text = FRest.substr(1, close - 1);
    const bool negated = !text.empty() && text[0] == '^';
    if (negated) text.remove_prefix(1);

    TCharSet set;
    const std::string plain = TakeClassEscapes(text, set);
    const std::string rest = TakeClassRanges(plain, set);
    for (char c : rest) AddChar(set, static_cast<std::uint8_t>(c));

    AddSet(set, negated ? TExpMatcher::NotInSet : TExpMatcher::InSet);
    FRest.remove_prefix(close + 1);
    return true;
  }

  // Adds the escapes of a class text to Set; returns the text without them.
  static std::string TakeClassEscapes(std::string_view Text, TCharSet& Set) {
    std::string plain;
    for (std::size_t k = 0; k < Text.size(); ++k) {
      if (Text[k] != '\\') {
        plain += Text[k];
        continue;
      }
      if (k + 1 == Text.size()) {
        Set.set('\\');
        break;
      }
      const char c = Text[++k];
      switch (c) {
        case 'w': Set |= CharSets::Alnum(); break;
        case 'W': Set |= CharSets::NonAlnum(); break;
        case 'd': Set |= CharSets::Digits(); break;
        case 'D': Set |= CharSets::NonDigits(); break;
        case 's': Set.set(' '); break;
        case 'S': Set |= CharSets::AllButSpace(); break;
        case '-': Set.set('-'); break;
        default:
          Set.set('\\');
          Set.set(static_cast<std::uint8_t>(c));
      }
    }
    return plain;
  }

  // Ranges are taken at the first "-" left each time, so a range may take its low end from
  // text that an earlier range has closed up. Returns what no range took.
  std::string TakeClassRanges(std::string_view Plain, TCharSet& Set) const {
    std::string rest;
    for (std::size_t k = 0; k < Plain.size(); ++k) {
      if (Plain[k] != '-') {
        rest += Plain[k];
      } else if (rest.empty() || k + 1 == Plain.size()) {
        Set.set('-');
      } else {
        const auto low = static_cast<std::uint8_t>(rest.back());
        rest.pop_back();
        AddRange(Set, low, static_cast<std::uint8_t>(Plain[++k]));
      }
    }
    return rest;
  }

  void AddRange(TCharSet& Set, std::uint8_t A, std::uint8_t B) const {
    if (A > B) std::swap(A, B);
    auto fill = [&Set](unsigned From, unsigned To) {
      for (unsigned b = From; b <= To; ++b) Set.set(b);
    };
    if (!FIgnoreCase) {
      fill(A, B);
      return;
    }
    if (AnsiLowerByte(A) <= AnsiLowerByte(B)) fill(AnsiLowerByte(A), AnsiLowerByte(B));
    if (AnsiUpperByte(A) <= AnsiUpperByte(B)) fill(AnsiUpperByte(A), AnsiUpperByte(B));
  }

  void AddChar(TCharSet& Set, std::uint8_t C) const {
    if (FIgnoreCase) {
      Set.set(AnsiLowerByte(C));
      Set.set(AnsiUpperByte(C));
    } else {
      Set.set(C);
    }
  }

  // A repeat is "{", a digit, and a "}" somewhere after it.
  bool StartsRepeat(std::size_t I) const {
    if (I + 1 >= FRest.size() || !IsDigitChar(FRest[I + 1])) return false;
    const std::size_t digitAt = FPattern.size() - FRest.size() + I + 1;
    return FLastBrace != std::string_view::npos && FLastBrace > digitAt;
  }

  // FRest starts with a well-formed "{...}": its numbers go to the last element, if any.
  // False when a number does not fit in 32 bits.
  bool ParseRepeat() {
    const std::size_t close = FRest.find('}');
    const std::string_view inner = FRest.substr(1, close - 1);
    const std::size_t digits = std::find_if_not(inner.begin(), inner.end(), IsDigitChar) - inner.begin();
    const auto min = ParseCount(inner.substr(0, digits));
    if (!min) return false;
    // The digits and the separator after them, whatever it is, are dropped.
    const std::string_view tail = inner.substr(std::min(inner.size(), digits + 1));
    std::int32_t max = -1;
    if (tail == "-") {
      max = kRepeatPlus;
    } else if (!tail.empty() && std::all_of(tail.begin(), tail.end(), IsDigitChar)) {
      const auto value = ParseCount(tail);
      if (!value) return false;
      max = *value;
    }
    if (!FItems.empty()) {
      FItems.back().MinCount = *min;
      FItems.back().MaxCount = max;
    }
    FRest.remove_prefix(close + 1);
    return true;
  }

  std::string_view FPattern;
  std::string_view FRest;
  bool FIgnoreCase;
  std::size_t FLastBrace;
  bool FNoBracket = false;
  std::vector<TExp> FItems;
};

// Whether an element may repeat or be absent, so that the next one may start a byte earlier.
bool MayVary(const TExp& E) { return E.MinCount < 1 || E.MaxCount > E.MinCount; }

}  // namespace

std::optional<TRegExPattern> TRegExPattern::Compile(std::string_view Pattern, bool IgnoreCase) {
  auto items = TCompiler(Pattern, IgnoreCase).Run();
  if (!items) return std::nullopt;
  TRegExPattern pattern;
  pattern.FItems = std::move(*items);
  pattern.FIgnoreCase = IgnoreCase;
  return pattern;
}

// Runs one element's test at Pos and moves Pos on: a literal by its length whatever the outcome,
// a set by one byte. At or past the end the test fails and Pos stays.
bool TRegExPattern::Try(const TExp& E, std::string_view Subject, std::size_t& Pos) const {
  if (Pos >= Subject.size()) return false;
  if (E.Matcher != TExpMatcher::Text) {
    const bool member = E.CharSet[static_cast<std::uint8_t>(Subject[Pos++])];
    return member == (E.Matcher == TExpMatcher::InSet);
  }
  const std::string_view part = Subject.substr(Pos, E.Text.size());
  Pos += E.Text.size();
  if (part.size() != E.Text.size()) return false;
  if (!FIgnoreCase) return part == E.Text;
  for (std::size_t k = 0; k < part.size(); ++k)
    if (AnsiLowerByte(static_cast<std::uint8_t>(part[k])) != static_cast<std::uint8_t>(E.Text[k])) return false;
  return true;
}

// The elements are taken strictly left to right: a repeat hands over to the next element as
// soon as that one matches, and only a single-byte step back undoes anything. The index never
// goes back, and at one index the position only moves one way, so a test costs at most
// (name length) x (pattern length) byte comparisons.
bool TRegExPattern::Match(std::string_view Subject) const {
  if (Subject.empty() || FItems.empty()) return false;
  const std::size_t count = FItems.size();
  std::size_t pos = 0;
  std::size_t i = 0;
  bool matched = true;
  while (matched && i < count) {
    const TExp& e = FItems[i];
    std::size_t saved = pos;
    matched = Try(e, Subject, pos);
    switch (e.MinCount) {
      case kRepeatStar:
        if (!matched) {
          pos = saved;
          matched = true;
          ++i;
        } else if (i + 1 == count) {
          return true;
        } else {
          saved = pos;
          if (Try(FItems[i + 1], Subject, pos))
            i += 2;
          else
            pos = saved;  // this element takes one more unit on the next pass
        }
        break;
      case kRepeatOptional:
        ++i;
        if (!matched) {
          pos = saved;
          matched = true;
        }
        break;
      case kRepeatPlus:
        if (!matched) return false;
        if (i + 1 == count) return true;
        for (;;) {
          saved = pos;
          if (Try(FItems[i + 1], Subject, pos)) {
            i += 2;
            break;
          }
          pos = saved;
          if (Try(e, Subject, pos)) continue;
          pos = saved;
          ++i;
          break;
        }
        break;
      default:
        if (matched) {
          std::int32_t tries = 1;
          for (; tries < e.MinCount; ++tries)
            if (!Try(e, Subject, pos)) return false;
          // Optional further tries; the position of the last, failed one is kept.
          while (tries < e.MaxCount && Try(e, Subject, pos)) ++tries;
          ++i;
        } else if (i > 0 && MayVary(FItems[i - 1])) {
          if (saved == 0) return false;
          pos = saved - 1;
          matched = true;
        } else {
          return false;
        }
    }
  }
  return matched;
}

void TRegExCalc::SetPatterns(std::vector<std::string> Patterns, bool IgnoreCase) {
  FPatterns = std::move(Patterns);
  FIgnoreCase = IgnoreCase;
  FCompiled.clear();
  for (const std::string& pattern : FPatterns) {
    auto compiled = TRegExPattern::Compile(pattern, IgnoreCase);
    if (!compiled) break;
    FCompiled.push_back(std::move(*compiled));
  }
}

bool TRegExCalc::MatchAny(std::string_view Name) const {
  return std::any_of(FCompiled.begin(), FCompiled.end(),
                     [Name](const TRegExPattern& p) { return p.Match(Name); });
}

}  // namespace kestrine
