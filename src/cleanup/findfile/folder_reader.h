#pragma once
// The platform's directory enumeration for the file search: one open folder, its entries, and the
// search record of an entry. Links are never followed below a target folder.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cleanup/findfile/search_criteria.h"

namespace kestrine {

enum class TEntryKind : std::uint8_t { Unknown, Directory, Symlink, Other };

struct TFolderEntry {
  std::string Name;
  TEntryKind Kind = TEntryKind::Unknown;
};

// Identity of the file system a folder lies on.
using TFileSystemId = std::uint64_t;

class TFolderReader {
 public:
  // Nil when the folder cannot be opened. A target folder the user named is opened even through a
  // link (FollowLink); a folder reached by the walk is not.
  static std::unique_ptr<TFolderReader> Open(const std::string& Path, bool FollowLink);
  virtual ~TFolderReader() = default;

  virtual TFileSystemId FileSystem() const = 0;
  // Every entry but "." and "..", in the order the file system gives them.
  virtual std::vector<TFolderEntry> ReadEntries() = 0;
  // The entry's search record; false when it is gone.
  virtual bool Describe(const TFolderEntry& Entry, TSearchRec& Rec) const = 0;
  // A folder on file system Id that the walk may enter: not a link, not the mount point of another
  // file system.
  virtual bool IsSubfolderOn(const TFolderEntry& Entry, TFileSystemId Id) const = 0;
};

}  // namespace kestrine
