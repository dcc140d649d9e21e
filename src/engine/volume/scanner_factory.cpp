#include "engine/volume/scanner_factory.h"

#include "engine/volume/disk_scanner.h"
#include "engine/volume/recovery_stream.h"

namespace kestrine {

// The FAT and NTFS engines register here as they are built.
std::unique_ptr<TDiskScaner> CreateScannerForKind(TDiskObject* /*Disk*/, std::uint8_t /*Kind*/) { return nullptr; }

std::unique_ptr<TRecoveryStream> CreateStreamForKind(TDiskObject* /*Disk*/, std::uint8_t /*Kind*/, TFileInfo* /*Item*/,
                                                     const std::string& /*StreamName*/) {
  return nullptr;
}

}  // namespace kestrine
