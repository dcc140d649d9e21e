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
// Gives discovered devices the letters the map left free, from "c" on; devices beyond "z" are left out,
// and so are devices the listing reads already.
void AssignFreeLetters(TDriveListing& Listing, const std::vector<platform::TBlockDevice>& Devices);

// Replaces every whole image or disk of Listing that holds a partition table by its FAT, exFAT and NTFS
// partitions: the first keeps the drive's letter, the rest take the next free letters.
void ExpandPartitions(TDriveListing& Listing);

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
  // Adds a disk for Spec at the end of the list; nil with Error ("x=SOURCE: why") when it cannot.
  TDiskObject* AddDrive(const platform::TDriveSpec& Spec, TScanReports* Reports, std::string& Error);
  // One line for every drive that was asked for and gave no disk, naming it.
  const std::vector<std::string>& Errors() const { return FErrors; }

  TDiskListItems Items;

 private:
  void FillDiskListItems(const TDriveListing& Listing, TScanReports* Reports);
  std::vector<std::unique_ptr<TDiskObject>> FDisks;
  std::vector<std::string> FErrors;
};

}  // namespace kestrine
