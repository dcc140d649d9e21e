#include "cleanup/findfile/name_masks.h"

#include <optional>
#include <unordered_set>

#include "cleanup/findfile/char_tables.h"

namespace kestrine {
namespace {

constexpr char32_t kStar = 0x110000;
constexpr char32_t kAny = 0x110001;

std::u32string CompileMask(std::string_view Mask) {
  std::u32string pattern;
  for (std::size_t i = 0; i < Mask.size();) {
    const TNameChar c = DecodeNameChar(Mask, i);
    i += c.Length;
    if (c.Code == '*') {
      if (pattern.empty() || pattern.back() != kStar) pattern.push_back(kStar);
    } else {
      pattern.push_back(c.Code == '?' ? kAny : FoldNameChar(c.Code));
    }
  }
  return pattern;
}

// Greedy matching with a return to the last "*": linear in practice, at worst name × mask.
bool GlobMatch(const std::u32string& Pattern, std::string_view Name) {
  std::size_t p = 0, n = 0;
  std::size_t starP = std::u32string::npos, starN = 0;
  while (n < Name.size()) {
    if (p < Pattern.size() && Pattern[p] == kStar) {
      starP = p++;
      starN = n;
      continue;
    }
    const TNameChar c = DecodeNameChar(Name, n);
    if (p < Pattern.size() && (Pattern[p] == kAny || Pattern[p] == FoldNameChar(c.Code))) {
      ++p;
      n += c.Length;
      continue;
    }
    if (starP == std::u32string::npos) return false;
    p = starP + 1;
    starN += DecodeNameChar(Name, starN).Length;
    n = starN;
  }
  while (p < Pattern.size() && Pattern[p] == kStar) ++p;
  return p == Pattern.size();
}

bool IsPlainAscii(std::string_view Text) {
  for (unsigned char c : Text)
    if (c >= 0x80 || c == '*' || c == '?') return false;
  return true;
}

unsigned char AsciiLower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

bool AsciiEqualNoCase(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (std::size_t i = 0; i < A.size(); ++i)
    if (AsciiLower(static_cast<unsigned char>(A[i])) != AsciiLower(static_cast<unsigned char>(B[i]))) return false;
  return true;
}

// The text with every character folded, for comparisons that ignore case.
std::u32string FoldedText(std::string_view Text) {
  std::u32string folded;
  for (std::size_t i = 0; i < Text.size();) {
    const TNameChar c = DecodeNameChar(Text, i);
    folded.push_back(FoldNameChar(c.Code));
    i += c.Length;
  }
  return folded;
}

// Base and extension: the extension runs from the last "." after the last "/" or ":".
std::pair<std::string_view, std::string_view> SplitExtension(std::string_view Name) {
  const std::size_t dot = Name.rfind('.');
  const std::size_t sep = Name.find_last_of("/:");
  if (dot == std::string_view::npos || (sep != std::string_view::npos && dot < sep)) return {Name, {}};
  return {Name.substr(0, dot), Name.substr(dot)};
}

struct TFolderDrive {
  char Letter;
  std::size_t Length;  // of the mount point, without its closing "/"
};

// The drive whose mount point is the longest leading folder of Folder.
std::optional<TFolderDrive> FindFolderDrive(std::string_view Folder, const TDriveRoots& Drives) {
  std::optional<TFolderDrive> best;
  for (const TDriveRoot& d : Drives) {
    std::string_view root = d.Root;
    while (!root.empty() && root.back() == '/') root.remove_suffix(1);
    const bool inside = Folder.size() > root.size() && Folder.substr(0, root.size()) == root &&
                        Folder[root.size()] == '/';
    if (inside && (!best || root.size() > best->Length)) best = TFolderDrive{d.Letter, root.size()};
  }
  return best;
}

bool IsTrimmed(unsigned char c) { return c <= ' '; }

}  // namespace

TNameMask::TNameMask(std::string_view Mask) : FText(Mask), FPattern(CompileMask(Mask)) {
  if (Mask.size() >= 2 && Mask.substr(Mask.size() - 2) == ".*") {
    FWithoutDotStar = CompileMask(Mask.substr(0, Mask.size() - 2));
    FHasAlternative = true;
  }
  if (!Mask.empty() && Mask[0] == '*' && IsPlainAscii(Mask.substr(1))) {
    FTailOnly = true;
    for (unsigned char c : Mask.substr(1)) FAsciiTail.push_back(static_cast<char>(LowerCaseTable[c]));
  }
}

bool TNameMask::Matches(std::string_view Name) const {
  if (FTailOnly) {
    if (Name.size() < FAsciiTail.size()) return false;
    const std::string_view tail = Name.substr(Name.size() - FAsciiTail.size());
    for (std::size_t i = 0; i < tail.size(); ++i)
      if (LowerCaseTable[static_cast<unsigned char>(tail[i])] != static_cast<unsigned char>(FAsciiTail[i]))
        return false;
    return true;
  }
  return GlobMatch(FPattern, Name) || (FHasAlternative && GlobMatch(FWithoutDotStar, Name));
}

bool WildcardMatch(std::string_view Text, std::string_view Mask) {
  std::size_t t = 0, m = 0;
  while (t < Text.size() && m < Mask.size()) {
    const TNameChar mc = DecodeNameChar(Mask, m);
    if (mc.Code == '*') return true;
    const TNameChar tc = DecodeNameChar(Text, t);
    if (mc.Code != '?' && FoldNameChar(mc.Code) != FoldNameChar(tc.Code)) return false;
    t += tc.Length;
    m += mc.Length;
  }
  if (t < Text.size()) return false;
  while (m < Mask.size() && (Mask[m] == '*' || Mask[m] == '?')) ++m;
  return m == Mask.size();
}

bool NameMatch(std::string_view Name, std::string_view Mask) {
  const auto [maskBase, maskExt] = SplitExtension(Mask);
  auto [nameBase, nameExt] = SplitExtension(Name);
  if (maskExt.empty()) return WildcardMatch(nameBase, maskBase);
  if (nameExt.empty()) nameExt = ".";
  return WildcardMatch(nameExt, maskExt) && WildcardMatch(nameBase, maskBase);
}

std::string_view PathDrive(std::string_view Path) {
  return Path.size() >= 2 && Path[1] == ':' ? Path.substr(0, 2) : std::string_view{};
}

bool DriveMatch(std::string_view Drive, std::string_view EntryDrive) {
  if (EntryDrive.empty() || EntryDrive[0] == '*' || EntryDrive[0] == '?') return true;
  if (Drive.empty()) return false;
  return AsciiEqualNoCase(Drive.substr(0, 1), EntryDrive.substr(0, 1));
}

TExclusionEntry::TExclusionEntry(std::string_view Entry) {
  const std::size_t sep = Entry.find_last_of("/:");
  std::string_view path = sep == std::string_view::npos ? std::string_view{} : Entry.substr(0, sep + 1);
  FName = sep == std::string_view::npos ? Entry : Entry.substr(sep + 1);
  FDrive = PathDrive(path);
  path.remove_prefix(FDrive.size());
  FPath = path;
}

bool TExclusionEntry::Matches(std::string_view Folder, std::string_view Name, const TDriveRoots& Drives) const {
  if (!FDrive.empty() || !FPath.empty()) {
    const std::optional<TFolderDrive> drive = FindFolderDrive(Folder, Drives);
    if (!FDrive.empty()) {
      const std::string driveText = drive ? std::string{drive->Letter, ':'} : std::string();
      if (!DriveMatch(driveText, FDrive)) return false;
    }
    if (!FPath.empty()) {
      const std::size_t driveLength = drive ? drive->Length : 0;
      if (FPath.size() > Folder.size() - driveLength) return false;
      if (!AsciiEqualNoCase(Folder.substr(Folder.size() - FPath.size()), FPath)) return false;
    }
  }
  return FName.empty() || NameMatch(Name, FName);
}

bool ExclusionMatch(std::string_view Folder, std::string_view Name, std::string_view Entry,
                    const TDriveRoots& Drives) {
  return TExclusionEntry(Entry).Matches(Folder, Name, Drives);
}

namespace {

// Cuts, trims and drops empty pieces; Key says which pieces count as the same.
template <typename TKey>
std::vector<std::string> SplitList(std::string_view Text, TKey Key) {
  std::vector<std::string> pieces;
  std::unordered_set<decltype(Key(Text))> seen;
  std::size_t start = 0;
  while (start <= Text.size()) {
    std::size_t end = Text.find(';', start);
    if (end == std::string_view::npos) end = Text.size();
    std::string_view piece = Text.substr(start, end - start);
    while (!piece.empty() && IsTrimmed(static_cast<unsigned char>(piece.front()))) piece.remove_prefix(1);
    while (!piece.empty() && IsTrimmed(static_cast<unsigned char>(piece.back()))) piece.remove_suffix(1);
    if (!piece.empty() && seen.insert(Key(piece)).second) pieces.emplace_back(piece);
    start = end + 1;
  }
  return pieces;
}

}  // namespace

std::vector<std::string> SplitMaskList(std::string_view Text) { return SplitList(Text, FoldedText); }

std::vector<std::string> SplitFolderList(std::string_view Text) {
  return SplitList(Text, [](std::string_view Piece) { return std::string(Piece); });
}

}  // namespace kestrine
