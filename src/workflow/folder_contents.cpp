#include "workflow/folder_contents.h"

#include "engine/volume/disk_object.h"
#include "filter/query_object.h"

namespace kestrine {

const TFolderContent& TFolderContents::Of(PFileInfo Folder) {
  TDiskObject* disk = Folder->Disk;
  auto [at, fresh] = FIndex.try_emplace(disk);
  auto& index = at->second;
  if (fresh && disk) {
    for (PFileInfo sub : disk->Folders.Snapshot())
      if (sub) index[sub->Parent].Folders.push_back(sub);
    if (FQuery)
      for (PFileInfo file : disk->Files.Snapshot())
        if (file && FQuery->MatchesInAnyFolder(file)) index[file->Parent].Files.push_back(file);
  }
  static const TFolderContent kEmpty;
  const auto found = index.find(Folder);
  return found == index.end() ? kEmpty : found->second;
}

}  // namespace kestrine
