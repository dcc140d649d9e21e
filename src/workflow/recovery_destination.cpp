#include "workflow/recovery_destination.h"

namespace kestrine {

bool DestinationRefused(const std::string& Folder, const std::string& SourcePath, bool Force,
                        const platform::TDeviceTopology& Topology) {
  return !Force && platform::DestinationOnSource(Folder, SourcePath, Topology);
}

}  // namespace kestrine
