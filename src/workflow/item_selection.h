#pragma once
// Which found items a front end's request names: an item's path, the items of given paths, and
// what "recover everything" takes.

#include <string>
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

// The items of Paths, written as ItemPath gives them (leading and closing "/" ignored): every
// passing file and every folder of that path, since a deleted file and a deleted folder may share
// one; "" or "/" names the root, which stands for everything. The paths that name nothing are
// returned, in the order given.
std::vector<std::string> SelectItemsByPath(const TDiskObject& Disk, const std::vector<PFileInfo>& Files,
                                           const std::vector<std::string>& Paths, TDiskItems& Items);

}  // namespace kestrine
