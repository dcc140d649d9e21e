#pragma once
// NTFS records and volumes written byte by byte for the engine's tests.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/volume/disk_object.h"
#include "engine/volume/workflow_ports.h"

namespace kestrine::test {

// (length in clusters, LCN or -1 for a hole)
using TRunShape = std::vector<std::pair<std::uint64_t, std::int64_t>>;
std::vector<std::uint8_t> EncodeRuns(const TRunShape& Runs);

struct TListEntry {
  TListEntry(std::uint32_t Type, std::uint64_t RecNo, std::uint16_t Instance, std::int64_t StartVcn = 0,
             std::u16string Name = {})
      : Type(Type), RecNo(RecNo), Instance(Instance), StartVcn(StartVcn), Name(std::move(Name)) {}
  std::uint32_t Type;
  std::uint64_t RecNo;
  std::uint16_t Instance;
  std::int64_t StartVcn;
  std::u16string Name;
};

// The content of an $ATTRIBUTE_LIST.
std::vector<std::uint8_t> EncodeAttributeList(const std::vector<TListEntry>& Entries);

// One MFT record. Attributes get instance numbers 0, 1, 2, ... in the order they are added.
class TRecordBuilder {
 public:
  explicit TRecordBuilder(std::uint32_t Size = 1024);

  TRecordBuilder& InUse(bool Value = true);
  TRecordBuilder& Directory(bool Value = true);
  TRecordBuilder& BaseRef(std::uint64_t Ref);
  TRecordBuilder& Sequence(std::uint16_t Value);
  TRecordBuilder& StandardInfo(std::uint32_t Attributes = 0x20, std::uint64_t Created = 0x01D0000000000000,
                               std::uint64_t Modified = 0x01D1000000000000);
  TRecordBuilder& FileName(std::uint64_t ParentRef, std::u16string_view Name, std::uint8_t Namespace = 1);
  TRecordBuilder& Resident(std::uint32_t Type, std::u16string_view Name, std::span<const std::uint8_t> Value);
  TRecordBuilder& Data(std::span<const std::uint8_t> Value, std::u16string_view Name = u"");
  TRecordBuilder& NonResident(std::uint32_t Type, std::u16string_view Name, const TRunShape& Runs,
                              std::uint64_t DataSize, std::uint16_t CompressionUnit = 0, std::int64_t StartVcn = 0,
                              std::optional<std::uint64_t> InitializedSize = {});
  TRecordBuilder& NonResidentData(const TRunShape& Runs, std::uint64_t DataSize, std::u16string_view Name = u"",
                                  std::uint16_t CompressionUnit = 0);
  TRecordBuilder& AttributeList(const std::vector<TListEntry>& Entries);
  // An attribute given whole (its length field must be right); or any bytes at the next offset.
  TRecordBuilder& Raw(std::span<const std::uint8_t> Attribute);

  std::uint16_t NextInstance() const { return FInstance; }
  // With update-sequence protection over Stride-byte sectors (0: none, count 0).
  std::vector<std::uint8_t> Build(std::uint32_t Stride = 512, std::uint16_t Usn = 0x0001) const;

 private:
  std::uint32_t FSize;
  std::uint16_t FFlags = 0;
  std::uint64_t FBaseRef = 0;
  std::uint16_t FSequence = 1;
  std::uint16_t FInstance = 0;
  std::vector<std::uint8_t> FAttrs;
};

struct TNtfsGeometry {
  std::uint16_t BytesPerSector = 512;
  std::uint32_t ClusterSize = 4096;
  std::uint32_t RecordSize = 1024;
  std::int64_t Clusters = 512;
  std::int64_t MftLcn = 16;
  std::int64_t MftRecords = 64;
  std::int64_t BitmapLcn = 40;
  std::int64_t FirstFreeLcn = 64;  // clusters below it are marked in use
};

// A volume with $MFT (record 0), the root folder (record 5) and $Bitmap (record 6); the MFT is one run.
class TNtfsImageBuilder {
 public:
  explicit TNtfsImageBuilder(const TNtfsGeometry& Geometry = {});

  const TNtfsGeometry& Geometry() const { return FGeometry; }
  TRecordBuilder NewRecord() const { return TRecordBuilder(FGeometry.RecordSize); }
  std::int64_t RecordOffset(std::int64_t RecNo) const;
  void PutRecord(std::int64_t RecNo, const TRecordBuilder& Record);
  void PutRecordBytes(std::int64_t RecNo, std::span<const std::uint8_t> Bytes);
  void PutBytes(std::int64_t Offset, std::span<const std::uint8_t> Bytes);
  void PutClusters(std::int64_t Lcn, std::span<const std::uint8_t> Bytes) {
    PutBytes(Lcn * FGeometry.ClusterSize, Bytes);
  }
  void MarkUsed(std::int64_t Lcn, std::int64_t Count, bool Used = true);
  std::vector<std::uint8_t>& Bytes() { return FBytes; }
  std::filesystem::path WriteTo(const std::filesystem::path& Dir, const std::string& Name = "ntfs.img") const;

 private:
  TNtfsGeometry FGeometry;
  std::vector<std::uint8_t> FBytes;
};

// Records what a scan reports.
struct TNtfsReports final : TScanReports {
  std::vector<PFileInfo> Files;
  std::vector<PFileInfo> Folders;
  int Finished = 0;
  std::int64_t LastDone = 0, LastTotal = 0;
  void FolderAdded(TDiskObject*, PFileInfo Info) override { Folders.push_back(Info); }
  void FileAdded(TDiskObject*, PFileInfo Info) override { Files.push_back(Info); }
  void ScanProgress(TDiskObject*, std::int64_t Done, std::int64_t Total) override {
    LastDone = Done;
    LastTotal = Total;
  }
  void ScanFinished(TDiskObject*) override { ++Finished; }
};

struct TNtfsScan {
  TNtfsReports Reports;
  std::unique_ptr<TDiskObject> Disk;
  // The found file of that record, nil when none.
  PFileInfo File(std::int64_t RecNo) const;
  PFileInfo FileNamed(const std::string& Name) const;
};
std::unique_ptr<TNtfsScan> ScanNtfsImage(const std::filesystem::path& Image);

// Folder names below the root and the item's own name, joined by "/".
std::string PathBelowRoot(const TFileInfo* Item);
// The whole content of an item's stream (main data or the named one).
std::vector<std::uint8_t> ReadWholeStream(PFileInfo Item, const std::string& StreamName = {});

std::vector<std::uint8_t> Pattern(std::size_t Size, std::uint32_t Seed);

}  // namespace kestrine::test
