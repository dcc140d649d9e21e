#pragma once
// Master-file-table records of an open NTFS volume: geometry, the MFT's runs, fixed-up records,
// attribute lookups (also through $ATTRIBUTE_LIST) and the decoders of the attributes' contents.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/ntfs/ntfs_records.h"
#include "engine/volume/file_info.h"
#include "engine/volume/recovery_reason.h"
#include "platform/volume_source.h"

namespace kestrine {

class TMftReader;

// Where a list-mode lookup stands in the attribute list.
struct TNtfsListCursor {
  bool ListFirst = true;          // the list content has not been loaded yet
  std::vector<std::uint8_t> ListBuffer;  // a non-resident list: its whole clusters
  std::size_t ListSize = 0;       // the size the attribute records
  std::size_t ListCurrent = 0;    // offset of the next entry
};

// One attribute lookup in progress: direct over a record's own slots, or through its attribute list.
struct TNtfsAttrLookupContext {
  const TNtfsFileInfo* FileInfo = nullptr;
  std::span<const std::uint16_t> Attrs;  // direct mode: the slot of the type searched
  std::size_t Index = 0;
  std::uint32_t AttrType = 0;
  int Instance = -1;
  bool ListMode = false;
  bool ByList = false;  // the last attribute came from another record read through the list
  TNtfsListCursor ListCursor;
};

namespace ReadFileInfoFlags {
inline constexpr unsigned DeletedBaseOnly = 1;
}

class TMftReader {
 public:
  // Non-owning: the handle belongs to the scanner (or caller) and outlives the reader.
  explicit TMftReader(platform::TVolumeSource* Handle);
  virtual ~TMftReader();
  TMftReader(const TMftReader&) = delete;
  TMftReader& operator=(const TMftReader&) = delete;

  virtual void Clear();
  // Reads the boot sector and the MFT's runs. Geometry outside what NTFS allows leaves the reader
  // empty (record size 0, no runs), with a debug-log line.
  void Init();
  // Why the last Init left no MFT to walk; none when the MFT's first record was read through its runs.
  const std::optional<TReason>& Failure() const { return FFailure; }

  // Geometry; all 0 (and no runs) when the volume is not usable.
  platform::TVolumeSource* Handle() const { return FHandle; }
  std::int64_t MftSize() const { return FMftSize; }
  std::uint32_t RecordSize() const { return FRecordSize; }
  std::uint32_t ClusterSize() const { return FClusterSize; }
  std::uint32_t BytesPerSector() const { return FBytesPerSector; }
  const TRunList& MftRuns() const { return FMftRuns; }
  std::span<const std::uint8_t> BootSector() const { return FBootSector; }
  // Clusters of the volume as far as it can be read.
  std::int64_t ClusterCount() const { return FClusterCount; }
  // Records the MFT holds: its data size, bounded by its runs and by the volume.
  std::int64_t RecordCount() const { return FRecordCount; }

  // Byte offset of a record on the volume, -1 when no extent of the MFT holds it (the MFT's first
  // cluster plus the record's place is used only while the runs are still being read).
  std::int64_t GetMftRecOffset(std::int64_t RecNo) const;
  // A fixed-up record read at a byte offset; empty when it fails validation.
  std::vector<std::uint8_t> OpenMftRec(std::int64_t Offset);
  // A fixed-up record by number, also when it lies across two extents of the MFT.
  std::vector<std::uint8_t> ReadMftRec(std::int64_t RecNo);
  // A decoded record, nil when absent; Found tells whether a valid record was there. With
  // ReadFileInfoFlags::DeletedBaseOnly only deleted base records are decoded.
  std::unique_ptr<TNtfsFileInfo> ReadFileInfo(unsigned Flags, bool& Found, std::int64_t RecNo);
  // A found item's record read again, with what the scan drew from it carried over. Nil, with the
  // reason in Why, when the record is no longer the one the scan saw: unreadable, in use again, or
  // taken and freed by another file (its sequence number moved on).
  std::unique_ptr<TNtfsFileInfo> RereadFileInfo(const TNtfsFileInfo& Found, std::optional<TReason>& Why);
  // The same for a record already read and fixed up.
  std::unique_ptr<TNtfsFileInfo> DecodeFileInfo(unsigned Flags, bool& Found, std::span<const std::uint8_t> Record,
                                                std::int64_t RecNo) const;

