#pragma once
// Checks and walks over the bytes of one MFT record, bounded by the record buffer.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/ntfs/ntfs_records.h"

namespace kestrine {

namespace MftRecordFlag {
inline constexpr std::uint16_t InUse = 0x01;
inline constexpr std::uint16_t Directory = 0x02;
}  // namespace MftRecordFlag

// True when the first four bytes are exactly "FILE".
bool HasFileMagic(std::span<const std::uint8_t> Record);

// Checks and undoes the update-sequence protection in place; false when the record must be treated as
// absent. The stride is the sector size, or 512 when the sequence counts 512-byte blocks of the record
// (as NTFS writes it on volumes with 4096-byte sectors).
bool ApplyFixups(std::span<std::uint8_t> Record, std::uint32_t BytesPerSector);

// The attribute headers of a record by slot, and where the walk over them ended.
struct TAttrIndex {
  TAttrSlots Slots;
  std::size_t End = 0;
};
// Walks from the first-attribute offset to the end marker, a header that does not fit, or the end of
// the buffer.
TAttrIndex IndexAttributes(std::span<const std::uint8_t> Record);

// The first attribute of the type (NtfsAttrType::Any for every type) and instance (-1 for any).
std::optional<TNtfsAttr> FindAttrInRecord(std::span<const std::uint8_t> Record, std::uint32_t Type, int Instance);

std::uint16_t RecordFlags(std::span<const std::uint8_t> Record);
std::uint64_t RecordBaseRef(std::span<const std::uint8_t> Record);
// The sequence number of the header; 0 (unknown) for a buffer too short to hold it.
std::uint16_t RecordSequence(std::span<const std::uint8_t> Record);
std::uint16_t FirstAttrOffset(std::span<const std::uint8_t> Record);

}  // namespace kestrine
