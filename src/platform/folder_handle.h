#pragma once
// An open folder. Names in it are made, opened, looked at and removed relative to its descriptor, so
// a folder that is swapped for a link after it was opened is never followed, and no path is
// resolved twice.

#include <cstdint>
#include <string>

namespace kestrine::platform {

// Which file a name stood for: device and inode.
struct TFileIdentity {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  bool Known() const { return Device != 0 || Inode != 0; }
  bool operator==(const TFileIdentity&) const = default;
};

// What a name in a folder is, without following a link.
struct TEntryFacts {
  TFileIdentity Identity;
  enum class TKind { Regular, Folder, Link, Other } Kind = TKind::Other;
  std::uint64_t Links = 0;  // names the file has
};

class TFolderHandle {
 public:
  TFolderHandle() = default;  // open nothing
  ~TFolderHandle();
  TFolderHandle(TFolderHandle&& Other) noexcept;
  TFolderHandle& operator=(TFolderHandle&& Other) noexcept;
  TFolderHandle(const TFolderHandle&) = delete;
  TFolderHandle& operator=(const TFolderHandle&) = delete;

  // The folder a user named: links on the way are the user's own choice and are followed. Not open
  // when it cannot be (errno tells why; ENOTDIR when it is no folder).
  static TFolderHandle OpenNamed(const std::string& Path);

  // Subfolder Name, never through a link (ELOOP or ENOTDIR when Name is one, or no folder).
  TFolderHandle OpenSub(const std::string& Name) const;
  // Creates subfolder Name; false when it cannot (errno tells why; EEXIST when the name is taken).
  bool MakeSub(const std::string& Name) const;
  // Facts of Name as it is now; false when it cannot be looked at (errno: ENOENT when it is free).
  bool Look(const std::string& Name, TEntryFacts& Facts) const;
  // Removes the name Name (a link itself, never what it points to); false when it cannot (errno).
  bool Unlink(const std::string& Name) const;

  bool IsOpen() const { return FFd >= 0; }
  int Descriptor() const { return FFd; }
  // The path shown for it; the folder may have moved since it was opened.
  const std::string& Path() const { return FPath; }
  std::string PathOf(const std::string& Name) const;
  TFileIdentity Identity() const;

 private:
  TFolderHandle(int Fd, std::string Path) : FFd(Fd), FPath(std::move(Path)) {}
  int FFd = -1;
  std::string FPath;
};

}  // namespace kestrine::platform
