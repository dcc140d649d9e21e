#pragma once
// Which block devices a source and a destination folder sit on, so that recovered files are not
// written over the very clusters they are recovered from.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace kestrine::platform {

// Where the system describes block devices and mounts; tests point it at a tree of their own.
struct TDeviceTopology {
  std::string SysBlock = "/sys/class/block";  // one folder per device, with "dev" and "loop/backing_file"
  std::string SysDevBlock = "/sys/dev/block";  // "MAJOR:MINOR" links to the device folders
  std::string MountInfo = "/proc/self/mountinfo";
};

// The block devices a source's bytes come from: a device itself; for an image, the loop devices
// that serve any file it is made of. Empty when none is known.
std::vector<dev_t> SourceDevices(const std::string& SourcePath, const TDeviceTopology& Topology = {});

// The device of the file system that holds Folder. File systems without a device number of their
// own (btrfs, for one) are looked up by their mount's source. Nil when Folder cannot be examined.
std::optional<dev_t> FolderDevice(const std::string& Folder, const TDeviceTopology& Topology = {});

// Device, the disk it is a partition of, and every device below it (the members of an LVM volume or
// of an encrypted mapping), through every level.
std::vector<dev_t> DevicesBeneath(dev_t Device, const TDeviceTopology& Topology = {});

// Whether writing into Folder (or, when it does not exist yet, its nearest existing parent) writes
// onto a device the source is read from, or onto a partition of one.
bool DestinationOnSource(const std::string& Folder, const std::string& SourcePath,
                         const TDeviceTopology& Topology = {});

}  // namespace kestrine::platform
