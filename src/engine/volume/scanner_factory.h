#pragma once
// The engines known to the volume layer, by file-system kind.

#include <cstdint>
#include <memory>
#include <string>

#include "engine/volume/boot_sector.h"

namespace kestrine {

class TDiskObject;
class TDiskScaner;
class TRecoveryStream;
struct TFileInfo;

// Nil for kinds without an engine.
std::unique_ptr<TDiskScaner> CreateScannerForKind(TDiskObject* Disk, TFileSystemKind Kind);
std::unique_ptr<TRecoveryStream> CreateStreamForKind(TDiskObject* Disk, TFileSystemKind Kind, TFileInfo* Item,
                                                     const std::string& StreamName);

}  // namespace kestrine
