#pragma once
// The one routine through which every engine reads volume bytes.

#include <cstdint>
#include <memory>

#include "platform/volume_source.h"

namespace kestrine {

// A volume handle: nil means the volume could not be opened. Each scanner and stream owns its own.
using TVolumeHandle = std::unique_ptr<platform::TVolumeSource>;

// Bytes lying one after another on a volume, from Offset on; Length 0 for none.
struct TVolumeRange {
  std::int64_t Offset = 0;
  std::int64_t Length = 0;
};

// Bytes delivered into Buffer; anything less than Count is a failed read.
inline std::uint32_t ReadDisk(platform::TVolumeSource* Handle, void* Buffer, std::uint32_t Count, std::int64_t Offset) {
  return Handle ? Handle->Read(Buffer, Count, Offset) : 0;
}
inline std::uint32_t ReadDisk(const TVolumeHandle& Handle, void* Buffer, std::uint32_t Count, std::int64_t Offset) {
  return ReadDisk(Handle.get(), Buffer, Count, Offset);
}

}  // namespace kestrine
