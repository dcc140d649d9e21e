#include "engine/exfat/exfat_upcase.h"

#include "engine/volume/byte_order.h"

namespace kestrine {
namespace {

constexpr std::uint16_t kIdentityRun = 0xFFFF;
constexpr std::uint16_t kMandatoryUnits = 128;

std::uint16_t MandatoryUpper(std::uint16_t Unit) {
  return Unit >= 'a' && Unit <= 'z' ? static_cast<std::uint16_t>(Unit - ('a' - 'A')) : Unit;
}

}  // namespace

std::uint32_t ExFatUpCaseChecksum(std::span<const std::uint8_t> Bytes) {
  std::uint32_t sum = 0;
  for (const std::uint8_t byte : Bytes) sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + byte;
  return sum;
}

std::optional<TExFatUpCase> TExFatUpCase::Parse(std::span<const std::uint8_t> Bytes, std::uint32_t Checksum) {
  if (Bytes.size() % 2 != 0 || Bytes.size() > kExFatUpCaseMaxBytes || ExFatUpCaseChecksum(Bytes) != Checksum)
    return std::nullopt;
  TExFatUpCase upCase;
  std::vector<std::uint16_t>& table = upCase.FTable;
  table.reserve(Bytes.size() / 2);
  for (std::size_t at = 0; at < Bytes.size(); at += 2) {
    const std::uint16_t value = ReadLe16(Bytes, at);
    if (value != kIdentityRun || at + 2 >= Bytes.size()) {
      table.push_back(value);
      continue;
    }
    at += 2;
    const std::size_t run = ReadLe16(Bytes, at);
    if (table.size() + run > 0x10000) return std::nullopt;
    for (std::size_t i = 0; i < run; ++i) table.push_back(static_cast<std::uint16_t>(table.size()));
  }
  if (table.size() > 0x10000) return std::nullopt;
  for (std::uint16_t unit = 0; unit < kMandatoryUnits; ++unit)
    if (upCase.Upper(unit) != MandatoryUpper(unit)) return std::nullopt;
  return upCase;
}

std::uint16_t TExFatUpCase::Upper(std::uint16_t Unit) const {
  if (FTable.empty()) return MandatoryUpper(Unit);
  return Unit < FTable.size() ? FTable[Unit] : Unit;
}

std::optional<std::uint16_t> ExFatNameHash(std::span<const std::uint8_t> Utf16, const TExFatUpCase& UpCase) {
  std::uint16_t hash = 0;
  for (std::size_t at = 0; at + 1 < Utf16.size(); at += 2) {
    const std::uint16_t unit = ReadLe16(Utf16, at);
    if (!UpCase.Knows(unit)) return std::nullopt;
    const std::uint16_t upper = UpCase.Upper(unit);
    for (const std::uint8_t byte : {static_cast<std::uint8_t>(upper & 0xFF), static_cast<std::uint8_t>(upper >> 8)})
      hash = static_cast<std::uint16_t>(((hash & 1) ? 0x8000 : 0) + (hash >> 1) + byte);
  }
  return hash;
}

}  // namespace kestrine
