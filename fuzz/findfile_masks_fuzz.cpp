// The file search's name masks, exclusion entries and list splitting over arbitrary text.
// Input: a mask, "\n", then a name (cut to 1024 bytes: a test costs name length times mask length).
// On plain ASCII the enumeration masks must agree with fnmatch's case-folded globbing.

#include <fnmatch.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "cleanup/findfile/name_masks.h"

namespace {

constexpr std::size_t kLongestName = 1024;

bool ComparableWithFnmatch(std::string_view Mask, std::string_view Name) {
  for (std::string_view s : {Mask, Name})
    for (unsigned char c : s)
      if (c == 0 || c >= 0x80 || c == '[' || c == '\\') return false;
  return !(Mask.size() >= 2 && Mask.substr(Mask.size() - 2) == ".*");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace kestrine;
  const std::string_view input(reinterpret_cast<const char*>(Data), Size);
  const std::size_t cut = input.find('\n');
  const std::string mask(input.substr(0, cut));
  const std::string name(cut == std::string_view::npos ? std::string_view{} : input.substr(cut + 1, kLongestName));

  const bool matches = TNameMask(mask).Matches(name);
  if (ComparableWithFnmatch(mask, name) &&
      matches != (::fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD | FNM_NOESCAPE) == 0))
    __builtin_trap();
  // A mask without wildcards names itself.
  if (mask.find_first_of("*?") == std::string::npos && !TNameMask(mask).Matches(mask)) __builtin_trap();

  WildcardMatch(name, mask);
  NameMatch(name, mask);
  const TDriveRoots drives = {{'c', "/"}, {'d', "/mnt/d"}};
  ExclusionMatch("/mnt/d/x/", name, mask, drives);
  ExclusionMatch("/", name, mask, drives);
  for (const auto& list : {SplitMaskList(input), SplitFolderList(input)})
    for (const std::string& piece : list)
      if (piece.empty() || piece.find(';') != std::string::npos || static_cast<unsigned char>(piece.front()) <= ' ' ||
          static_cast<unsigned char>(piece.back()) <= ' ')
        __builtin_trap();
  return 0;
}
