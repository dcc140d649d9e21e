#include "engine/volume/disk_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "platform/volume_source.h"
#include "support/debug_log.h"

namespace kestrine {
namespace {

// The device number of a block-device path; 0 for anything else.
dev_t BlockDeviceOf(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 && S_ISBLK(st.st_mode) ? st.st_rdev : 0;
}

bool HoldsScannableVolume(platform::TVolumeSource& Source) {
  const std::string name = platform::ProbeVolumeFacts(Source).FileSystemName;
  return name == "FAT" || name == "FAT32" || name == "NTFS" || name == "exFAT";
}

}  // namespace

void ExpandPartitions(TDriveListing& Listing) {
  std::set<char> taken;
  for (const auto& d : Listing.Drives) taken.insert(d.Letter);
  std::vector<platform::TDriveSpec> drives;
  for (const auto& drive : Listing.Drives) {
    auto source = drive.Partition == 0 ? platform::TVolumeSource::Open(drive.Source) : nullptr;
    const auto entries = source ? platform::ListPartitions(*source) : std::vector<platform::TPartitionEntry>{};
    if (entries.empty()) {
      drives.push_back(drive);
      continue;
    }
    bool first = true;
    for (const auto& entry : entries) {
      auto part = platform::TVolumeSource::Open(drive.Source, entry.Offset, entry.Length);
      if (!part || !HoldsScannableVolume(*part)) continue;
      platform::TDriveSpec partDrive = drive;
      partDrive.Partition = entry.Number;
      partDrive.Offset = entry.Offset;
      partDrive.Length = entry.Length;
      partDrive.Clipped = entry.Clipped;
      if (!first) {
        char next = 'c';
        while (next <= 'z' && taken.count(next)) ++next;
        if (next > 'z') {
          Listing.Errors.push_back(drive.Source + "@" + std::to_string(entry.Number) + ": no free drive letter left for it");
          continue;
        }
        partDrive.Letter = next;
        taken.insert(next);
      }
      first = false;
      drives.push_back(std::move(partDrive));
    }
    // A table without FAT, exFAT or NTFS leaves the drive as it was, so it is still listed and named.
    if (first) drives.push_back(drive);
  }
  Listing.Drives = std::move(drives);
}

void AssignFreeLetters(TDriveListing& Listing, const std::vector<platform::TBlockDevice>& Devices) {
  std::set<char> taken;
  std::set<std::string> named;
  std::set<dev_t> mapped;
  for (const auto& d : Listing.Drives) {
    taken.insert(d.Letter);
    std::error_code ec;
    named.insert(std::filesystem::weakly_canonical(d.Source, ec).string());
    if (const dev_t number = BlockDeviceOf(d.Source)) mapped.insert(number);
  }
  char next = 'c';
  for (const auto& device : Devices) {
    std::error_code ec;
    if (named.count(std::filesystem::weakly_canonical(device.Path, ec).string()) ||
        (device.Device != 0 && mapped.count(device.Device))) {
      continue;
    }
    while (next <= 'z' && taken.count(next)) ++next;
    if (next > 'z') break;
    platform::TDriveSpec drive;
    drive.Letter = next;
    drive.Source = device.Path;
    drive.MountPoint = platform::FindMountPoint(device.Device);
    drive.Type = device.Type;
    Listing.Drives.push_back(std::move(drive));
    taken.insert(next);
  }
}

TDriveListing ListLocalDrives() {
  platform::TDriveMapResult map = platform::DriveMapFromEnvironment();
  TDriveListing listing{std::move(map.Drives), std::move(map.Errors)};
  AssignFreeLetters(listing, platform::DiscoverBlockDevices());
  ExpandPartitions(listing);
  return listing;
}

TDiskList::TDiskList(const TDriveListing& Listing, TScanReports* Reports) : FErrors(Listing.Errors) {
  FillDiskListItems(Listing, Reports);
}

TDiskList::~TDiskList() { FreeDisks(); }

void TDiskList::FillDiskListItems(const TDriveListing& Listing, TScanReports* Reports) {
  // Drives are listed in letter order, whatever order they were found in.
  std::vector<platform::TDriveSpec> drives = Listing.Drives;
  std::stable_sort(drives.begin(), drives.end(), [](const auto& a, const auto& b) { return a.Letter < b.Letter; });
  for (const auto& drive : drives) {
    if (!platform::IsRecoverableDriveType(drive.Type)) continue;
    std::string error;
    if (!AddDrive(drive, Reports, error)) FErrors.push_back(error);
  }
}

TDiskObject* TDiskList::AddDrive(const platform::TDriveSpec& Spec, TScanReports* Reports, std::string& Error) {
  try {
    auto disk = std::make_unique<TDiskObject>(Spec, Reports);
    Items.Add(disk.get());
    FDisks.push_back(std::move(disk));
    return FDisks.back().get();
  } catch (const std::exception& e) {
    WriteLog(LogMessages::DiskObjectFailed, OperationNames::DiskListFillDiskListItems, Spec.Letter);
    Error = std::string(1, Spec.Letter) + "=" + Spec.Source + ": drive left out: " + e.what();
    return nullptr;
  }
}

void TDiskList::FreeDisks() {
  for (auto& disk : FDisks) {
    try {
      disk.reset();
    } catch (...) {
    }
  }
  FDisks.clear();
  Items.Clear();
}

}  // namespace kestrine
