#pragma once
// The raw form of an encrypted file, as the raw encrypted-file functions exchange it: a file header with
// the "$EFS" metadata, a data stream header, then the stored data in blocks of 64 KiB, each after a
// 512-byte block header.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrine {

class TRecoveryStream;

inline constexpr std::uint32_t kEfsBlockHeaderSize = 512;
inline constexpr std::uint32_t kEfsBlockDataSize = 65536;
inline constexpr std::uint32_t kEfsBlockStride = kEfsBlockHeaderSize + kEfsBlockDataSize;
inline constexpr std::uint32_t kEfsMaxMetadata = 65536;

// The two templates, compiled in: the file header ("EFS01", 66 bytes) and the data stream header
// ("EFS02", 42 bytes).
std::span<const std::uint8_t> EfsTemplate1();
std::span<const std::uint8_t> EfsTemplate2();

// Header and metadata stream then data stream header (108 + M bytes, M = the metadata's first u32);
// empty when M is 0, above 64 KiB, or more than the metadata holds.
std::vector<std::uint8_t> BuildEfsRawHeader(std::span<const std::uint8_t> Metadata);

// The header of data block BlockNo holding DataLength (at most 64 KiB) bytes.
std::array<std::uint8_t, kEfsBlockHeaderSize> BuildEfsBlockHeader(std::uint32_t DataLength, std::uint32_t BlockNo);

// Data bytes that block BlockNo of a file of DataSize bytes holds, and those the raw form carries for it
// (rounded up to 512, the unit encryption works in).
std::uint32_t EfsBlockDataLength(std::int64_t DataSize, std::int64_t BlockNo);
std::uint32_t EfsBlockStoredLength(std::int64_t DataSize, std::int64_t BlockNo);
// Blocks of the raw form: one per whole 64 KiB and one for the rest, which may be empty.
std::int64_t EfsBlockCount(std::int64_t DataSize);
// Length of the whole raw form.
std::int64_t EfsRawLength(std::int64_t HeaderLength, std::int64_t DataSize);

// The operating system's raw import of encrypted files does not exist on this platform: recovery
// writes the raw form as a ".efs" file instead.
inline constexpr bool EfsRawApiAvailable = false;
bool ImportEfsRaw(TRecoveryStream& Stream, const std::string& Path);

}  // namespace kestrine
