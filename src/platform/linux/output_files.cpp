#include "platform/output_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/folder_handle.h"
#include "platform/volume_source.h"

namespace kestrine::platform {
namespace {

bool AllZero(const std::uint8_t* Data, std::size_t Count) {
  return Count > 0 && Data[0] == 0 && std::memcmp(Data, Data + 1, Count - 1) == 0;
}

// statfs magic numbers of the file systems a destination is likely to be on.
struct TFsMagic {
  unsigned long Magic;
  const char* Name;
};
constexpr TFsMagic kFsMagics[] = {
    {0xEF53, "ext4"},           {0x58465342, "xfs"},       {0x9123683E, "btrfs"},  {0xF2F52010, "f2fs"},
    {0x2FC12FC1, "zfs"},        {0x01021994, "tmpfs"},     {0x794C7630, "overlay"}, {0x4D44, "FAT"},
    {0x2011BAB0, "exFAT"},      {0x5346544E, "NTFS"},      {0x7366746E, "NTFS"},   {0x65735546, "fuse"},
    {0x6969, "nfs"},            {0xFF534D42, "cifs"},      {0xFE534D42, "smb2"},   {0x858458F6, "ramfs"},
    {0x3153464A, "jfs"},        {0x52654973, "reiserfs"},  {0x9660, "iso9660"},    {0x15013346, "udf"},
    {0xCA451A4E, "bcachefs"},   {0x73717368, "squashfs"},  {0xE0F5E1E2, "erofs"},
};

}  // namespace

std::unique_ptr<TOutputFile> TOutputFile::CreateNew(const std::string& Path) {
  const int fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  return std::unique_ptr<TOutputFile>(new TOutputFile(fd, Path));
}

std::unique_ptr<TOutputFile> TOutputFile::CreateNewIn(const TFolderHandle& Folder, const std::string& Name) {
  if (Name.empty() || Name == "." || Name == ".." || Name.find('/') != std::string::npos) {
    errno = EINVAL;
    return nullptr;
  }
  const int fd =
      ::openat(Folder.Descriptor(), Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  return std::unique_ptr<TOutputFile>(new TOutputFile(fd, Folder.PathOf(Name)));
}

TOutputFile::~TOutputFile() {
  MaterializeHole();
  ::close(FFd);
}

bool TOutputFile::Write(const void* Data, std::size_t Count) {
  const auto* p = static_cast<const std::uint8_t*>(Data);
  // Zeros are skipped over rather than written, so a sparse file comes back sparse.
  if (AllZero(p, Count)) {
    if (::lseek(FFd, static_cast<off_t>(Count), SEEK_CUR) < 0) return false;
    FLength += static_cast<std::int64_t>(Count);
    FHoleAtEnd = true;
    return true;
  }
  while (Count > 0) {
    const ssize_t n = ::write(FFd, p, Count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    Count -= static_cast<std::size_t>(n);
    FLength += n;
  }
  FHoleAtEnd = false;
  return true;
}

std::int64_t TOutputFile::AppendFromVolume(const TVolumeSource& Source, std::int64_t Offset, std::int64_t Count) {
  if (Offset < 0 || Count < 0) {
    errno = EINVAL;
    return -1;
  }
  // A container's file bytes are not the volume's: those are read and written, never copied.
  if (Source.Descriptor() < 0) {
    errno = EOPNOTSUPP;
    return -1;
  }
  Count = std::min(Count, std::max<std::int64_t>(0, Source.Size() - Offset));
  loff_t from = Source.Base() + Offset;
  std::int64_t done = 0;
  while (done < Count) {
    const ssize_t n = ::copy_file_range(Source.Descriptor(), &from, FFd, nullptr,
                                        static_cast<std::size_t>(Count - done), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && done == 0) return -1;
    if (n <= 0) break;
    done += n;
  }
  if (done > 0) {
    FLength += done;
    FHoleAtEnd = false;
  }
  return done;
}

bool TOutputFile::MaterializeHole() {
  if (!FHoleAtEnd) return true;
  FHoleAtEnd = false;
  return ::ftruncate(FFd, static_cast<off_t>(FLength)) == 0;
}

bool TOutputFile::SetSize(std::int64_t Size) {
  if (Size < 0) return false;
  if (Size == FLength && !FHoleAtEnd) return true;  // written up to there, and the offset is there
  FHoleAtEnd = false;
  if (::ftruncate(FFd, static_cast<off_t>(Size)) != 0) return false;
  FLength = Size;
  return ::lseek(FFd, static_cast<off_t>(Size), SEEK_SET) == static_cast<off_t>(Size);
}

bool TOutputFile::SetModificationTime(std::int64_t Seconds, std::int64_t Nanoseconds) {
  // Truncating later would move the time again, so any pending size change happens first.
  MaterializeHole();
  const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(Seconds), static_cast<long>(Nanoseconds)}};
  return ::futimens(FFd, times) == 0;
}

bool TOutputFile::SetReadOnly() {
  struct stat st {};
  if (::fstat(FFd, &st) != 0) return false;
  return ::fchmod(FFd, st.st_mode & 07555) == 0;
}

TPathState GetPathState(const std::string& Path) {
  struct stat st {};
  if (::lstat(Path.c_str(), &st) != 0) return errno == ENOENT ? TPathState::Free : TPathState::Taken;
  return S_ISDIR(st.st_mode) ? TPathState::Folder : TPathState::Taken;
}

bool CreateFolder(const std::string& Path) { return ::mkdir(Path.c_str(), 0777) == 0; }

namespace {

std::string FileSystemNameOf(const struct statfs& st) {
  const auto magic = static_cast<unsigned long>(st.f_type) & 0xFFFFFFFFul;
  for (const TFsMagic& m : kFsMagics)
    if (m.Magic == magic) return m.Name;
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%lX", magic);
  return hex;
}

}  // namespace

TFileIdentity TOutputFile::Identity() const {
  struct stat st {};
  if (::fstat(FFd, &st) != 0) return {};
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool ReadBack(const std::string& Path, const TFileIdentity& Identity,
              const std::function<bool(const std::uint8_t* Data, std::size_t Count)>& Sink) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && Identity.Known() &&
            TFileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)} == Identity;
  std::vector<std::uint8_t> buffer(256 * 1024);
  while (ok) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    ok = Sink(buffer.data(), static_cast<std::size_t>(got));
  }
  ::close(fd);
  return ok;
}

std::string GetFileSystemName(const std::string& Folder) {
  struct statfs st {};
  return ::statfs(Folder.c_str(), &st) == 0 ? FileSystemNameOf(st) : "Unknown";
}

std::string GetFileSystemName(const TFolderHandle& Folder) {
  struct statfs st {};
  return ::fstatfs(Folder.Descriptor(), &st) == 0 ? FileSystemNameOf(st) : "Unknown";
}

bool StoresNamedStreams(const std::string& /*FileSystemName*/) {
  // Linux drivers keep NTFS named streams, where at all, as extended attributes: a "file:stream" name
  // would only make a second file with a colon in its name.
  return false;
}

}  // namespace kestrine::platform
