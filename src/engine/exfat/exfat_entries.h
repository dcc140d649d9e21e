#pragma once
// exFAT directory entry sets: a File entry with its Stream Extension and File Name entries, parsed
// from the bytes of a directory (or of any cluster that may have held one).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "support/file_time.h"

namespace kestrine {

inline constexpr std::size_t kExFatEntrySize = 32;

namespace ExFatEntry {
inline constexpr std::uint8_t InUse = 0x80;  // cleared when an entry is deleted
inline constexpr std::uint8_t Bitmap = 0x81;
inline constexpr std::uint8_t UpCase = 0x82;
inline constexpr std::uint8_t Label = 0x83;
inline constexpr std::uint8_t File = 0x85;
inline constexpr std::uint8_t Stream = 0xC0;
inline constexpr std::uint8_t Name = 0xC1;
inline constexpr std::uint16_t DirectoryAttribute = 0x10;
inline constexpr std::size_t MaxNameUnits = 255;
inline constexpr std::size_t NameUnitsPerEntry = 15;
}  // namespace ExFatEntry

// A timestamp as stored: DOS date (high half) and time (low half), 10 ms units, UTC offset byte.
struct TExFatTime {
  std::uint32_t Stamp = 0;
  std::uint8_t TenMs = 0;
  std::uint8_t UtcOffset = 0;
};

// As UTC: the offset (15-minute units, valid when its top bit is set) gives the zone the stamp was
// written in; without one the stamp is taken as local time, as on FAT. 0 for a stamp no clock shows.
TFileTime ExFatTimeToFileTime(const TExFatTime& Time);

// Where a file's data lies and how much of it there is.
struct TExFatData {
  std::uint32_t FirstCluster = 0;
  std::uint64_t DataLength = 0;
  std::uint64_t ValidDataLength = 0;  // bytes past it read as zeros
  bool NoFatChain = false;            // contiguous from the first cluster; the table is not kept
};

struct TExFatEntrySet {
  bool Deleted = false;  // the File entry's in-use bit is clear
  // The stored set checksum matches the set as it was written (in-use bits set).
  bool ChecksumOk = false;
  std::uint16_t Attributes = 0;
  TExFatTime Created;
  TExFatTime Modified;
  TExFatData Data;
  std::string Name;  // UTF-8; as much of the name as the entries hold
  bool NameWhole = false;
  // Entries the set takes from its first: the whole set when it is sound, else the File, Stream and
  // Name entries that were found.
  std::size_t Entries = 0;

  bool IsFolder() const { return (Attributes & ExFatEntry::DirectoryAttribute) != 0; }
};

// Whether the entry at the start of Bytes is a File entry, in use or deleted.
bool IsFileEntry(std::span<const std::uint8_t> Bytes);

// The set whose File entry starts Bytes. None when it is not a File entry or when the entry after
// it is not a sound Stream Extension of the same state (name length 1..255, valid length not past
// the data length). A set that runs past Bytes keeps what lies inside.
std::optional<TExFatEntrySet> ParseEntrySet(std::span<const std::uint8_t> Bytes);

// The set checksum over Set (whole entries), skipping the checksum field itself. A deleted set is
// summed with the in-use bits set again, as it was when written.
std::uint16_t EntrySetChecksum(std::span<const std::uint8_t> Set);

}  // namespace kestrine
