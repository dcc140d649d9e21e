// The name pattern language over arbitrary patterns and names, and the dialog's mask conversion.
// Input: one flag byte (bit 0: ignore case), then patterns separated by "\n", a NUL, and names
// separated by "\n". Names are cut to 1024 bytes: no FAT or NTFS name is longer in UTF-8 (255
// UTF-16 units), and a test costs name length times pattern length.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "filter/filter_builder.h"
#include "filter/query_object.h"
#include "filter/regex_calc.h"

namespace {

constexpr std::size_t kLongestName = 1024;

std::vector<std::string> Lines(std::string_view Text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= Text.size()) {
    const std::size_t end = std::min(Text.find('\n', start), Text.size());
    lines.emplace_back(Text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size == 0) return 0;
  const bool ignoreCase = Data[0] & 1;
  const std::string_view text(reinterpret_cast<const char*>(Data) + 1, Size - 1);
  const std::size_t split = std::min(text.find('\0'), text.size());
  const std::vector<std::string> patterns = Lines(text.substr(0, split));
  const std::vector<std::string> names = split < text.size() ? Lines(text.substr(split + 1)) : std::vector<std::string>{};

  kestrine::TRegExCalc calc;
  calc.SetPatterns(patterns, ignoreCase);
  std::vector<kestrine::TRegExPattern> compiled;
  for (const std::string& p : patterns) {
    auto c = kestrine::TRegExPattern::Compile(p, ignoreCase);
    if (!c) break;
    compiled.push_back(std::move(*c));
  }

  // The dialog's conversion of the same text, as the query object splits it.
  kestrine::TRegExCalc masks;
  masks.SetPatterns(kestrine::SplitNameMask(kestrine::BuildNameMask(text.substr(0, split))), true);

  for (std::string name : names) {
    if (name.size() > kLongestName) name.resize(kLongestName);
    bool any = false;
    for (const auto& c : compiled) any |= c.Match(name);
    if (any != calc.MatchAny(name)) __builtin_trap();
    if (name.empty() && any) __builtin_trap();
    (void)masks.MatchAny(name);
  }
  return 0;
}
