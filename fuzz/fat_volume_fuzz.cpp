// The FAT boot sector, allocation table and directory walk over a small volume built from the input,
// then the recovery streams of what the walk found, by Read and by their volume ranges.
//
// Input: 512 bytes of boot sector, a 16-bit length L, L bytes of allocation table (placed in every
// table the boot sector names), then the directory bytes, placed where the root (FAT12/16) or the
// first cluster (FAT32) begins. Positions beyond a few megabytes are left out of the volume.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/volume/boot_sector.h"
#include "fuzz/scan_fuzz.h"

namespace {

using namespace kestrine;

std::vector<std::uint8_t> BuildVolume(const std::uint8_t* Data, std::size_t Size) {
  std::vector<std::uint8_t> volume(Data, Data + kBootSectorSize);
  std::span<const std::uint8_t, kBootSectorSize> boot(volume.data(), kBootSectorSize);
  const TBpb bpb = ParseBpb(boot);
  Data += kBootSectorSize;
  Size -= kBootSectorSize;
  const std::size_t fatLength = Size >= 2 ? std::min<std::size_t>(Data[0] | (Data[1] << 8), Size - 2) : 0;
  const std::uint8_t* fat = Data + 2;
  const std::uint8_t* dir = fat + fatLength;
  const std::size_t dirLength = Size >= 2 ? Size - 2 - fatLength : 0;
  const std::uint64_t tables = std::uint64_t{bpb.ReservedSectors} * bpb.BytesPerSector;
  const std::uint64_t fatBytes = std::uint64_t{bpb.FatSize16 ? bpb.FatSize16 : bpb.FatSize32} * bpb.BytesPerSector;
  for (unsigned t = 0; t < std::min<unsigned>(bpb.NumberOfFats, 2); ++t)
    fuzz::Place(volume, tables + t * fatBytes, fat, fatLength);
  const std::uint64_t root = tables + bpb.NumberOfFats * fatBytes;
  const auto layout = ComputeFatLayout(bpb);
  const std::uint64_t rootBytes = layout ? std::uint64_t{layout->RootDirSectors} * bpb.BytesPerSector : 0;
  fuzz::Place(volume, bpb.RootEntryCount ? root : root + rootBytes, dir, dirLength);
  return volume;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < kBootSectorSize) return 0;
  const std::vector<std::uint8_t> volume = BuildVolume(Data, Size);
  fuzz::ScanAndReadFound(volume);
  return 0;
}
