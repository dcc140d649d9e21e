// The exFAT boot region, entry-set parser and folder walk over a small volume built from the input,
// then the recovery streams of what the walk found, by Read and by their volume ranges.
//
// Input: 120 bytes of boot sector fields, a byte whose low bit asks for the boot region's checksum
// to be sealed (so the walk is reached), a 16-bit length L, L bytes of allocation table placed where
// the boot sector puts it, then the cluster heap's first bytes. Positions beyond a few megabytes
// are left out of the volume. Every 32-byte slot of the heap bytes is also parsed as an entry set.

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "engine/exfat/exfat_boot.h"
#include "engine/exfat/exfat_entries.h"
#include "engine/volume/byte_order.h"
#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"
#include "engine/volume/recovery_stream.h"
#include "engine/volume/scanner_factory.h"
#include "engine/volume/workflow_ports.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace kestrine;

constexpr std::size_t kMaxVolume = 4 << 20;
constexpr std::size_t kFields = 120;

struct TTreeReports final : TScanReports {
  void FolderAdded(TDiskObject*, PFileInfo) override {}
  void FileAdded(TDiskObject*, PFileInfo) override {}
  void ScanProgress(TDiskObject*, std::int64_t, std::int64_t) override {}
  void ScanFinished(TDiskObject*) override { ++Finished; }
  int Finished = 0;
};

void Place(std::vector<std::uint8_t>& Volume, std::uint64_t Offset, const std::uint8_t* Data, std::size_t Size) {
  if (Offset >= kMaxVolume) return;
  Size = std::min<std::size_t>(Size, kMaxVolume - Offset);
  if (Volume.size() < Offset + Size) Volume.resize(Offset + Size);
  std::copy_n(Data, Size, Volume.begin() + static_cast<std::ptrdiff_t>(Offset));
}

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
  Place(volume, std::uint64_t{ReadLe32(volume, 80)} * sector, Data + 2, fatLength);
  Place(volume, std::uint64_t{ReadLe32(volume, 88)} * sector, heap, heapLength);
  return volume;
}

void ParseEverySlot(std::span<const std::uint8_t> Heap) {
  for (std::size_t at = 0; at + kExFatEntrySize <= Heap.size(); at += kExFatEntrySize) {
    const auto set = ParseEntrySet(Heap.subspan(at));
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
  fuzz::TMemoryImage image(volume.data(), volume.size());
  if (!image.Ok()) return 0;
  TTreeReports reports;
  try {
    TDiskObject disk({'d', image.Path(), "", platform::TDriveType::Fixed}, &reports);
    if (!disk.Scanner) return 0;
    disk.Scanner->ScanForFiles();
    if (reports.Finished != 1) __builtin_trap();
    std::array<std::uint8_t, 4096> buffer;
    int streams = 0;
    for (PFileInfo f : disk.Files.Snapshot()) {
      if (++streams > 8) break;
      auto stream = CreateStreamForKind(&disk, disk.FileSystem, f, "");
      std::int64_t total = 0;
      while (const std::uint32_t n = stream->Read(buffer.data(), buffer.size())) total += n;
      if (total > f->Size) __builtin_trap();
      auto plain = CreateStreamForKind(&disk, disk.FileSystem, f, "");
      auto ranged = CreateStreamForKind(&disk, disk.FileSystem, f, "");
      fuzz::CheckVolumeRanges(*plain, *ranged, volume, 1 << 20);
    }
  } catch (const TDiskObjectError&) {
    // A boot sector without geometry: no disk object, as it should be.
  }
  return 0;
}
