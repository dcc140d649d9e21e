// A whole NTFS scan over a small volume, then a bounded read of every stream found, by Read and by
// its volume ranges.

#include <cstdint>
#include <vector>

#include "engine/ntfs/ntfs_records.h"
#include "engine/ntfs/ntfs_stream.h"
#include "engine/volume/boot_sector.h"
#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace kestrine;
  fuzz::TMemoryImage image(Data, Size);
  if (!image.Ok()) return 0;
  try {
    TDiskObject disk({'d', image.Path(), "", platform::TDriveType::Fixed});
    if (disk.FileSystem != TFileSystemKind::Ntfs || !disk.Scanner) return 0;
    disk.Scanner->ScanForFiles();
    std::vector<std::uint8_t> buf(65536);
    for (PFileInfo item : disk.Files.Snapshot()) {
      const auto* info = item->Info<TNtfsFileInfo>();
      if (!info || item->Condition < 0 || item->Condition > 100) __builtin_trap();
      std::vector<std::string> names = {""};
      for (const auto& stream : info->NamedStreams()) names.push_back(stream.Name);
      for (const auto& name : names) {
        TRecoveryNtfsStream stream(&disk, name, item);
        for (int i = 0; i < 4 && stream.Read(buf.data(), 65536) > 0; ++i) {
        }
        TRecoveryNtfsStream plain(&disk, name, item), ranged(&disk, name, item);
        fuzz::CheckVolumeRanges(plain, ranged, {Data, Size}, 4 * 65536);
      }
    }
  } catch (const TDiskObjectError&) {
  }
  return 0;
}
