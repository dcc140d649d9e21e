// Boot-sector classification and the volume's own space count over arbitrary volume bytes.

#include <cstdint>

#include "engine/volume/disk_object.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  kestrine::fuzz::TMemoryImage image(Data, Size);
  if (!image.Ok()) return 0;
  try {
    kestrine::TDiskObject disk({'d', image.Path(), "", kestrine::platform::TDriveType::Fixed});
    if (disk.FreeSize > disk.TotalSize) __builtin_trap();
  } catch (const kestrine::TDiskObjectError&) {
    // A boot sector without geometry: the drive is left out, as it should be.
  }
  return 0;
}
