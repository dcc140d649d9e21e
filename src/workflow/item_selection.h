#pragma once
// Which found items a front end's request names: an item's path, the items of given paths, and
// what "recover everything" takes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/volume/file_info.h"

namespace kestrine {

class TDiskObject;

// The item's folder names below the volume root and its name, joined by "/". A folder whose place
// is unknown (an orphan) starts its path.
std::string ItemPath(const TFileInfo& Item);

// The disk's own root folder item.
bool IsVolumeRoot(const TFileInfo& Folder);

// The first of Files whose path is Path; nil when none is.
PFileInfo FindFileByPath(const std::vector<PFileInfo>& Files, const std::string& Path);

// Everything found, as one recovery takes it: the root's own files and subfolders (their contents
// come with them) and the folders of unknown place. Files are those that passed the filter.
TDiskItems SelectAllItems(const TDiskObject& Disk, const std::vector<PFileInfo>& Files);

// Item ids name one item where paths cannot: deleted entries of one folder often share a name. An
// id is the item's place in the disk's found lists, files first in the order the scan found them,
// then folders (the root among them). The lists hold everything found, whatever the filter, and a
// scan of one volume always walks it in the same order, so the same volume gives every item the
// same id again. After a stopped scan the file ids still agree; the folder ids do not.
class TItemIds {
 public:
  // Ids of files hold while the scan still runs; those of folders, which follow every file, once it
  // has ended.
  explicit TItemIds(const TDiskObject& Disk) : FDisk(Disk) {}
  // Nil for an id beyond the lists.
  PFileInfo Find(std::int64_t Id) const;
  // -1 for an item not on the disk's lists.
  std::int64_t IdOf(const TFileInfo& Item) const;

 private:
  const TDiskObject& FDisk;
  mutable std::size_t FNext = 0;  // where the next file asked for is looked for first
  mutable std::unordered_map<const TFileInfo*, std::int64_t> FIds;  // built on the first IdOf out of order
  mutable std::size_t FMapped = 0;  // items on the lists when the map was built
};

// A request names an item by id when it starts with "#"; a path that does is written "/#...".
inline bool IsItemIdText(std::string_view Text) { return Text.starts_with('#'); }
// The id of "#ID" (decimal digits); nil when Text is not of that form.
std::optional<std::int64_t> ParseItemId(std::string_view Text);

// The passing file Name names: "#ID", or a path as ItemPath gives it (a leading "/" ignored), the
// first of Files of that path. Nil when none is.
PFileInfo FindFile(const TDiskObject& Disk, const std::vector<PFileInfo>& Files, const std::string& Name);

// The items of Paths, written as ItemPath gives them (leading and closing "/" ignored) or as "#ID":
// every passing file and every folder of that path, since a deleted file and a deleted folder may
// share one; "" or "/" names the root, which stands for everything. The paths that name nothing are
// returned, in the order given.
std::vector<std::string> SelectItemsByPath(const TDiskObject& Disk, const std::vector<PFileInfo>& Files,
                                           const std::vector<std::string>& Paths, TDiskItems& Items);

}  // namespace kestrine
