#pragma once
// Where recovered files may go.

#include <string>

#include "platform/device_identity.h"

namespace kestrine {

// Writing onto the device being recovered overwrites the very clusters that hold the deleted data:
// a Folder on a device that SourcePath is read from is refused, unless the user forces it.
bool DestinationRefused(const std::string& Folder, const std::string& SourcePath, bool Force,
                        const platform::TDeviceTopology& Topology = {});

}  // namespace kestrine
