#include "workflow/item_selection.h"

#include <algorithm>
#include <map>

#include "engine/volume/disk_object.h"

namespace kestrine {
namespace {

std::string NormalisedPath(std::string Path) {
  while (Path.starts_with('/')) Path.erase(0, 1);
  while (Path.ends_with('/')) Path.pop_back();
  return Path;
}

}  // namespace

bool IsVolumeRoot(const TFileInfo& Folder) {
  return Folder.Parent == nullptr && Folder.Disk && Folder.Name == RootFolderName(*Folder.Disk);
}

std::string ItemPath(const TFileInfo& Item) {
  std::vector<const TFileInfo*> chain;
  for (const TFileInfo* f = &Item; f; f = f->Parent) {
    if (std::find(chain.begin(), chain.end(), f) != chain.end()) break;
    chain.push_back(f);
  }
  // The volume root is not part of a path; a folder of unknown place (an orphan) is.
  const TFileInfo* top = chain.back();
  if (chain.size() > 1 && top->Disk && top->Parent == nullptr && top->Name == RootFolderName(*top->Disk))
    chain.pop_back();
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) path += (path.empty() ? "" : "/") + (*it)->Name;
  return path;
}

PFileInfo FindFileByPath(const std::vector<PFileInfo>& Files, const std::string& Path) {
  for (PFileInfo item : Files)
    if (ItemPath(*item) == Path) return item;
  return nullptr;
}

TDiskItems SelectAllItems(const TDiskObject& Disk, const std::vector<PFileInfo>& Files) {
  TDiskItems items;
  for (PFileInfo folder : Disk.Folders.Snapshot())
    if (folder && (folder->Parent == nullptr ? !IsVolumeRoot(*folder) : IsVolumeRoot(*folder->Parent)))
      items.Add(folder);
  for (PFileInfo file : Files)
    if (file->Parent == nullptr || IsVolumeRoot(*file->Parent)) items.Add(file);
  return items;
}

std::vector<std::string> SelectItemsByPath(const TDiskObject& Disk, const std::vector<PFileInfo>& Files,
                                           const std::vector<std::string>& Paths, TDiskItems& Items) {
  std::multimap<std::string, PFileInfo> byPath;
  for (PFileInfo folder : Disk.Folders.Snapshot())
    if (folder) byPath.emplace(IsVolumeRoot(*folder) ? std::string() : ItemPath(*folder), folder);
  for (PFileInfo file : Files) byPath.emplace(ItemPath(*file), file);
  std::vector<std::string> missing;
  for (const std::string& path : Paths) {
    auto [from, to] = byPath.equal_range(NormalisedPath(path));
    if (from == to) missing.push_back(path);
    for (; from != to; ++from) {
      PFileInfo item = from->second;
      // The root holds everything: its contents go straight into the destination.
      if (item->IsFolder && IsVolumeRoot(*item)) {
        for (PFileInfo i : SelectAllItems(Disk, Files).Snapshot()) Items.Add(i);
      } else {
        Items.Add(item);
      }
    }
  }
  return missing;
}

}  // namespace kestrine
