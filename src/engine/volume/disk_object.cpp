#include "engine/volume/disk_object.h"

#include <array>
#include <cctype>

#include "engine/deep/deep_scanner.h"
#include "engine/volume/boot_sector.h"
#include "engine/volume/disk_scanner.h"
#include "engine/volume/workflow_ports.h"
#include "engine/volume/scanner_factory.h"
#include "support/debug_log.h"

namespace kestrine {

TDiskObject::TDiskObject(const platform::TDriveSpec& Spec, TScanReports* Reports)
    : Letter(Spec.Letter), SourcePath(Spec.Source), Partition(Spec.Partition), Offset(Spec.Offset),
      Length(Spec.Length), Clipped(Spec.Clipped), MountPoint(Spec.MountPoint), DriveType(Spec.Type),
      FReports(Reports) {
  GetDiskInfo();
  Scanner = CreateDiskScaner(this);
}

TDiskObject::~TDiskObject() { Clear(); }

void TDiskObject::Clear() {
  if (Scanner) {
    try {
      Scanner->Clear();  // engines let go of the items they still point at
    } catch (...) {
    }
  }
  Files.Clear();
  Folders.Clear();
  Store.Reset();
}

TVolumeHandle TDiskObject::AllocHandle() const { return platform::TVolumeSource::Open(SourcePath, Offset, Length); }

void TDiskObject::SetDeepScan(bool Value) {
  if (Value == FDeepScan && (Scanner || !Value)) return;
  // The items stay until the next scan clears them; only the engine that makes them changes.
  FDeepScan = Value;
  Scanner = Value ? CreateDeepScaner(this, CreateDiskScaner(this)) : CreateDiskScaner(this);
}

TScanReports& TDiskObject::Reports() const { return FReports ? *FReports : NullScanReports(); }

void TDiskObject::GetDiskInfo() {
  VolumeLabel.clear();
  FileSystemName.clear();
  TotalSize = FreeSize = 0;
  FileSystem = DetectFileSystem(*this);
  if (auto space = platform::MountedSpace(MountPoint)) {
    TotalSize = space->Total;
    FreeSize = space->Free;
  }
  OpenFailure.clear();
  TVolumeHandle handle = platform::TVolumeSource::Open(SourcePath, Offset, Length, &OpenFailure);
  if (!handle) return;  // like a drive without media: listed, with the reason and nothing more
  const platform::TVolumeFacts facts = platform::ProbeVolumeFacts(*handle);
  VolumeLabel = facts.Label;
  FileSystemName = facts.FileSystemName;
  if (MountPoint.empty()) {
    if (auto own = ReadVolumeSpace(*handle, FileSystem)) {
      TotalSize = own->Total;
      FreeSize = own->Free;
    }
  }
}

TFileSystemKind DetectFileSystem(const TDiskObject& Disk) {
  TVolumeHandle handle = Disk.AllocHandle();
  if (!handle) return TFileSystemKind::None;
  std::array<std::uint8_t, kBootSectorSize> sector{};
  if (ReadDisk(handle, sector.data(), kBootSectorSize, 0) < kBootSectorSize) return TFileSystemKind::None;
  const auto kind = ClassifyBootSector(sector);
  if (!kind) throw TDiskObjectError("boot sector has 0 bytes per sector or 0 sectors per cluster");
  return *kind;
}

std::unique_ptr<TDiskScaner> CreateDiskScaner(TDiskObject* Disk) {
  if (!Disk) return nullptr;
  try {
    return CreateScannerForKind(Disk, Disk->FileSystem);
  } catch (...) {
    WriteLog(LogMessages::FileSystemReadFailed, OperationNames::CreateDiskScaner, static_cast<const void*>(Disk));
    return nullptr;
  }
}

std::string DriveListCaption(const TDiskObject& Disk, const TDriveCaptionMarks& Marks) {
  std::string caption(1, static_cast<char>(std::toupper(static_cast<unsigned char>(Disk.Letter))));
  caption += ":\\ (" + Disk.VolumeLabel + ")";
  if (Disk.Partition > 0) {
    std::string mark = Marks.Partition;
    if (const std::size_t at = mark.find("%1"); at != std::string::npos)
      mark.replace(at, 2, std::to_string(Disk.Partition));
    caption += "  " + mark;
  }
  if (Disk.Clipped) caption += "  " + Marks.Clipped;
  return caption;
}

}  // namespace kestrine
