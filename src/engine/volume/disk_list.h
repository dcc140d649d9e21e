#pragma once
// The drives offered for recovery, listed once per run.

#include <memory>
#include <string>
#include <vector>

#include "engine/volume/disk_object.h"
#include "engine/volume/file_info.h"
#include "platform/drive_probe.h"

namespace kestrine {

// The drive map's entries, then local block devices under free letters from "c" on.
struct TDriveListing {
  std::vector<platform::TDriveSpec> Drives;
  std::vector<std::string> Errors;
};
TDriveListing ListLocalDrives();
// Gives discovered devices the letters the map left free, from "c" on; devices beyond "z" are left out.
void AssignFreeLetters(TDriveListing& Listing, const std::vector<platform::TBlockDevice>& Devices);

class TDiskList {
 public:
  explicit TDiskList(const TDriveListing& Listing, TScanReports* Reports = nullptr);
  ~TDiskList();
  TDiskList(const TDiskList&) = delete;
  TDiskList& operator=(const TDiskList&) = delete;

  int DiskCount() const { return Items.Count(); }
  // Nil when Index is negative or not below DiskCount.
  TDiskObject* GetDisk(int Index) const { return Items.Items(Index); }
  void FreeDisks();
  // One line for every drive that was asked for and gave no disk, naming it.
  const std::vector<std::string>& Errors() const { return FErrors; }

  TDiskListItems Items;

 private:
  void FillDiskListItems(const TDriveListing& Listing, TScanReports* Reports);
  std::vector<std::unique_ptr<TDiskObject>> FDisks;
  std::vector<std::string> FErrors;
};

}  // namespace kestrine
