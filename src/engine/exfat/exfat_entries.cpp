#include "engine/exfat/exfat_entries.h"

#include <algorithm>
#include <vector>

#include "engine/ntfs/utf16_text.h"
#include "engine/volume/byte_order.h"

namespace kestrine {
namespace {

constexpr std::size_t kMaxSecondaries = 18;  // a Stream Extension and 17 File Name entries

std::uint8_t TypeAt(std::span<const std::uint8_t> Bytes, std::size_t Entry) { return Bytes[Entry * kExFatEntrySize]; }

// The type code with the in-use bit of State.
std::uint8_t InState(std::uint8_t Type, std::uint8_t State) {
  return static_cast<std::uint8_t>((Type & ~ExFatEntry::InUse) | State);
}

TExFatTime TimeAt(std::span<const std::uint8_t> File, std::size_t Stamp, std::size_t TenMs, std::size_t Offset) {
  return {ReadLe32(File, Stamp), TenMs ? File[TenMs] : std::uint8_t{0}, File[Offset]};
}

}  // namespace

TFileTime ExFatTimeToFileTime(const TExFatTime& Time) {
  const auto date = static_cast<std::uint16_t>(Time.Stamp >> 16);
  const auto time = static_cast<std::uint16_t>(Time.Stamp & 0xFFFF);
  if (!(Time.UtcOffset & 0x80)) return DosDateTimeToFileTime(date, time, Time.TenMs).value_or(0);
  // Seven bits, two's complement, in quarter hours.
  const int quarters = (Time.UtcOffset & 0x7F) >= 0x40 ? (Time.UtcOffset & 0x7F) - 0x80 : (Time.UtcOffset & 0x7F);
  return DosDateTimeAtOffsetToFileTime(date, time, Time.TenMs, quarters * 15).value_or(0);
}

bool IsFileEntry(std::span<const std::uint8_t> Bytes) {
  return Bytes.size() >= kExFatEntrySize && (Bytes[0] | ExFatEntry::InUse) == ExFatEntry::File;
}

std::uint16_t EntrySetChecksum(std::span<const std::uint8_t> Set) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < Set.size(); ++i) {
    if (i == 2 || i == 3) continue;
    std::uint8_t byte = Set[i];
    if (i % kExFatEntrySize == 0) byte |= ExFatEntry::InUse;
    sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + byte);
  }
  return sum;
}

std::optional<TExFatEntrySet> ParseEntrySet(std::span<const std::uint8_t> Bytes) {
  if (!IsFileEntry(Bytes) || Bytes.size() < 2 * kExFatEntrySize) return std::nullopt;
  const std::uint8_t state = Bytes[0] & ExFatEntry::InUse;
  const std::span<const std::uint8_t> stream = Bytes.subspan(kExFatEntrySize, kExFatEntrySize);
  if (stream[0] != InState(ExFatEntry::Stream, state)) return std::nullopt;
  TExFatEntrySet set;
  set.Deleted = state == 0;
  const std::size_t nameUnits = stream[3];
  set.Data.NoFatChain = (stream[1] & 0x02) != 0;
  set.Data.ValidDataLength = ReadLe64(stream, 8);
  set.Data.FirstCluster = ReadLe32(stream, 20);
  set.Data.DataLength = ReadLe64(stream, 24);
  if (nameUnits == 0 || set.Data.ValidDataLength > set.Data.DataLength) return std::nullopt;

  const std::size_t secondaries = Bytes[1];
  const std::size_t available = Bytes.size() / kExFatEntrySize;
  // The Name entries follow the Stream Extension; the name ends where they do.
  std::vector<std::uint8_t> utf16;
  std::size_t entry = 2;
  for (; entry < available && entry <= kMaxSecondaries && utf16.size() < 2 * nameUnits &&
         TypeAt(Bytes, entry) == InState(ExFatEntry::Name, state);
       ++entry) {
    const std::size_t want = std::min(ExFatEntry::NameUnitsPerEntry, nameUnits - utf16.size() / 2);
    const auto units = Bytes.subspan(entry * kExFatEntrySize + 2, 2 * want);
    utf16.insert(utf16.end(), units.begin(), units.end());
  }
  set.NameWhole = utf16.size() == 2 * nameUnits;
  set.Name = Utf16LeToUtf8(utf16);

  const bool countSound = secondaries >= 2 && secondaries <= kMaxSecondaries && secondaries < available;
  set.ChecksumOk = countSound && set.NameWhole &&
                   EntrySetChecksum(Bytes.first((secondaries + 1) * kExFatEntrySize)) == ReadLe16(Bytes, 2);
  set.Entries = set.ChecksumOk ? secondaries + 1 : entry;

  const std::span<const std::uint8_t> file = Bytes.first(kExFatEntrySize);
  set.Attributes = ReadLe16(file, 4);
  set.Created = TimeAt(file, 8, 20, 22);
  set.Modified = TimeAt(file, 12, 21, 23);
  return set;
}

}  // namespace kestrine
