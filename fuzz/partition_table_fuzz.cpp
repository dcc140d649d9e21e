// What is read of an image's layout by our own code: partition tables (entries stay inside what the
// source holds, and a table that points at itself or past the end ends), image signatures, split
// names, and the regions a boot sector points the volume probes at.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "platform/image_reader.h"
#include "platform/partition_table.h"
#include "platform/probe_regions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace kestrine::platform;
  if (Size < 1) return 0;
  // The first byte sets how much larger than the input the source claims to be, in MiB; beyond the
  // input it reads as nothing, as a truncated image does.
  const std::span<const std::uint8_t> bytes(Data + 1, Size - 1);
  const std::int64_t claimed = static_cast<std::int64_t>(bytes.size()) + (std::int64_t{Data[0]} << 20);
  const TByteReader read = [&](std::uint8_t* Buffer, std::uint32_t Count, std::int64_t Offset) -> std::uint32_t {
    if (Offset < 0 || Offset >= static_cast<std::int64_t>(bytes.size())) return 0;
    const auto n = static_cast<std::uint32_t>(std::min<std::int64_t>(Count, bytes.size() - Offset));
    std::memcpy(Buffer, bytes.data() + Offset, n);
    return n;
  };
  // An entry that starts past the end is kept, holding nothing, as the table has it.
  for (const TPartitionEntry& e : ReadPartitionTable(read, claimed)) {
    if (e.Offset < 0 || e.Length < 0 || e.Length > claimed || (e.Length > 0 && e.Offset > claimed - e.Length) ||
        e.Number < 1 || (e.Length == 0 && !e.Clipped))
      __builtin_trap();
  }
  DetectImageFormat(bytes.first(std::min<std::size_t>(bytes.size(), 512)),
                    bytes.last(std::min<std::size_t>(bytes.size(), 512)));
  if (bytes.size() >= 512) {
    for (const TProbeRegion& r : ProbedRegions(bytes.first<512>()))
      if (r.Length < 0 || r.Length > (1 << 20)) __builtin_trap();
  }
  // Names with a digit below 5 before the end are there: a run of pieces, then a gap.
  std::string missing;
  const std::string name(reinterpret_cast<const char*>(bytes.data()), std::min<std::size_t>(bytes.size(), 64));
  const auto pieces = SplitImagePieces(name, [](const std::string& N) { return N.back() < '5'; }, missing);
  if (!pieces.empty() && pieces.front() != name) __builtin_trap();
  return 0;
}
