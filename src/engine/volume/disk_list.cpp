#include "engine/volume/disk_list.h"

#include <algorithm>
#include <set>

#include "support/debug_log.h"

namespace kestrine {

void AssignFreeLetters(TDriveListing& Listing, const std::vector<platform::TBlockDevice>& Devices) {
  std::set<char> taken;
  for (const auto& d : Listing.Drives) taken.insert(d.Letter);
  char next = 'c';
  for (const auto& device : Devices) {
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
    try {
      auto disk = std::make_unique<TDiskObject>(drive, Reports);
      Items.Add(disk.get());
      FDisks.push_back(std::move(disk));
    } catch (const std::exception& e) {
      WriteLog(LogMessages::DiskObjectFailed, OperationNames::DiskListFillDiskListItems, drive.Letter);
      FErrors.push_back(std::string(1, drive.Letter) + "=" + drive.Source + ": drive left out: " + e.what());
    }
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
