#pragma once
// What the machine offers as drives: the drive map, local block devices, their facts and mounts.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/partition_table.h"

namespace kestrine::platform {

class TVolumeSource;

// The Windows drive types the drive list tells apart.
enum class TDriveType : int { Unknown = 0, NoRootDir = 1, Removable = 2, Fixed = 3, Remote = 4, CdRom = 5, RamDisk = 6 };

// Removable, fixed and RAM disks are offered for recovery; optical and network drives are not.
bool IsRecoverableDriveType(TDriveType Type);

struct TDriveSpec {
  char Letter = 0;            // lower case
  std::string Source;         // image file or block device
  std::string MountPoint;     // empty when not mounted
  TDriveType Type = TDriveType::Fixed;
  // A partition of Source: its table number (0 for the whole source), its bytes, and whether its
  // table entry ran past the end of Source.
  int Partition = 0;
  std::int64_t Offset = 0;
  std::int64_t Length = -1;
  bool Clipped = false;
};

struct TDriveMapResult {
  std::vector<TDriveSpec> Drives;
  std::vector<std::string> Errors;  // one line each, naming the entry
};

// Parses "d=/path/disk.img;e=/dev/sdb1". Malformed entries, duplicate letters and sources that
// cannot be opened for reading are reported and left out; the rest are kept.
TDriveMapResult ParseDriveMap(std::string_view Map);

// The environment's drive map, KESTRINE_DRIVES.
TDriveMapResult DriveMapFromEnvironment();

struct TBlockDevice {
  std::string Name;   // "sda1"
  std::string Path;   // "/dev/sda1"
  TDriveType Type = TDriveType::Fixed;
  dev_t Device = 0;
};

// Partitions and whole disks without partitions under SysBlock, in device order; devices of size 0
// and devices without a node under DevRoot are left out.
std::vector<TBlockDevice> DiscoverBlockDevices(const std::string& SysBlock = "/sys/class/block",
                                               const std::string& DevRoot = "/dev");

// Orders names the way people count devices: "sda2" before "sda10".
bool DeviceOrderLess(std::string_view A, std::string_view B);

// Mount point of a device number in a mountinfo file; empty when it is not mounted.
std::string FindMountPoint(dev_t Device, const std::string& MountInfo = "/proc/self/mountinfo");

// Mount point of an image attached to a loop device that is mounted; empty otherwise.
std::string FindLoopMountPoint(const std::string& ImagePath, const std::string& SysBlock = "/sys/class/block",
                               const std::string& MountInfo = "/proc/self/mountinfo");

// Label and file-system name of a volume, with Windows spellings for FAT and NTFS.
struct TVolumeFacts {
  std::string Label;
  std::string FileSystemName;
};
TVolumeFacts ProbeVolumeFacts(TVolumeSource& Source);

// The MBR (primary and logical) or GPT entries of a whole image or disk, in table order; empty when
// it holds no partition table.
std::vector<TPartitionEntry> ListPartitions(TVolumeSource& Source);

// Free and total bytes of a mounted file system.
struct TVolumeSpace {
  std::int64_t Total = 0;
  std::int64_t Free = 0;
};
std::optional<TVolumeSpace> MountedSpace(const std::string& MountPoint);

}  // namespace kestrine::platform
