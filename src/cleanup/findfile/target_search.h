#pragma once
// A search as it runs: the target folders with their masks and limits, and private copies of the
// per-entry criteria, made once when the search starts.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cleanup/findfile/name_masks.h"
#include "cleanup/findfile/search_criteria.h"

namespace kestrine {

struct TTargetFolder {
  std::string Folder;  // absolute, ending in "/"
  bool Subfolders = true;
  std::vector<std::string> FileMasks;
  std::uint16_t MinLevel = 0;
  std::uint16_t MaxLevel = 0;
};

class TTargetFolderList {
 public:
  TTargetFolderList(std::vector<std::string> Excluded, TDriveRoots Drives);

  // Index of the folder with exactly this path (paths are case-sensitive here); -1 when none.
  int IndexOfFolder(std::string_view Path) const;
  // Expands Path to an absolute folder ending in "/", and returns the folder of that path, new or
  // already listed.
  TTargetFolder& AddFolder(std::string_view Path);
  bool IsExcluded(std::string_view Folder, std::string_view Name) const;

  // In the order in which they were first added, which is the order they are searched in.
  std::size_t Count() const { return FFolders.size(); }
  const TTargetFolder& Folder(std::size_t Index) const { return *FFolders[Index]; }
  const std::vector<std::string>& Excluded() const { return FExcluded; }

 private:
  std::vector<std::unique_ptr<TTargetFolder>> FFolders;
  std::unordered_map<std::string, std::size_t> FIndex;
  std::vector<std::string> FExcluded;
  std::vector<TExclusionEntry> FExclusions;
  TDriveRoots FDrives;
};

// The absolute form of a folder path, ending in "/"; relative paths are taken against the current folder.
std::string ExpandFolderPath(std::string_view Path);

class TTargetSearch {
 public:
  // Drives tell exclusion entries with a drive letter which drive a folder lies on.
  explicit TTargetSearch(const TSearchCriteria& Criteria, const TDriveRoots& Drives = {});

  // The acceptance test of one entry of Folder (ending in "/"); the cheap tests first, content last.
  bool Matches(std::string_view Folder, const TSearchRec& Entry) const;

  TTargetFolderList TargetFolders;
  TAttributeCriteria Attribute;
  TAttributeCriteriaEx AttributeEx;
  TDateTimeCriteria TimeStamp;
  TSizeCriteria Size;
  TContentCriteria Content;

 private:
  void AddTarget(std::string_view Folder, const std::vector<std::string>& Masks, bool Recursive,
                 const TFileCriteria& Files);
};

}  // namespace kestrine
