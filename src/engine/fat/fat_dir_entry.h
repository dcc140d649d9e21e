#pragma once
// FAT directory slots: which are entries, and the entries put back together with their long names.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kestrine {

inline constexpr std::size_t kDirSlotSize = 32;
using TDirSlot = std::span<const std::uint8_t, kDirSlotSize>;

// A long name has at most 20 parts of 13 characters; a longer run is damage, and only the parts
// nearest the 8.3 entry are kept.
inline constexpr std::size_t kMaxLongNameSlots = 20;

// What a slot is judged against.
struct TSlotRules {
  std::uint32_t ClusterCount = 0;  // valid clusters are 2 .. ClusterCount + 1
  bool HighClusterWord = false;    // only FAT32 keeps the high half of the first cluster at offset 20
};

bool IsLongNameSlot(TDirSlot Slot);
std::uint32_t SlotFirstCluster(TDirSlot Slot, bool HighClusterWord);
// Free slots, ".", "..", slots with impossible attributes, names or clusters are not entries.
bool IsValidEntry(TDirSlot Slot, const TSlotRules& Rules);
// The 8.3 name, lower-cased where byte 12 asks; a deleted entry shows "$" for its lost first character.
std::string ShortName(TDirSlot Slot);
// Long-name slots as they lie on the volume (highest part first), joined in name order.
std::string GetLongName(std::span<const std::uint8_t> Slots);

struct TDirEntry {
  std::uint8_t Attributes = 0;
  std::uint32_t Size = 0;
  std::uint32_t FirstCluster = 0;
  bool Deleted = false;
  bool IsFolder = false;
  std::uint8_t CreationTenMs = 0;  // 10 ms units past CreationTime's even second
  std::uint16_t CreationTime = 0;
  std::uint16_t CreationDate = 0;
  std::uint16_t WriteTime = 0;
  std::uint16_t WriteDate = 0;
};

// Takes a directory's slots in order and yields its entries. Long-name runs may span windows.
class TDirEntryReader {
 public:
  explicit TDirEntryReader(const TSlotRules& Rules) : FRules(Rules) {}

  // True when the slot completes an entry; Entry() and Name() describe it until the next Feed.
  bool Feed(TDirSlot Slot);
  // The slots before the next one are unknown (a window could not be read): no long name spans it.
  void Break() { FRunLength = 0; }

  const TDirEntry& Entry() const { return FEntry; }
  // The long name when the entry has one, else the 8.3 name.
  std::string Name() const;

 private:
  void PushLongNameSlot(TDirSlot Slot);

  TSlotRules FRules;
  std::array<std::uint8_t, kMaxLongNameSlots * kDirSlotSize> FRun{};
  std::size_t FRunLength = 0;    // long-name slots waiting for their 8.3 entry
  std::size_t FEntryLength = 0;  // long-name slots of the current entry
  std::array<std::uint8_t, kDirSlotSize> FShort{};
  TDirEntry FEntry;
};

}  // namespace kestrine
