#include "platform/partition_table.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <limits>
#include <set>

namespace kestrine::platform {
namespace {

constexpr std::size_t kRecordSize = 512;  // an MBR or extended boot record
constexpr int kMaxLogical = 256;
constexpr std::uint32_t kMaxGptEntryBytes = 1 << 20;

std::uint32_t Le32(const std::uint8_t* P) {
  return P[0] | (P[1] << 8) | (P[2] << 16) | (static_cast<std::uint32_t>(P[3]) << 24);
}
std::uint64_t Le64(const std::uint8_t* P) { return Le32(P) | (static_cast<std::uint64_t>(Le32(P + 4)) << 32); }

using TSector = std::array<std::uint8_t, kRecordSize>;

bool ReadSector(const TByteReader& Read, std::int64_t Offset, TSector& Sector) {
  return Offset >= 0 && Read(Sector.data(), Sector.size(), Offset) == Sector.size() && Sector[510] == 0x55 &&
         Sector[511] == 0xAA;
}

// A FAT, exFAT or NTFS boot sector also ends in 55 AA; its jump and parameter block tell it apart.
bool IsVolumeBootSector(const TSector& S) {
  const auto named = [&](const char* Name) { return std::equal(Name, Name + 8, S.begin() + 3); };
  if (named("NTFS    ") || named("EXFAT   ")) return true;
  const bool jump = S[0] == 0xE9 || (S[0] == 0xEB && S[2] == 0x90);
  const unsigned bytesPerSector = S[11] | (S[12] << 8);
  const unsigned perCluster = S[13];
  const unsigned fats = S[16];
  return jump && bytesPerSector >= 512 && bytesPerSector <= 4096 && (bytesPerSector & (bytesPerSector - 1)) == 0 &&
         perCluster != 0 && (perCluster & (perCluster - 1)) == 0 && (fats == 1 || fats == 2);
}

bool IsExtended(std::uint8_t Type) { return Type == 0x05 || Type == 0x0F || Type == 0x85; }

struct TMbrEntry {
  std::uint8_t Boot, Type;
  std::uint32_t Start, Count;
};
TMbrEntry MbrEntry(const TSector& S, int Index) {
  const std::uint8_t* e = S.data() + 0x1BE + Index * 16;
  return {e[0], e[4], Le32(e + 8), Le32(e + 12)};
}

void Add(std::vector<TPartitionEntry>& Entries, int Number, std::int64_t Offset, std::int64_t Length, std::int64_t Size) {
  if (Offset < 0 || Length <= 0) return;
  const std::int64_t held = std::max<std::int64_t>(0, Size - Offset);
  Entries.push_back({Number, Offset, std::min(Length, held), std::min(Length, held) < Length});
}

// Logical partitions: a chain of extended boot records, each holding one partition relative to
// itself and the next record relative to the extended partition's start.
void ReadLogical(const TByteReader& Read, std::int64_t Size, std::int64_t Sector, std::int64_t ExtendedStart,
                 std::vector<TPartitionEntry>& Entries) {
  std::set<std::int64_t> seen;
  std::int64_t record = ExtendedStart;
  int number = 5;
  TSector s;
  while (number < 5 + kMaxLogical && seen.insert(record).second && ReadSector(Read, record * Sector, s)) {
    const TMbrEntry part = MbrEntry(s, 0), next = MbrEntry(s, 1);
    if (part.Type != 0 && part.Count != 0 && !IsExtended(part.Type))
      Add(Entries, number++, (record + part.Start) * Sector, std::int64_t{part.Count} * Sector, Size);
    if (!IsExtended(next.Type) || next.Start == 0) break;
    record = ExtendedStart + next.Start;
  }
}

std::uint32_t Crc(const std::uint8_t* Data, std::size_t Count) {
  return static_cast<std::uint32_t>(crc32(0, Data, static_cast<uInt>(Count)));
}

// The GPT whose header lies at Lba in sectors of SectorSize, when its header and entries are whole.
bool ReadGpt(const TByteReader& Read, std::int64_t Size, std::int64_t SectorSize, std::int64_t Lba,
             std::vector<TPartitionEntry>& Entries) {
  std::vector<std::uint8_t> header(static_cast<std::size_t>(SectorSize));
  if (Lba <= 0 || Read(header.data(), header.size(), Lba * SectorSize) != header.size()) return false;
  const std::uint32_t headerSize = Le32(&header[12]);
  if (!std::equal(header.begin(), header.begin() + 8, "EFI PART") || headerSize < 92 || headerSize > SectorSize ||
      Le64(&header[24]) != static_cast<std::uint64_t>(Lba))
    return false;
  const std::uint32_t headerCrc = Le32(&header[16]);
  std::fill(header.begin() + 16, header.begin() + 20, 0);
  if (Crc(header.data(), headerSize) != headerCrc) return false;
  const std::uint64_t entriesLba = Le64(&header[72]);
  const std::uint32_t count = Le32(&header[80]), entrySize = Le32(&header[84]);
  if (entrySize < 128 || entrySize % 8 != 0 || count == 0 || std::uint64_t{count} * entrySize > kMaxGptEntryBytes ||
      entriesLba > static_cast<std::uint64_t>(Size / SectorSize))
    return false;
  std::vector<std::uint8_t> table(std::size_t{count} * entrySize);
  if (Read(table.data(), static_cast<std::uint32_t>(table.size()), static_cast<std::int64_t>(entriesLba) * SectorSize) !=
          table.size() ||
      Crc(table.data(), table.size()) != Le32(&header[88]))
    return false;
  const std::uint64_t maxLba = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() / SectorSize) - 1;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* e = table.data() + std::size_t{i} * entrySize;
    if (std::all_of(e, e + 16, [](std::uint8_t b) { return b == 0; })) continue;  // unused, but counted
    const std::uint64_t first = Le64(e + 32), last = Le64(e + 40);
    if (first > last || last >= maxLba) continue;
    Add(Entries, static_cast<int>(i + 1), static_cast<std::int64_t>(first) * SectorSize,
        static_cast<std::int64_t>(last - first + 1) * SectorSize, Size);
  }
  return true;
}

