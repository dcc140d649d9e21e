#include "cleanup/findfile/target_search.h"

#include <filesystem>
#include <system_error>

namespace kestrine {
namespace {

// A leading "<" turns recursion off for the item, ">" turns it on; either sign is removed.
bool TakeRecursionSign(std::string_view& Item, bool Default) {
  if (Item.empty() || (Item[0] != '<' && Item[0] != '>')) return Default;
  const bool recursive = Item[0] == '>';
  Item.remove_prefix(1);
  return recursive;
}

}  // namespace

std::string ExpandFolderPath(std::string_view Path) {
  std::error_code ec;
  std::filesystem::path full =
      Path.empty() ? std::filesystem::current_path(ec) : std::filesystem::absolute(std::filesystem::path(Path), ec);
  if (ec) full = std::filesystem::path(Path);
  std::string text = full.lexically_normal().string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

TTargetFolderList::TTargetFolderList(std::vector<std::string> Excluded, TDriveRoots Drives)
    : FExcluded(std::move(Excluded)), FDrives(std::move(Drives)) {
  FExclusions.reserve(FExcluded.size());
  for (const std::string& line : FExcluded) FExclusions.emplace_back(line);
}

int TTargetFolderList::IndexOfFolder(std::string_view Path) const {
  const auto it = FIndex.find(std::string(Path));
  return it == FIndex.end() ? -1 : static_cast<int>(it->second);
}

TTargetFolder& TTargetFolderList::AddFolder(std::string_view Path) {
  std::string folder = ExpandFolderPath(Path);
  const int index = IndexOfFolder(folder);
  if (index >= 0) return *FFolders[static_cast<std::size_t>(index)];
  FIndex.emplace(folder, FFolders.size());
  FFolders.push_back(std::make_unique<TTargetFolder>());
  FFolders.back()->Folder = std::move(folder);
  return *FFolders.back();
}

bool TTargetFolderList::IsExcluded(std::string_view Folder, std::string_view Name) const {
  for (const TExclusionEntry& entry : FExclusions)
    if (entry.Matches(Folder, Name, FDrives)) return true;
  return false;
}

TTargetSearch::TTargetSearch(const TSearchCriteria& Criteria, const TDriveRoots& Drives)
    : TargetFolders(Criteria.Files.Excluded, Drives),
      Attribute(Criteria.Attribute),
      AttributeEx(Criteria.AttributeEx),
      TimeStamp(Criteria.TimeStamp),
      Size(Criteria.Size),
      Content(Criteria.Content) {
  const TFileCriteria& files = Criteria.Files;
  for (const std::string& line : files.Included) {
    std::string_view item = line;
    const bool recursive = TakeRecursionSign(item, files.Subfolders);
    const std::size_t sep = item.rfind('/');
    const std::string_view folder = sep == std::string_view::npos ? std::string_view{} : item.substr(0, sep + 1);
    const std::string_view name = sep == std::string_view::npos ? item : item.substr(sep + 1);
    AddTarget(folder, {name.empty() ? std::string("*.*") : std::string(name)}, recursive, files);
  }
  std::vector<std::string> names = SplitMaskList(files.FileName);
  if (names.empty()) names.emplace_back("*.*");
  for (const std::string& location : SplitFolderList(files.Location)) {
    std::string_view item = location;
    const bool recursive = TakeRecursionSign(item, files.Subfolders);
    AddTarget(item, names, recursive, files);
  }
  // Only files have content.
  if (!Content.Phrase().empty()) {
    TFileAttributes attributes = Attribute.Attributes();
    attributes.Exclude(ffDirectory);
    Attribute.SetAttributes(attributes);
  }
}

void TTargetSearch::AddTarget(std::string_view Folder, const std::vector<std::string>& Masks, bool Recursive,
                              const TFileCriteria& Files) {
  TTargetFolder& target = TargetFolders.AddFolder(Folder);
  target.FileMasks.insert(target.FileMasks.end(), Masks.begin(), Masks.end());
  target.Subfolders = Recursive;
  target.MinLevel = Files.MinLevel;
  target.MaxLevel = Files.MaxLevel;
}

bool TTargetSearch::Matches(std::string_view Folder, const TSearchRec& Entry) const {
  const TFindData& data = Entry.FindData;
  const auto size = static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  if (!Size.Matches(size)) return false;
  if (!Attribute.Matches(Entry.Attr)) return false;
  if (!AttributeEx.Matches(data.dwFileAttributes)) return false;
  if (!TimeStamp.Matches(data.ftCreationTime, data.ftLastWriteTime, data.ftLastAccessTime)) return false;
  if (TargetFolders.IsExcluded(Folder, Entry.Name)) return false;
  return Content.Matches(std::string(Folder) + Entry.Name);
}

}  // namespace kestrine