  // The value (resident) or the mapping pairs (non-resident) of an attribute.
  static std::span<const std::uint8_t> GetAttrValue(const TNtfsAttr& Attr);

  void OpenAttrSearchContext(const TNtfsFileInfo& Info, std::uint32_t AttrType, TNtfsAttrLookupContext& Context,
                             int Instance = -1) const;
  std::optional<TNtfsAttr> FindNextAttr(TNtfsAttrLookupContext& Context);
  void CloseAttrSearchContext(TNtfsAttrLookupContext& Context) const;
  std::optional<TNtfsAttr> FindExternalAttribue(const TNtfsFileInfo& Info, std::uint32_t AttrType,
                                                TNtfsListCursor& Cursor, int Instance);
  void FreeAttrListBuffer(TNtfsListCursor& Cursor) const;

  void DecompressRunList(const TNtfsAttr& Attr, TRunList& Runs) const;
  void GetFileRunList(const TNtfsFileInfo& Info, TRunList& Runs);
  // Data size of the unnamed $DATA (0 without one); sets Info.CompressionUnit.
  std::int64_t GetFileSize(TNtfsFileInfo& Info);
  // Whether NTFS can have written this compression unit on this volume.
  bool ValidCompressionUnit(std::uint16_t Unit) const;

  // Attribute decoders.
  void GetFileName(TNtfsFileInfo& Info, std::string& Name);
  bool GetStandardInfo(TFileInfo& Item, TNtfsFileInfo& Info);
  void GetFileStreams(const TNtfsFileInfo& Info, TNtfsDataStreamInfoArr& Streams);
  void GetFileStreams(const TFileInfo& Item, TNtfsDataStreamInfoArr& Streams);
  // The first $DATA attribute of the name (empty: the unnamed one) and the runs of all its extents.
  std::optional<TNtfsAttr> GetFileDataStreamsRunList(const TNtfsFileInfo& Info, const std::string& StreamName,
                                                     TRunList& Runs);
  // Content of the "$EFS" logged utility stream; empty when there is none.
  std::vector<std::uint8_t> GetEfsData(const TNtfsFileInfo& Info);

  // Reads the clusters of Runs, in order, up to Limit bytes; what cannot be read stays zero.
  std::vector<std::uint8_t> ReadRunsContent(const TRunList& Runs, std::uint64_t Limit);

 private:
  // None when NTFS allows the geometry, else what is wrong with it.
  std::optional<TReason> ReadGeometry(std::span<const std::uint8_t> Sector);
  void ReadMftRuns();
  void AppendMftRuns(const TRunList& Runs);
  // Where the record's bytes lie: (volume offset, bytes there) pieces, empty when not mapped.
  bool MapMftRange(std::int64_t Position, std::size_t Count,
                   std::vector<std::pair<std::int64_t, std::size_t>>& Pieces) const;
  bool LoadList(const TNtfsFileInfo& Info, TNtfsListCursor& Cursor);
  // Reads and fixes up a record into Record (FRecordSize bytes); false when it is absent.
  bool ReadMftRecInto(std::int64_t RecNo, std::vector<std::uint8_t>& Record);

  platform::TVolumeSource* FHandle;
  std::int64_t FMftSize = 0;
  std::array<std::uint8_t, 92> FBootSector{};
  std::uint32_t FRecordSize = 0;
  std::uint32_t FClusterSize = 0;
  std::uint32_t FBytesPerSector = 0;
  std::int64_t FMftLcn = 0;
  std::int64_t FClusterCount = 0;
  std::int64_t FRecordCount = 0;
  TRunList FMftRuns;
  std::vector<std::int64_t> FMftRunEnds;  // byte position in the MFT where each run ends
  bool FRunsKnown = false;
  std::optional<TReason> FFailure;
  // Reused by every record read: the walk reads each position into them.
  std::vector<std::uint8_t> FRecordBuffer;
  std::vector<std::pair<std::int64_t, std::size_t>> FPieces;
};

}  // namespace kestrine
