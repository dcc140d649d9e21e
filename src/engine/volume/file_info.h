#pragma once
// Found-item records and the non-owning lists that hold them.

#include <array>
#include <atomic>
#include <bit>
#include <concepts>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
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
  // What the user should know about how the item was found; empty for most.
  virtual std::string_view Note() const { return {}; }
};

// One found file or folder. Owned by its disk's item store; every list only points at it. Fields are
// ordered widest first: a large volume holds hundreds of thousands of these.
struct TFileInfo {
  std::string Name;                   // UTF-8, no path
  std::atomic<std::int64_t> Size{0};  // folders grow while the scan publishes files below them
  TFileTime CreationTime = 0;
  TFileTime LastWriteTime = 0;
  std::unique_ptr<TFsInfo> FsInfo;
  TFileInfo* Parent = nullptr;
  TDiskObject* Disk = nullptr;
  std::atomic<void*> TreeNode{nullptr};  // written on the main thread, tested by the scanner
  std::uint32_t Attributes = 0;
  std::int32_t Condition = 0;  // 0..100: share of the file's clusters still marked free
  bool IsFolder = false;
  bool Checked = false;

  template <typename T>
  T* Info() const {
    return dynamic_cast<T*>(FsInfo.get());
  }
};
using PFileInfo = TFileInfo*;

// A small list that several threads may change (a selection, the drives): every access is locked.
// Found items are published through TPublishedList instead, which readers use without a lock.
template <typename T>
class TPointerList {
 public:
  TPointerList() = default;
  TPointerList(const TPointerList& Other) : FItems(Other.Snapshot()) {}
  // A selection of everything a published list holds now.
  template <typename L>
    requires requires(const L& List) { { List.Snapshot() } -> std::same_as<std::vector<T*>>; }
  TPointerList(const L& Other) : FItems(Other.Snapshot()) {}
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

// An append-only list with one writer and lock-free readers. The writer fills a slot, then publishes
// the new count with a release store; a reader that loads the count (acquire) may read every slot
// below it without a lock. Slots live in blocks that double in size and never move, and the table of
// blocks is fixed, so nothing a reader holds is ever reallocated. Clear and destruction need that
// no other thread uses the list.
template <typename T>
class TPublishedList {
 public:
  TPublishedList() = default;
  ~TPublishedList() {
    for (T** block : FBlocks) delete[] block;
  }
  TPublishedList(const TPublishedList&) = delete;
  TPublishedList& operator=(const TPublishedList&) = delete;

  // Writer only; the index of the new slot.
  int Add(T* Item) {
    const std::size_t index = FCount.load(std::memory_order_relaxed);
    const auto [block, offset] = Locate(index);
    if (block >= kBlocks) throw std::length_error("published list full");
    if (!FBlocks[block]) FBlocks[block] = new T*[BlockSize(block)];
    FBlocks[block][offset] = Item;
    FCount.store(index + 1, std::memory_order_release);
    return static_cast<int>(index);
  }
  int Count() const { return static_cast<int>(FCount.load(std::memory_order_acquire)); }
  // Nil outside 0..Count-1.
  T* Items(int Index) const {
    if (Index < 0 || static_cast<std::size_t>(Index) >= FCount.load(std::memory_order_acquire)) return nullptr;
    return Slot(static_cast<std::size_t>(Index));
  }
  // Slots below a count the caller loaded before, unchecked.
  T* Slot(std::size_t Index) const {
    const auto [block, offset] = Locate(Index);
    return FBlocks[block][offset];
  }
  int IndexOf(const T* Item) const {
    const int count = Count();
    for (int i = 0; i < count; ++i)
      if (Slot(static_cast<std::size_t>(i)) == Item) return i;
    return -1;
  }
  std::vector<T*> Snapshot() const {
    const int count = Count();
    std::vector<T*> items;
    items.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) items.push_back(Slot(static_cast<std::size_t>(i)));
    return items;
  }
  // Blocks are kept for the next fill. No other thread may read meanwhile: the slots are written again.
  void Clear() { FCount.store(0, std::memory_order_release); }

 private:
  static constexpr std::size_t kFirstBlock = 1024;
  static constexpr std::size_t kBlocks = 22;  // 1024 * (2^22 - 1) slots: past every int index
  static std::size_t BlockSize(std::size_t Block) { return kFirstBlock << Block; }
  // Block k holds the slots from kFirstBlock * (2^k - 1) on.
  static std::pair<std::size_t, std::size_t> Locate(std::size_t Index) {
    const std::size_t scaled = Index / kFirstBlock + 1;
    const std::size_t block = static_cast<std::size_t>(std::bit_width(scaled)) - 1;
    return {block, Index - kFirstBlock * ((std::size_t{1} << block) - 1)};
  }

  std::array<T**, kBlocks> FBlocks{};
  std::atomic<std::size_t> FCount{0};
};

// A plain selection of found items, e.g. for one recovery.
using TDiskItems = TPointerList<TFileInfo>;
using TDiskListItems = TPointerList<TDiskObject>;
// The found items of a disk, appended by its scanning thread and read anywhere.
using TFoundItems = TPublishedList<TFileInfo>;

}  // namespace kestrine
