#include "workflow/item_selection.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "engine/volume/disk_object.h"

namespace kestrine {
namespace {

std::string NormalisedPath(std::string Path) {
  while (Path.starts_with('/')) Path.erase(0, 1);
  while (Path.ends_with('/')) Path.pop_back();
  return Path;
}

bool Contains(const std::vector<PFileInfo>& Items, const TFileInfo* Item) {
  return std::find(Items.begin(), Items.end(), Item) != Items.end();
}

}  // namespace

namespace {

// The lists' parts in id order: the plain scan's files, then its folders, then the deep scan's files
// and folders. Without a deep scan the first two are everything.
struct TIdParts {
  std::int64_t PlainFiles, PlainFolders, DeepFiles, DeepFolders;
  TIdParts(const TDiskObject& Disk, std::int64_t Files, std::int64_t Folders) {
    const int files = Disk.DeepFilesFrom.load(), folders = Disk.DeepFoldersFrom.load();
    PlainFiles = files < 0 ? Files : std::min<std::int64_t>(files, Files);
    PlainFolders = folders < 0 ? Folders : std::min<std::int64_t>(folders, Folders);
    DeepFiles = Files - PlainFiles;
    DeepFolders = Folders - PlainFolders;
  }
  std::int64_t FileId(std::int64_t Index) const { return Index < PlainFiles ? Index : PlainFolders + Index; }
  std::int64_t FolderId(std::int64_t Index) const {
    return Index < PlainFolders ? PlainFiles + Index : PlainFiles + DeepFiles + Index;
  }
};

}  // namespace

PFileInfo TItemIds::Find(std::int64_t Id) const {
  if (Id < 0) return nullptr;
  const TIdParts parts(FDisk, FDisk.Files.Count(), FDisk.Folders.Count());
  const auto file = [&](std::int64_t Index) { return FDisk.Files.Items(static_cast<int>(Index)); };
  const auto folder = [&](std::int64_t Index) { return FDisk.Folders.Items(static_cast<int>(Index)); };
  if (Id < parts.PlainFiles) return file(Id);
  Id -= parts.PlainFiles;
  if (Id < parts.PlainFolders) return folder(Id);
  Id -= parts.PlainFolders;
  if (Id < parts.DeepFiles) return file(parts.PlainFiles + Id);
  Id -= parts.DeepFiles;
  return Id < parts.DeepFolders ? folder(parts.PlainFolders + Id) : nullptr;
}

std::int64_t TItemIds::IdOf(const TFileInfo& Item) const {
  const auto files = static_cast<std::size_t>(FDisk.Files.Count());
  const auto folders = static_cast<std::size_t>(FDisk.Folders.Count());
  const TIdParts parts(FDisk, static_cast<std::int64_t>(files), static_cast<std::int64_t>(folders));
  // A listing asks for files in the order found, filtered or not: looking forward from the last
  // answer spares the map (and its memory), also while the scan still adds files.
  if (FIds.empty())
    for (std::size_t i = FNext; i < files; ++i)
      if (FDisk.Files.Slot(i) == &Item) {
        FNext = i + 1;
        return parts.FileId(static_cast<std::int64_t>(i));
      }
  if (FMapped != files + folders) {
    FIds.clear();
    FIds.reserve(files + folders);
    for (std::size_t i = 0; i < files; ++i) FIds.emplace(FDisk.Files.Slot(i), parts.FileId(static_cast<std::int64_t>(i)));
    for (std::size_t i = 0; i < folders; ++i)
      FIds.emplace(FDisk.Folders.Slot(i), parts.FolderId(static_cast<std::int64_t>(i)));
    FMapped = files + folders;
  }
  const auto it = FIds.find(&Item);
  return it == FIds.end() ? -1 : it->second;
}

std::optional<std::int64_t> ParseItemId(std::string_view Text) {
  if (!IsItemIdText(Text) || Text.size() < 2) return std::nullopt;
  std::int64_t id = 0;
  const char* end = Text.data() + Text.size();
  const auto [at, error] = std::from_chars(Text.data() + 1, end, id);
  if (error != std::errc() || at != end || Text[1] == '-' || Text[1] == '+') return std::nullopt;
  return id;
}

PFileInfo FindFile(const TDiskObject& Disk, const std::vector<PFileInfo>& Files, const std::string& Name) {
  if (!IsItemIdText(Name)) {
    std::string path = Name;
    while (path.starts_with('/')) path.erase(0, 1);
    return FindFileByPath(Files, path);
  }
  const auto id = ParseItemId(Name);
  PFileInfo item = id ? TItemIds(Disk).Find(*id) : nullptr;
  return item && !item->IsFolder && Contains(Files, item) ? item : nullptr;
}

bool IsVolumeRoot(const TFileInfo& Folder) {
  return Folder.Parent == nullptr && Folder.Disk && IsRootFolderName(*Folder.Disk, Folder.Name);
}

std::string ItemPath(const TFileInfo& Item) {
  std::vector<const TFileInfo*> chain;
  chain.reserve(16);
  for (const TFileInfo* f = &Item; f; f = f->Parent) {
    if (std::find(chain.begin(), chain.end(), f) != chain.end()) break;
    chain.push_back(f);
  }
  // The volume root is not part of a path; a folder of unknown place (an orphan) is.
  const TFileInfo* top = chain.back();
  if (chain.size() > 1 && top->Disk && top->Parent == nullptr && IsRootFolderName(*top->Disk, top->Name))
    chain.pop_back();
  std::size_t length = chain.size() - 1;
  for (const TFileInfo* f : chain) length += f->Name.size();
  std::string path;
  path.reserve(length);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) path += '/';
    path += (*it)->Name;
  }
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
  const TItemIds ids(Disk);
  std::vector<std::string> missing;
  for (const std::string& path : Paths) {
    std::vector<PFileInfo> named;
    if (IsItemIdText(path)) {
      const auto id = ParseItemId(path);
      // A folder is always there to take; a file only when it passed the filter.
      if (PFileInfo item = id ? ids.Find(*id) : nullptr; item && (item->IsFolder || Contains(Files, item)))
        named.push_back(item);
    } else {
      for (auto [from, to] = byPath.equal_range(NormalisedPath(path)); from != to; ++from)
        named.push_back(from->second);
    }
    if (named.empty()) missing.push_back(path);
    for (PFileInfo item : named) {
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