// The primary header, else the backup in the last sector; in 512-byte sectors, else 4096-byte ones.
std::vector<TPartitionEntry> ReadAnyGpt(const TByteReader& Read, std::int64_t Size) {
  for (const std::int64_t sectorSize : {std::int64_t{512}, std::int64_t{4096}}) {
    for (const std::int64_t lba : {std::int64_t{1}, Size / sectorSize - 1}) {
      std::vector<TPartitionEntry> entries;
      if (ReadGpt(Read, Size, sectorSize, lba, entries)) return entries;
    }
  }
  return {};
}

}  // namespace

std::vector<TPartitionEntry> ReadPartitionTable(const TByteReader& Read, std::int64_t Size, std::int64_t SectorSize) {
  TSector mbr;
  if (!ReadSector(Read, 0, mbr) || IsVolumeBootSector(mbr)) return {};
  std::vector<TPartitionEntry> entries;
  for (int i = 0; i < 4; ++i) {
    const TMbrEntry e = MbrEntry(mbr, i);
    if (e.Boot != 0 && e.Boot != 0x80) return {};
    if (e.Type == 0xEE) return ReadAnyGpt(Read, Size);
  }
  std::int64_t extended = -1;
  for (int i = 0; i < 4; ++i) {
    const TMbrEntry e = MbrEntry(mbr, i);
    if (e.Type == 0 || e.Count == 0) continue;
    if (IsExtended(e.Type)) {
      if (extended < 0) extended = e.Start;
      continue;
    }
    Add(entries, i + 1, std::int64_t{e.Start} * SectorSize, std::int64_t{e.Count} * SectorSize, Size);
  }
  if (extended > 0) ReadLogical(Read, Size, SectorSize, extended, entries);
  return entries;
}

}  // namespace kestrine::platform
