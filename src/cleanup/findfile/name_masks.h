#pragma once
// Name masks of the file search: the enumeration masks of a target folder, the looser comparison
// of exclusion entries, and the splitting of ";"-separated mask lists.

#include <string>
#include <string_view>
#include <vector>

namespace kestrine {

// A mask as the directory enumeration applies it: "*" is any run of characters, "?" exactly one,
// letter case is ignored. A trailing ".*" also admits a name without that extension, so "*.*" is
// every name, as Windows users expect of it.
class TNameMask {
 public:
  explicit TNameMask(std::string_view Mask);
  bool Matches(std::string_view Name) const;
  const std::string& Text() const { return FText; }

 private:
  std::string FText;
  std::u32string FPattern;       // folded characters, with kStar and kAny
  std::u32string FWithoutDotStar;  // the alternative of a trailing ".*"; empty when there is none
  bool FHasAlternative = false;
  std::string FAsciiTail;        // for "*" + plain ASCII text: that text in lower case
  bool FTailOnly = false;
};

// The exclusion comparison: "*" ends the comparison with a match at once, "?" is any one character,
// other characters compare without regard to case; mask "*"/"?" left over after the text is used up
// are skipped.
bool WildcardMatch(std::string_view Text, std::string_view Mask);

// Base and extension compared apart; a mask without extension ignores the name's extension.
bool NameMatch(std::string_view Name, std::string_view Mask);

// A drive letter and the folder the drive is mounted on ("/" or "/media/usb").
struct TDriveRoot {
  char Letter = 0;
  std::string Root;
};
using TDriveRoots = std::vector<TDriveRoot>;

// The "X:" at the start of a path; empty when there is none.
std::string_view PathDrive(std::string_view Path);

// Drive of an exclusion entry against the drive a folder lies on ("X:", or empty when unknown).
bool DriveMatch(std::string_view Drive, std::string_view EntryDrive);

// One exclusion line, taken apart once: drive, folder part and name part.
class TExclusionEntry {
 public:
  explicit TExclusionEntry(std::string_view Entry);
  // Folder ends in "/"; Drives tell which drive it lies on.
  bool Matches(std::string_view Folder, std::string_view Name, const TDriveRoots& Drives) const;

 private:
  std::string FDrive;
  std::string FPath;
  std::string FName;
};

bool ExclusionMatch(std::string_view Folder, std::string_view Name, std::string_view Entry,
                    const TDriveRoots& Drives = {});

// Cuts Text at every ";", trims blanks and control characters, drops empty pieces and pieces equal
// (ignoring case) to one already kept; the rest in their order of first appearance.
std::vector<std::string> SplitMaskList(std::string_view Text);
// The same for folder lists, where only identical pieces are the same (paths tell case apart).
std::vector<std::string> SplitFolderList(std::string_view Text);

}  // namespace kestrine
