#pragma once
// The name pattern language of the result filter: literal runs, ".", bracket classes, the escapes
// \w \W \d \D \s \S and the repeat marks ? * + {n,m}. A match starts at the first byte of the
// name; the name may go on after the pattern. Every rule works on bytes.

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrine {

using TCharSet = std::bitset<256>;

// The fixed sets of the escapes.
namespace CharSets {
const TCharSet& Alnum();
const TCharSet& NonAlnum();
const TCharSet& Digits();
const TCharSet& NonDigits();
const TCharSet& AllButSpace();
const TCharSet& Space();
const TCharSet& All();
}  // namespace CharSets

enum class TExpMatcher { Text, InSet, NotInSet };

// Repeat codes kept in TExp::MinCount; any other value n means "n times" (with MaxCount).
inline constexpr std::int32_t kRepeatOptional = 0;
inline constexpr std::int32_t kRepeatStar = -1;
inline constexpr std::int32_t kRepeatPlus = 2147483647;

// One compiled element.
struct TExp {
  std::string Text;  // literal run; already lower-cased when the pattern ignores case
  TCharSet CharSet;
  TExpMatcher Matcher = TExpMatcher::Text;
  std::int32_t MinCount = 1;
  std::int32_t MaxCount = 0;  // {n,m}: m; {n}: -1; {n,-}: 2147483647; 0 otherwise
};

// One compiled alternative.
class TRegExPattern {
 public:
  // nullopt when a repeat count does not fit in 32 bits: such a pattern cannot be tested.
  static std::optional<TRegExPattern> Compile(std::string_view Pattern, bool IgnoreCase);

  // An empty name, or a pattern without elements, never matches.
  bool Match(std::string_view Subject) const;

  const std::vector<TExp>& Items() const { return FItems; }
  bool IgnoreCase() const { return FIgnoreCase; }

 private:
  bool Try(const TExp& E, std::string_view Subject, std::size_t& Pos) const;

  std::vector<TExp> FItems;
  bool FIgnoreCase = false;
};

// The alternatives of the name filter: a name matches when any of them does.
class TRegExCalc {
 public:
  // Compiles every alternative once. The alternatives are tried in order, and one that cannot be
  // compiled stops the test there: names that no earlier alternative takes are refused.
  void SetPatterns(std::vector<std::string> Patterns, bool IgnoreCase);

  const std::vector<std::string>& Patterns() const { return FPatterns; }
  bool IgnoreCase() const { return FIgnoreCase; }

  // False without patterns.
  bool MatchAny(std::string_view Name) const;

 private:
  std::vector<std::string> FPatterns;
  bool FIgnoreCase = false;
  std::vector<TRegExPattern> FCompiled;  // the alternatives before the first faulty one
};

}  // namespace kestrine
