#pragma once
// What a recovery walks: the subfolders of each folder and its files that pass the filter.

#include <unordered_map>
#include <vector>

#include "engine/volume/file_info.h"

namespace kestrine {

class TQueryObject;

// Subfolders and passing files of one folder, in the order of their disk's lists.
struct TFolderContent {
  std::vector<PFileInfo> Folders;
  std::vector<PFileInfo> Files;
};

class TFolderContents {
 public:
  // Query gives the files of folders; nil: folders hold none.
  explicit TFolderContents(const TQueryObject* Query) : FQuery(Query) {}

  // Built once per disk on the first ask, so a deep tree costs one pass over the disk's lists, not one per folder.
  const TFolderContent& Of(PFileInfo Folder);
  void Clear() { FIndex.clear(); }

 private:
  const TQueryObject* FQuery;
  std::unordered_map<const TDiskObject*, std::unordered_map<const TFileInfo*, TFolderContent>> FIndex;
};

}  // namespace kestrine
