#pragma once
// Writing recovered files: new files only, folders, time stamps, the read-only state, and what the
// destination's file system can hold.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/folder_handle.h"

namespace kestrine::platform {

class TVolumeSource;

// A recovered file open for writing. It is always a new file: nothing that exists is replaced, and
// no symbolic link is followed into it.
class TOutputFile {
 public:
  // Nil when Path cannot be created (errno tells why; EEXIST when the name is taken).
  static std::unique_ptr<TOutputFile> CreateNew(const std::string& Path);
  // The same, as Name inside an open folder: nothing on the way is looked up again.
  static std::unique_ptr<TOutputFile> CreateNewIn(const TFolderHandle& Folder, const std::string& Name);
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  // Appends all Count bytes or fails. A block of zeros becomes a hole where the file system has them.
  bool Write(const void* Data, std::size_t Count);
  // Appends Count bytes of Source from Offset, copied inside the kernel. Bytes appended, fewer where
  // the source ends or fails; -1 when none could be, errno telling why (EXDEV, EINVAL, ENOSYS... when
  // the kernel cannot copy between the two, as from a block device or across file systems;
  // EOPNOTSUPP for a source whose bytes are not plain in one file).
  std::int64_t AppendFromVolume(const TVolumeSource& Source, std::int64_t Offset, std::int64_t Count);
  // Cuts or extends (with zeros) the file to Size bytes; later writes go on from there.
  bool SetSize(std::int64_t Size);
  // The last-write time; the last-access time stays as it is. Unix seconds and nanoseconds.
  bool SetModificationTime(std::int64_t Seconds, std::int64_t Nanoseconds);
  // Clears every write permission bit.
  bool SetReadOnly();

  const std::string& Path() const { return FPath; }
  std::int64_t Length() const { return FLength; }
  // Device and inode, to know the file again when it is read back.
  TFileIdentity Identity() const;

 private:
  TOutputFile(int Fd, std::string Path) : FFd(Fd), FPath(std::move(Path)) {}
  // A file that ends in skipped zeros gets its length.
  bool MaterializeHole();

  int FFd;
  std::string FPath;
  std::int64_t FLength = 0;
  bool FHoleAtEnd = false;
};

// Feeds Sink the bytes of the file at Path, in blocks, when it is still the file Identity names: a
// link or anything else put in its place since is neither followed nor read, and a FIFO never waits.
// False when it is not that file, or a read or Sink fails.
bool ReadBack(const std::string& Path, const TFileIdentity& Identity,
              const std::function<bool(const std::uint8_t* Data, std::size_t Count)>& Sink);

// What a name in a folder is now: free, a real folder (not a link to one), or taken by anything else.
enum class TPathState { Free, Folder, Taken };
TPathState GetPathState(const std::string& Path);

// Creates one folder; false when it cannot (errno tells why).
bool CreateFolder(const std::string& Path);

// The file-system name of the volume holding Folder ("ext4", "NTFS", "FAT", ...); "Unknown" when
// it cannot be asked.
std::string GetFileSystemName(const std::string& Folder);
std::string GetFileSystemName(const TFolderHandle& Folder);

// Whether files on the named file system can be given NTFS named data streams as "file:stream".
// No file system here offers that form.
bool StoresNamedStreams(const std::string& FileSystemName);

}  // namespace kestrine::platform
