#pragma once
// Found-item records and the non-owning lists that hold them.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "support/file_time.h"

namespace kestrine {

class TDiskObject;

// Windows file-attribute bits as found on the volume.
namespace FileAttr {
inline constexpr std::uint32_t ReadOnly = 0x01;
inline constexpr std::uint32_t Hidden = 0x02;
inline constexpr std::uint32_t System = 0x04;
inline constexpr std::uint32_t VolumeLabel = 0x08;
inline constexpr std::uint32_t Directory = 0x10;
inline constexpr std::uint32_t Archive = 0x20;
inline constexpr std::uint32_t Sparse = 0x200;
inline constexpr std::uint32_t ReparsePoint = 0x400;
inline constexpr std::uint32_t Compressed = 0x800;
inline constexpr std::uint32_t Encrypted = 0x4000;
}  // namespace FileAttr

// A named data stream of a found file.
struct TNamedStreamInfo {
  std::string Name;
  std::int64_t Size = 0;
};

// The engine's own record hanging off a found item (FAT entry, FAT folder, NTFS record).
struct TFsInfo {
  virtual ~TFsInfo() = default;
  // Whether the item itself is deleted (a shown folder's icon depends on it).
  virtual bool IsDeleted() const { return false; }
  // The master-file-table record of the item, where the file system has one.
  virtual std::optional<std::uint64_t> RecordNumber() const { return std::nullopt; }
  virtual std::vector<TNamedStreamInfo> NamedStreams() const { return {}; }
  // Whether the file system stores the item's data encrypted (recovered in the raw form).
  virtual bool IsEncrypted() const { return false; }
  virtual bool IsCompressed() const { return false; }
};

// One found file or folder. Owned by the scanner of its disk; every list only points at it.
struct TFileInfo {
  std::string Name;                  // UTF-8, no path
  std::atomic<std::int64_t> Size{0};  // folders grow while the scan publishes files below them
  std::uint32_t Attributes = 0;
  TFileTime CreationTime = 0;
  TFileTime LastWriteTime = 0;
  std::int32_t Condition = 0;        // 0..100: share of the file's clusters still marked free
  std::unique_ptr<TFsInfo> FsInfo;
  bool IsFolder = false;
  TFileInfo* Parent = nullptr;
  TDiskObject* Disk = nullptr;
  std::atomic<void*> TreeNode{nullptr};  // written on the main thread, tested by the scanner
  bool Checked = false;

  template <typename T>
  T* Info() const {
    return dynamic_cast<T*>(FsInfo.get());
  }
};
using PFileInfo = TFileInfo*;

// A list that a scanning thread appends to while other threads read it: every access is locked,
// so no reader sees the list in the middle of growing.
template <typename T>
class TPointerList {
 public:
  TPointerList() = default;
  TPointerList(const TPointerList& Other) : FItems(Other.Snapshot()) {}
  TPointerList& operator=(const TPointerList& Other) {
    if (this != &Other) {
      auto copy = Other.Snapshot();
      std::unique_lock lock(FLock);
      FItems = std::move(copy);
    }
    return *this;
  }

  int Add(T* Item) {
    std::unique_lock lock(FLock);
    FItems.push_back(Item);
    return static_cast<int>(FItems.size()) - 1;
  }
  void Delete(int Index) {
    std::unique_lock lock(FLock);
    if (Index >= 0 && Index < static_cast<int>(FItems.size())) FItems.erase(FItems.begin() + Index);
  }
  int IndexOf(const T* Item) const {
    std::shared_lock lock(FLock);
    for (std::size_t i = 0; i < FItems.size(); ++i)
      if (FItems[i] == Item) return static_cast<int>(i);
    return -1;
  }
  void Clear() {
    std::unique_lock lock(FLock);
    FItems.clear();
  }
  int Count() const {
    std::shared_lock lock(FLock);
    return static_cast<int>(FItems.size());
  }
  // Removes nil entries.
  void Pack() {
    std::unique_lock lock(FLock);
    std::erase(FItems, nullptr);
  }
  // Nil outside 0..Count-1.
  T* Items(int Index) const {
    std::shared_lock lock(FLock);
    return Index >= 0 && Index < static_cast<int>(FItems.size()) ? FItems[Index] : nullptr;
  }
  void SetItem(int Index, T* Item) {
    std::unique_lock lock(FLock);
    if (Index >= 0 && Index < static_cast<int>(FItems.size())) FItems[Index] = Item;
  }
  std::vector<T*> Snapshot() const {
    std::shared_lock lock(FLock);
    return FItems;
  }

 private:
  mutable std::shared_mutex FLock;
  std::vector<T*> FItems;
};

using TDiskItems = TPointerList<TFileInfo>;
using TDiskListItems = TPointerList<TDiskObject>;

}  // namespace kestrine
