#pragma once
// Why a recovered file is partial or skipped, or what it lacks, and why a scan could not walk its
// volume: an id and its facts, worded only when shown, so each front end can word it in its own language.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrine {

enum class TReasonId : std::size_t {
  DestinationMissing,
  DestinationUnopenable,  // OS error
  FolderNotReopened,
  FolderReplaced,         // folder path
  FolderNotMade,
  FolderCannotBeCreated,  // folder path, OS error
  FolderCannotBeOpened,   // folder path, OS error
  NoFreeFolderName,       // folder name
  FileCannotBeCreated,    // file path, OS error
  NoFreeName,             // file name
  DataUnreadable,
  StoredEncrypted,
  Stopped,                // bytes copied, bytes wanted
  ReadShort,              // bytes read, bytes wanted
  WriteFailed,            // bytes written, OS error
  NamedStreamsNotStored,  // file system name, stream names
  NamedStreamsNotWritten, // first stream left out
  NamedStreamProblem,     // stream name, then the nested reason
  NoStreamNamed,          // stream name
  RecordUnreadable,       // record number
  RecordReused,           // record number
  SizeOverDataArea,       // recorded size, room, size cut to
  SizeOverClusterRoom,    // recorded size, room, size cut to
  SizeOverAllocated,      // recorded size, allocated size, size cut to
  SizeOverRuns,           // bytes the runs hold, recorded size, size cut to
  VolumeUnopenable,
  BootSectorUnreadable,
  GeometryNotFat,         // the nested reason
  GeometryNotNtfs,        // the nested reason
  RootWithoutEntries,
  RootClusterOutside,     // cluster number
  RootUnreadable,         // byte offset
  MftRunsTooLarge,
  MftRecordZeroUnreadable,
  MftMapsNoRecords,
  MftRunsMissRecordZero,
  // Why a boot sector's geometry is refused.
  FatSectorGeometry,      // bytes per sector, sectors per cluster
  NoAllocationTable,
  TooManyAllocationTables,  // count
  NoReservedSector,
  EmptyAllocationTables,
  TablesOverVolume,       // tables, sectors each, sectors of the volume
  TableTooShort,          // sectors of a table, clusters
  SectorSize,             // bytes per sector
  SectorsPerClusterField, // the field's value
  ClusterTooLarge,        // bytes
  RecordSizeField,        // the field's value, bytes
  NoWholeCluster,
  MftBeyondVolume,        // first cluster, clusters of the volume
  GeometryNotExFat,        // the nested reason
  ExFatName,
  ExFatShift,              // field, value
  ExFatChecksum,
  ExFatTablesMisplaced,    // table sector, sectors, heap sector
  ExFatHeapOutside,        // clusters, sectors of the volume
  ExFatNoBitmap,
  Count
};

struct TReason {
  TReason() = default;
  TReason(TReasonId Id, std::vector<std::string> Args = {}, std::vector<TReason> Inner = {})
      : Id(Id), Args(std::move(Args)), Inner(std::move(Inner)) {}

  TReasonId Id = TReasonId::DataUnreadable;
  std::vector<std::string> Args;  // numbers in decimal, paths, names, the OS's error text
  std::vector<TReason> Inner;     // at most one: a reason that fills the placeholder after Args
};

using TReasons = std::vector<TReason>;

// The wording of an id, with %1, %2... for its facts.
using TReasonWording = std::function<std::string(TReasonId)>;

// English, as the command line writes it; nothing for no reason.
std::string EnglishWording(TReasonId Id);
std::string EnglishText(const TReason& Reason);
std::string EnglishText(const std::optional<TReason>& Reason);
std::string EnglishText(const TReasons& Reasons);

std::string ReasonText(const TReason& Reason, const TReasonWording& Wording);
// Each reason worded, joined by "; ".
std::string ReasonText(const TReasons& Reasons, const TReasonWording& Wording);

}  // namespace kestrine
