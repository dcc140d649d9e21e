#pragma once
// The exFAT up-case table: the upper case of each UTF-16 unit, as the volume hashed its names with
// it, and the name hash itself.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrine {

// A table maps at most every UTF-16 unit: 64K units of 2 bytes.
inline constexpr std::size_t kExFatUpCaseMaxBytes = std::size_t{2} << 16;

class TExFatUpCase {
 public:
  // The mapping every exFAT volume shares: a-z to A-Z, every other unit to itself.
  TExFatUpCase() = default;

  // The table stored in Bytes, whose identity runs (0xFFFF, count) are expanded. None when it does
  // not match Checksum, maps more than 64K units or maps the first 128 units otherwise than every
  // table must.
  static std::optional<TExFatUpCase> Parse(std::span<const std::uint8_t> Bytes, std::uint32_t Checksum);

  // Whether Unit's upper case is known: the mandatory mapping alone knows only ASCII.
  bool Knows(std::uint16_t Unit) const { return !FTable.empty() || Unit < 0x80; }
  std::uint16_t Upper(std::uint16_t Unit) const;

 private:
  std::vector<std::uint16_t> FTable;  // indexed by unit; units past its end map to themselves
};

// The table checksum: the same rotating sum as the boot region's, over every byte.
std::uint32_t ExFatUpCaseChecksum(std::span<const std::uint8_t> Bytes);

// The name hash of a name given as UTF-16LE bytes; none when UpCase does not know one of its units.
std::optional<std::uint16_t> ExFatNameHash(std::span<const std::uint8_t> Utf16, const TExFatUpCase& UpCase);

}  // namespace kestrine
