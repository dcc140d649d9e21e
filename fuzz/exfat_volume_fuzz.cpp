// The exFAT boot region, entry-set parser and folder walk over a small volume built from the input,
// then the recovery streams of what the walk found, by Read and by their volume ranges.
//
// Input: 120 bytes of boot sector fields, a byte whose low bit asks for the boot region's checksum
// to be sealed (so the walk is reached), a 16-bit length L, L bytes of allocation table placed where
// the boot sector puts it, then the cluster heap's first bytes. Positions beyond a few megabytes
// are left out of the volume. The heap bytes are also read as an up-case table (sealed with their own
// checksum, so that it is expanded), and every 32-byte slot of them as an entry set hashed with it.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/exfat/exfat_boot.h"
#include "engine/exfat/exfat_entries.h"
#include "engine/exfat/exfat_upcase.h"
#include "engine/volume/byte_order.h"
#include "fuzz/scan_fuzz.h"

namespace {

using namespace kestrine;

constexpr std::size_t kFields = 120;

std::vector<std::uint8_t> BuildVolume(const std::uint8_t* Data, std::size_t Size) {
  std::vector<std::uint8_t> volume(kExFatBootRegionMax);
  std::copy_n(Data, kFields, volume.begin());
  volume[510] = 0x55;
  volume[511] = 0xAA;
  const bool seal = Data[kFields] & 1;
  Data += kFields + 1;
  Size -= kFields + 1;
  const std::uint32_t sector = 1u << std::clamp<std::uint8_t>(volume[108], 9, 12);
  if (seal) {
    const std::uint32_t sum = ExFatBootChecksum(std::span(volume).first(11 * sector));
    for (std::uint32_t at = 11 * sector; at < 12 * sector; at += 4)
      for (int b = 0; b < 4; ++b) volume[at + b] = static_cast<std::uint8_t>(sum >> (8 * b));
  }
  const std::size_t fatLength = Size >= 2 ? std::min<std::size_t>(Data[0] | (Data[1] << 8), Size - 2) : 0;
  const std::uint8_t* heap = Data + 2 + fatLength;
  const std::size_t heapLength = Size >= 2 ? Size - 2 - fatLength : 0;
  fuzz::Place(volume, std::uint64_t{ReadLe32(volume, 80)} * sector, Data + 2, fatLength);
  fuzz::Place(volume, std::uint64_t{ReadLe32(volume, 88)} * sector, heap, heapLength);
  return volume;
}

TExFatUpCase UpCaseFrom(std::span<const std::uint8_t> Heap) {
  const auto table = Heap.first(std::min(Heap.size(), kExFatUpCaseMaxBytes + 2) & ~std::size_t{1});
  return TExFatUpCase::Parse(table, ExFatUpCaseChecksum(table)).value_or(TExFatUpCase{});
}

void ParseEverySlot(std::span<const std::uint8_t> Heap) {
  const TExFatUpCase upCase = UpCaseFrom(Heap);
  for (std::size_t at = 0; at + kExFatEntrySize <= Heap.size(); at += kExFatEntrySize) {
    const auto set = ParseEntrySet(Heap.subspan(at), upCase);
    if (!set) continue;
    if (set->Entries == 0 || set->Entries * kExFatEntrySize > Heap.size() - at) __builtin_trap();
    ExFatTimeToFileTime(set->Created);
    ExFatTimeToFileTime(set->Modified);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < kFields + 1) return 0;
  const std::vector<std::uint8_t> volume = BuildVolume(Data, Size);
  ParseEverySlot(std::span(Data + kFields + 1, Size - kFields - 1));
  fuzz::ScanAndReadFound(volume);
  return 0;
}
