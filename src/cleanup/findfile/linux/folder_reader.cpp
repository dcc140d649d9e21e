#include "cleanup/findfile/folder_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>

namespace kestrine {
namespace {

struct TDirCloser {
  void operator()(DIR* Dir) const { ::closedir(Dir); }
};

TFileSystemId DeviceId(std::uint32_t Major, std::uint32_t Minor) {
  return (static_cast<TFileSystemId>(Major) << 32) | Minor;
}

TEntryKind KindOf(unsigned char Type) {
  switch (Type) {
    case DT_DIR: return TEntryKind::Directory;
    case DT_LNK: return TEntryKind::Symlink;
    case DT_UNKNOWN: return TEntryKind::Unknown;
    default: return TEntryKind::Other;
  }
}

TFileTime ToFileTime(const struct statx_timestamp& T) { return UnixToFileTime(T.tv_sec, T.tv_nsec); }

// Read-only: no write permission for the owner; hidden: a leading "."; archive: a regular file;
// reparse point: a symbolic link.
std::uint32_t AttributesOf(const std::string& Name, std::uint16_t Mode) {
  std::uint32_t attr = 0;
  if (!(Mode & S_IWUSR)) attr |= SearchAttr::ReadOnly;
  if (!Name.empty() && Name[0] == '.') attr |= SearchAttr::Hidden;
  if (S_ISDIR(Mode)) attr |= SearchAttr::Directory;
  if (S_ISREG(Mode)) attr |= SearchAttr::Archive;
  if (S_ISLNK(Mode)) attr |= SearchAttr::ReparsePoint;
  return attr;
}

class TLinuxFolderReader final : public TFolderReader {
 public:
  TLinuxFolderReader(DIR* Dir, TFileSystemId Id) : FDir(Dir), FId(Id) {}

  TFileSystemId FileSystem() const override { return FId; }

  std::vector<TFolderEntry> ReadEntries() override {
    std::vector<TFolderEntry> entries;
    while (const dirent* e = ::readdir(FDir.get())) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      entries.push_back({e->d_name, KindOf(e->d_type)});
    }
    return entries;
  }

  bool Describe(const TFolderEntry& Entry, TSearchRec& Rec) const override {
    struct statx st {};
    if (!Stat(Entry, STATX_BASIC_STATS | STATX_BTIME, st)) return false;
    const bool regular = S_ISREG(st.stx_mode);
    Rec.Name = Entry.Name;
    Rec.Attr = AttributesOf(Entry.Name, st.stx_mode);
    // Only a regular file's size means its content; folders and links count as empty.
    const std::uint64_t size = regular ? st.stx_size : 0;
    Rec.Size = static_cast<std::int64_t>(size);
    TFindData& data = Rec.FindData;
    data.dwFileAttributes = Rec.Attr;
    data.ftLastWriteTime = ToFileTime(st.stx_mtime);
    data.ftLastAccessTime = ToFileTime(st.stx_atime);
    // File systems that keep no birth time give the last-write time, the nearest fact they have.
    data.ftCreationTime = (st.stx_mask & STATX_BTIME) ? ToFileTime(st.stx_btime) : data.ftLastWriteTime;
    data.nFileSizeHigh = static_cast<std::uint32_t>(size >> 32);
    data.nFileSizeLow = static_cast<std::uint32_t>(size);
    Rec.Identity = {static_cast<std::uint64_t>(makedev(st.stx_dev_major, st.stx_dev_minor)), st.stx_ino};
    return true;
  }

  bool IsSubfolderOn(const TFolderEntry& Entry, TFileSystemId Id) const override {
    if (Entry.Kind != TEntryKind::Directory && Entry.Kind != TEntryKind::Unknown) return false;
    struct statx st {};
    if (!Stat(Entry, STATX_TYPE, st)) return false;
    return S_ISDIR(st.stx_mode) && DeviceId(st.stx_dev_major, st.stx_dev_minor) == Id;
  }

 private:
  // Never follows a link and never triggers an automount.
  bool Stat(const TFolderEntry& Entry, unsigned Mask, struct statx& St) const {
    return ::statx(::dirfd(FDir.get()), Entry.Name.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, Mask, &St) == 0;
  }

  std::unique_ptr<DIR, TDirCloser> FDir;
  TFileSystemId FId;
};

}  // namespace

std::unique_ptr<TFolderReader> TFolderReader::Open(const std::string& Path, bool FollowLink) {
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (FollowLink ? 0 : O_NOFOLLOW);
  // Opening "dir/" resolves a link named dir, so the walk opens its folders without the closing "/".
  std::string path = Path;
  while (!FollowLink && path.size() > 1 && path.back() == '/') path.pop_back();
  const int fd = ::open(path.c_str(), flags);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return nullptr;
  }
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<TLinuxFolderReader>(dir, DeviceId(major(st.st_dev), minor(st.st_dev)));
}

}  // namespace kestrine
