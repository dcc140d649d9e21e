// Directory slots put back together into entries and names.
//
// Input: 4 bytes of cluster count, 1 byte choosing FAT32's high cluster word, then slots; every
// byte after the header is fed, one 32-byte slot at a time, with a gap after every 64 slots.

#include <cstdint>
#include <cstring>
#include <string>

#include "engine/fat/fat_dir_entry.h"
#include "engine/fat/fat_names.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace kestrine;
  if (Size < 5) return 0;
  TSlotRules rules;
  std::memcpy(&rules.ClusterCount, Data, 4);
  rules.HighClusterWord = Data[4] & 1;
  TDirEntryReader reader(rules);
  std::size_t slots = 0;
  for (std::size_t at = 5; at + kDirSlotSize <= Size; at += kDirSlotSize) {
    if (++slots % 64 == 0) reader.Break();
    if (!reader.Feed(TDirSlot(Data + at, kDirSlotSize))) continue;
    const std::string name = reader.Name();
    // Names never hold NUL, and first clusters lie on the volume (or are none).
    if (name.find('\0') != std::string::npos) __builtin_trap();
    const std::uint32_t first = reader.Entry().FirstCluster;
    if (first != 0 && (first < 2 || first - 2 >= rules.ClusterCount)) __builtin_trap();
    IsExcludedBakName(name);
  }
  return 0;
}
