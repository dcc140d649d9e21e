#include "engine/deep/lost_folders.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "engine/exfat/exfat_entries.h"
#include "engine/volume/byte_order.h"

namespace kestrine {
namespace {

constexpr std::size_t kSlotsPerSector = 512 / kDirSlotSize;

bool IsDotEntry(TDirSlot Slot, bool Parent) {
  static constexpr char kDot[] = ".          ", kDotDot[] = "..         ";
  return std::memcmp(Slot.data(), Parent ? kDotDot : kDot, 11) == 0 && (Slot[11] & 0x10);
}

// Text in a directory's place passes the name checks often; its dates seldom do.
bool HasPlausibleDate(TDirSlot Slot) {
  const std::uint16_t date = ReadLe16(Slot, 24);
  if (date == 0) return true;
  const int month = (date >> 5) & 0x0F, day = date & 0x1F;
  return month >= 1 && month <= 12 && day >= 1;
}

bool IsSoundLongNameSlot(TDirSlot Slot) {
  return Slot[11] == 0x0F && Slot[12] == 0 && ReadLe16(Slot, 26) == 0 &&
         (Slot[0] == 0xE5 || ((Slot[0] & 0x3F) >= 1 && (Slot[0] & 0x3F) <= kMaxLongNameSlots));
}

std::uint8_t ShortNameSum(TDirSlot Short, std::uint8_t First) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < 11; ++i)
    sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + (i == 0 ? First : Short[i]));
  return sum;
}

// Whether the long-name slots were written for this 8.3 entry. A deleted entry lost its first
// byte, so any first byte that gives their checksum will do.
bool LongNameBelongs(TDirSlot Short, std::span<const std::uint8_t> Sums) {
  if (Sums.empty()) return true;
  const auto agrees = [&](std::uint8_t First) {
    const std::uint8_t sum = ShortNameSum(Short, First);
    return std::all_of(Sums.begin(), Sums.end(), [&](std::uint8_t s) { return s == sum; });
  };
  if (Short[0] != 0xE5) return agrees(Short[0]);
  for (int first = 0x20; first < 0x100; ++first)
    if (agrees(static_cast<std::uint8_t>(first))) return true;
  return false;
}

}  // namespace

std::optional<TLostFolder> ParseLostFolder(std::span<const std::uint8_t> Bytes, const TSlotRules& Rules) {
  TLostFolder folder;
  TDirEntryReader reader(Rules);
  std::vector<std::uint8_t> sums;  // checksums of the long-name slots before the next 8.3 entry
  const std::size_t slots = Bytes.size() / kDirSlotSize;
  for (std::size_t i = 0; i < slots; ++i) {
    const TDirSlot slot(Bytes.data() + i * kDirSlotSize, kDirSlotSize);
    if (slot[0] == 0) break;
    if (IsDotEntry(slot, false) || IsDotEntry(slot, true)) {
      if (i == 0) folder.OwnCluster = SlotFirstCluster(slot, Rules.HighClusterWord);
      reader.Break();
      sums.clear();
      continue;
    }
    const bool sound =
        IsLongNameSlot(slot) ? IsSoundLongNameSlot(slot) : IsValidEntry(slot, Rules) && HasPlausibleDate(slot);
    if (!sound) {
      if (i < kSlotsPerSector) return std::nullopt;
      break;
    }
    if (!reader.Feed(slot)) {
      if (IsLongNameSlot(slot)) sums.push_back(slot[13]);
      continue;
    }
    const bool named = LongNameBelongs(slot, sums);
    sums.clear();
    const TDirEntry& e = reader.Entry();
    if (e.IsFolder || (e.Attributes & 0x08)) continue;
    folder.Entries.push_back(TLostEntry{
        named ? reader.Name() : ShortName(slot), e.Size, e.FirstCluster, e.Attributes,
        DosDateTimeToFileTime(e.CreationDate, e.CreationTime, e.CreationTenMs).value_or(0),
        DosDateTimeToFileTime(e.WriteDate, e.WriteTime).value_or(0), static_cast<std::uint32_t>(i * kDirSlotSize)});
  }
  if (folder.Entries.empty()) return std::nullopt;
  return folder;
}

std::optional<TLostFolder> ParseLostExFatFolder(std::span<const std::uint8_t> Bytes) {
  TLostFolder folder;
  for (std::size_t at = 0; at + kExFatEntrySize <= Bytes.size();) {
    const auto set = IsFileEntry(Bytes.subspan(at)) ? ParseEntrySet(Bytes.subspan(at)) : std::nullopt;
    if (!set || !set->ChecksumOk) {
      at += kExFatEntrySize;
      continue;
    }
    if (!set->IsFolder())
      folder.Entries.push_back(TLostEntry{set->Name, set->Data.DataLength, set->Data.FirstCluster, set->Attributes,
                                          ExFatTimeToFileTime(set->Created), ExFatTimeToFileTime(set->Modified),
                                          static_cast<std::uint32_t>(at)});
    at += std::max<std::size_t>(1, set->Entries) * kExFatEntrySize;
  }
  if (folder.Entries.empty()) return std::nullopt;
  return folder;
}

std::optional<TFatGeometry> InferGeometry(std::span<const TLostFolder> Folders) {
  std::vector<const TLostFolder*> known;
  for (const TLostFolder& f : Folders)
    if (f.OwnCluster && *f.OwnCluster >= 2) known.push_back(&f);
  std::sort(known.begin(), known.end(), [](auto* A, auto* B) { return *A->OwnCluster < *B->OwnCluster; });
  // Neighbours in cluster order vote for a cluster size and the place of cluster 2.
  std::map<std::pair<std::int64_t, std::uint32_t>, int> votes;
  for (std::size_t i = 1; i < known.size(); ++i) {
    const std::int64_t clusters = std::int64_t{*known[i]->OwnCluster} - *known[i - 1]->OwnCluster;
    const std::int64_t bytes = known[i]->Offset - known[i - 1]->Offset;
    if (clusters <= 0 || bytes <= 0 || bytes % clusters != 0) continue;
    const std::int64_t size = bytes / clusters;
    if (size < 512 || size > 65536 || (size & (size - 1)) != 0) continue;
    const std::int64_t data = known[i]->Offset - (std::int64_t{*known[i]->OwnCluster} - 2) * size;
    if (data < 0) continue;
    ++votes[{data, static_cast<std::uint32_t>(size)}];
  }
  const auto best = std::max_element(votes.begin(), votes.end(), [](auto& A, auto& B) { return A.second < B.second; });
  if (best == votes.end()) return std::nullopt;
  return TFatGeometry{best->first.first, best->first.second};
}

}  // namespace kestrine
