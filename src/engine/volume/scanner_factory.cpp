#include "engine/volume/scanner_factory.h"

#include "engine/exfat/exfat_scanner.h"
#include "engine/exfat/exfat_stream.h"
#include "engine/fat/fat_scanner.h"
#include "engine/fat/fat_stream.h"
#include "engine/ntfs/ntfs_scanner.h"
#include "engine/ntfs/ntfs_stream.h"
#include "engine/volume/boot_sector.h"
#include "engine/volume/disk_scanner.h"
#include "engine/volume/recovery_stream.h"

namespace kestrine {

// The engines register here as they are built.
std::unique_ptr<TDiskScaner> CreateScannerForKind(TDiskObject* Disk, TFileSystemKind Kind) {
  switch (Kind) {
    case TFileSystemKind::Fat12: return std::make_unique<TFat12Scaner>(Disk);
    case TFileSystemKind::Fat16: return std::make_unique<TFat16Scaner>(Disk);
    case TFileSystemKind::Fat32: return std::make_unique<TFat32Scaner>(Disk);
    case TFileSystemKind::Ntfs: return std::make_unique<TNtfsScaner>(Disk);
    case TFileSystemKind::ExFat: return std::make_unique<TExFatScaner>(Disk);
    default: return nullptr;
  }
}

std::unique_ptr<TRecoveryStream> CreateStreamForKind(TDiskObject* Disk, TFileSystemKind Kind, TFileInfo* Item,
                                                     const std::string& StreamName) {
  switch (Kind) {
    case TFileSystemKind::Fat12:
    case TFileSystemKind::Fat16:
    case TFileSystemKind::Fat32:
    case TFileSystemKind::ExFat:
      // FAT files have no named streams: a name asks for what does not exist, not for the main data.
      if (!StreamName.empty()) return nullptr;
      if (Kind == TFileSystemKind::ExFat) return std::make_unique<TRecoveryExFatStream>(Disk, Item);
      return std::make_unique<TRecoveryFatStream>(Disk, Item);
    case TFileSystemKind::Ntfs: return std::make_unique<TRecoveryNtfsStream>(Disk, StreamName, Item);
    default: return nullptr;
  }
}

}  // namespace kestrine
