// Every structure walk of the deep scan over the input as a file's first bytes, the FAT and exFAT
// lost-folder parsers over it as directory bytes, and the whole pass over it as a source with no
// file system, with the streams of what the pass found.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/deep/format_walks.h"
#include "engine/deep/lost_folders.h"
#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"
#include "engine/volume/recovery_stream.h"
#include "engine/volume/scanner_factory.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace kestrine;

void WalkEverything(std::span<const std::uint8_t> Bytes) {
  for (const TSignature& s : Signatures()) {
    TSpanReader reader(Bytes);
    if (const auto found = s.Walk(reader); found && (found->Length <= 0 || found->Length > reader.Size()))
      __builtin_trap();
  }
  std::vector<TLostFolder> folders;
  for (std::size_t at = 0; at + 512 <= Bytes.size(); at += 512)
    if (auto folder = ParseLostFolder(Bytes.subspan(at), TSlotRules{0x0FFFFFF5, true})) {
      folder->Offset = static_cast<std::int64_t>(at);
      folders.push_back(std::move(*folder));
    }
  InferGeometry(folders);
  ParseLostExFatFolder(Bytes);
}

void ScanAsSource(const std::uint8_t* Data, std::size_t Size) {
  fuzz::TMemoryImage image(Data, Size);
  if (!image.Ok()) return;
  std::unique_ptr<TDiskObject> made;
  try {
    made = std::make_unique<TDiskObject>(platform::TDriveSpec{'z', image.Path(), "", platform::TDriveType::Fixed});
  } catch (const TDiskObjectError&) {
    return;  // a boot sector no disk can be made of: the drive list leaves it out
  }
  TDiskObject& disk = *made;
  disk.SetDeepScan(true);
  if (!disk.Scanner) return;
  disk.Scanner->ScanForFiles();
  int streams = 0;
  for (PFileInfo f : disk.Files.Snapshot()) {
    if (++streams > 8) break;
    auto plain = CreateStreamForKind(&disk, disk.FileSystem, f, "");
    auto ranged = CreateStreamForKind(&disk, disk.FileSystem, f, "");
    if (plain && ranged) fuzz::CheckVolumeRanges(*plain, *ranged, std::span(Data, Size), 1 << 20);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size > (1 << 20)) return 0;
  WalkEverything(std::span(Data, Size));
  ScanAsSource(Data, Size);
  return 0;
}
