#include "engine/fat/fat_dir_entry.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/fat/fat_names.h"
#include "engine/volume/byte_order.h"

namespace kestrine {
namespace {

constexpr std::uint8_t kDeletedMark = 0xE5;
constexpr std::uint8_t kKanjiE5 = 0x05;  // a first byte 0x05 stands for 0xE5
// Byte 12: Windows NT keeps an all-lower-case base or extension as upper case plus these flags.
constexpr std::uint8_t kLowerBase = 0x08;
constexpr std::uint8_t kLowerExt = 0x10;

bool IsInvalidNameByte(std::uint8_t B) {
  if (B < 0x1A) return true;
  switch (B) {
    case '"': case '*': case '+': case ',': case '.': case '/': case ':': case ';':
    case '<': case '=': case '>': case '?': case '[': case '\\': case ']': case '|': return true;
    default: return false;
  }
}

// Bytes of 8 or 3 with characters of code 32 or less cut from both ends.
std::span<const std::uint8_t> Trimmed(std::span<const std::uint8_t> B) {
  while (!B.empty() && B.front() <= 0x20) B = B.subspan(1);
  while (!B.empty() && B.back() <= 0x20) B = B.first(B.size() - 1);
  return B;
}

// Appends the UTF-16 units of one group of a long-name slot, up to its terminator.
void AppendGroup(std::vector<std::uint16_t>& Units, std::span<const std::uint8_t> Slot, std::size_t Offset,
                 std::size_t Count) {
  for (std::size_t i = 0; i < Count; ++i) {
    const std::uint16_t u = ReadLe16(Slot, Offset + 2 * i);
    if (u == 0 || u == 0xFFFF) return;
    Units.push_back(u);
  }
}

}  // namespace

bool IsLongNameSlot(TDirSlot Slot) { return (Slot[11] & 0x0F) == 0x0F; }

std::uint32_t SlotFirstCluster(TDirSlot Slot, bool HighClusterWord) {
  const std::uint32_t high = HighClusterWord ? ReadLe16(Slot, 20) : 0;
  return (high << 16) | ReadLe16(Slot, 26);
}

bool IsValidEntry(TDirSlot Slot, const TSlotRules& Rules) {
  if (Slot[0] == 0 || Slot[11] > 0x3F) return false;
  if (IsLongNameSlot(Slot)) return true;
  const std::uint32_t first = SlotFirstCluster(Slot, Rules.HighClusterWord);
  if (first == 0 ? ReadLe32(Slot, 28) != 0 : first < 2 || first - 2 >= Rules.ClusterCount) return false;
  for (std::size_t i = 0; i < 11; ++i) {
    const std::uint8_t b = i == 0 && Slot[0] == kKanjiE5 ? kDeletedMark : Slot[i];
    if (IsInvalidNameByte(b)) return false;
  }
  return true;
}

std::string ShortName(TDirSlot Slot) {
  std::array<std::uint8_t, 11> bytes;
  std::copy_n(Slot.begin(), 11, bytes.begin());
  if (bytes[0] == kDeletedMark) bytes[0] = '$';
  else if (bytes[0] == kKanjiE5) bytes[0] = kDeletedMark;
  // Only ASCII letters: Windows leaves code-page characters as they are.
  const auto lower = [&](std::size_t From, std::size_t To) {
    for (std::size_t i = From; i < To; ++i)
      if (bytes[i] >= 'A' && bytes[i] <= 'Z') bytes[i] = static_cast<std::uint8_t>(bytes[i] + ('a' - 'A'));
  };
  if (Slot[12] & kLowerBase) lower(0, 8);
  if (Slot[12] & kLowerExt) lower(8, 11);
  std::string name;
  AppendCp437(name, Trimmed(std::span<const std::uint8_t>(bytes).first(8)));
  const auto ext = Trimmed(std::span<const std::uint8_t>(bytes).subspan(8));
  if (!ext.empty()) {
    name += '.';
    AppendCp437(name, ext);
  }
  return name;
}

std::string GetLongName(std::span<const std::uint8_t> Slots) {
  std::vector<std::uint16_t> units;
  // The slot nearest the 8.3 entry holds the name's first characters.
  for (std::size_t n = Slots.size() / kDirSlotSize; n > 0; --n) {
    const auto slot = Slots.subspan((n - 1) * kDirSlotSize, kDirSlotSize);
    AppendGroup(units, slot, 1, 5);
    if (ReadLe16(slot, 14) != 0xFFFF) AppendGroup(units, slot, 14, 6);
    if (ReadLe16(slot, 28) != 0xFFFF) AppendGroup(units, slot, 28, 2);
  }
  std::string name;
  AppendUtf16(name, units);
  return name;
}

void TDirEntryReader::PushLongNameSlot(TDirSlot Slot) {
  if (FRunLength == kMaxLongNameSlots) {
    std::memmove(FRun.data(), FRun.data() + kDirSlotSize, (kMaxLongNameSlots - 1) * kDirSlotSize);
    --FRunLength;
  }
  std::copy(Slot.begin(), Slot.end(), FRun.begin() + static_cast<std::ptrdiff_t>(FRunLength * kDirSlotSize));
  ++FRunLength;
}

bool TDirEntryReader::Feed(TDirSlot Slot) {
  if (!IsValidEntry(Slot, FRules)) {
    FRunLength = 0;
    return false;
  }
  if (IsLongNameSlot(Slot)) {
    PushLongNameSlot(Slot);
    return false;
  }
  std::copy(Slot.begin(), Slot.end(), FShort.begin());
  FEntryLength = FRunLength;
  FRunLength = 0;
  FEntry.Attributes = Slot[11];
  FEntry.Size = ReadLe32(Slot, 28);
  FEntry.FirstCluster = SlotFirstCluster(Slot, FRules.HighClusterWord);
  FEntry.Deleted = Slot[0] == kDeletedMark;
  FEntry.IsFolder = (Slot[11] & 0x10) != 0;
  FEntry.CreationTenMs = Slot[13];
  FEntry.CreationTime = ReadLe16(Slot, 14);
  FEntry.CreationDate = ReadLe16(Slot, 16);
  FEntry.WriteTime = ReadLe16(Slot, 22);
  FEntry.WriteDate = ReadLe16(Slot, 24);
  return true;
}

std::string TDirEntryReader::Name() const {
  std::string name = GetLongName(std::span<const std::uint8_t>(FRun).first(FEntryLength * kDirSlotSize));
  return name.empty() ? ShortName(FShort) : name;
}

}  // namespace kestrine
