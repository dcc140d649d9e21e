#include "platform/folder_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kestrine::platform {
namespace {

// A path descriptor: enough to act on names inside, and it opens folders the user may search but
// not list.
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

TFileIdentity IdentityOf(const struct stat& St) {
  return {static_cast<std::uint64_t>(St.st_dev), static_cast<std::uint64_t>(St.st_ino)};
}

// One name of this folder: "." and ".." lead elsewhere, and "/" would walk on through whatever the
// names before it are now.
bool OneName(const std::string& Name) {
  if (Name.empty() || Name == "." || Name == ".." || Name.find('/') != std::string::npos) {
    errno = EINVAL;
    return false;
  }
  return true;
}

}  // namespace

TFolderHandle::~TFolderHandle() {
  if (FFd >= 0) ::close(FFd);
}

TFolderHandle::TFolderHandle(TFolderHandle&& Other) noexcept
    : FFd(std::exchange(Other.FFd, -1)), FPath(std::move(Other.FPath)) {}

TFolderHandle& TFolderHandle::operator=(TFolderHandle&& Other) noexcept {
  if (this != &Other) {
    if (FFd >= 0) ::close(FFd);
    FFd = std::exchange(Other.FFd, -1);
    FPath = std::move(Other.FPath);
  }
  return *this;
}

TFolderHandle TFolderHandle::OpenNamed(const std::string& Path) {
  const int fd = ::open(Path.c_str(), kFolderFlags);
  if (fd < 0) return {};
  std::string shown = Path;
  while (shown.size() > 1 && shown.ends_with('/')) shown.pop_back();
  return {fd, std::move(shown)};
}

TFolderHandle TFolderHandle::OpenSub(const std::string& Name) const {
  if (!OneName(Name)) return {};
  const int fd = ::openat(FFd, Name.c_str(), kFolderFlags | O_NOFOLLOW);
  if (fd < 0) return {};
  return {fd, PathOf(Name)};
}

bool TFolderHandle::MakeSub(const std::string& Name) const { return OneName(Name) && ::mkdirat(FFd, Name.c_str(), 0777) == 0; }

bool TFolderHandle::Look(const std::string& Name, TEntryFacts& Facts) const {
  if (!OneName(Name)) return false;
  struct stat st {};
  if (::fstatat(FFd, Name.c_str(), &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) != 0) return false;
  Facts.Identity = IdentityOf(st);
  Facts.Links = static_cast<std::uint64_t>(st.st_nlink);
  Facts.Kind = S_ISREG(st.st_mode)   ? TEntryFacts::TKind::Regular
               : S_ISDIR(st.st_mode) ? TEntryFacts::TKind::Folder
               : S_ISLNK(st.st_mode) ? TEntryFacts::TKind::Link
                                     : TEntryFacts::TKind::Other;
  return true;
}

bool TFolderHandle::Unlink(const std::string& Name) const { return OneName(Name) && ::unlinkat(FFd, Name.c_str(), 0) == 0; }

std::string TFolderHandle::PathOf(const std::string& Name) const {
  return FPath.ends_with('/') ? FPath + Name : FPath + "/" + Name;
}

TFileIdentity TFolderHandle::Identity() const {
  struct stat st {};
  if (FFd < 0 || ::fstat(FFd, &st) != 0) return {};
  return IdentityOf(st);
}

}  // namespace kestrine::platform
