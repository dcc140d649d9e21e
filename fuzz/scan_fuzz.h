#pragma once
// Volumes built by fuzz targets, and their scan: the scan must report its end once, and the first
// files found must read within their size, by Read and by their volume ranges alike.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"
#include "engine/volume/recovery_stream.h"
#include "engine/volume/scanner_factory.h"
#include "engine/volume/workflow_ports.h"
#include "fuzz/fuzz_support.h"

namespace kestrine::fuzz {

// Volumes built from fuzz inputs stop here: positions beyond are left out.
inline constexpr std::size_t kMaxVolume = 4 << 20;

// Size bytes of Data at Offset of Volume, growing it, as far as kMaxVolume.
inline void Place(std::vector<std::uint8_t>& Volume, std::uint64_t Offset, const std::uint8_t* Data, std::size_t Size) {
  if (Offset >= kMaxVolume) return;
  Size = std::min<std::size_t>(Size, kMaxVolume - Offset);
  if (Volume.size() < Offset + Size) Volume.resize(Offset + Size);
  std::copy_n(Data, Size, Volume.begin() + static_cast<std::ptrdiff_t>(Offset));
}

struct TEndCountingReports final : TScanReports {
  void FolderAdded(TDiskObject*, PFileInfo) override {}
  void FileAdded(TDiskObject*, PFileInfo) override {}
  void ScanProgress(TDiskObject*, std::int64_t, std::int64_t) override {}
  void ScanFinished(TDiskObject*) override { ++Finished; }
  int Finished = 0;
};

inline void ScanAndReadFound(const std::vector<std::uint8_t>& Volume) {
  TMemoryImage image(Volume.data(), Volume.size());
  if (!image.Ok()) return;
  TEndCountingReports reports;
  try {
    TDiskObject disk({'d', image.Path(), "", platform::TDriveType::Fixed}, &reports);
    if (!disk.Scanner) return;
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
      CheckVolumeRanges(*plain, *ranged, Volume, 1 << 20);
    }
  } catch (const TDiskObjectError&) {
    // A boot sector without geometry: no disk object, as it should be.
  }
}

}  // namespace kestrine::fuzz
