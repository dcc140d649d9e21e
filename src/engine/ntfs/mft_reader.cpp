#include "engine/ntfs/mft_reader.h"

#include <tuple>

#include <algorithm>
#include <bit>

#include "engine/ntfs/mft_record.h"
#include "engine/ntfs/run_list.h"
#include "engine/volume/byte_order.h"
#include "engine/volume/read_disk.h"
#include "support/debug_log.h"

namespace kestrine {
namespace {
constexpr std::uint32_t kMinRecordSize = 256;
constexpr std::uint32_t kMaxRecordSize = 64 * 1024;
constexpr std::uint32_t kMaxClusterSize = 2 * 1024 * 1024;
constexpr std::uint32_t kMaxUnitBytes = 64 * 1024;
// NTFS keeps an attribute list below 256 KiB; a larger one is damage.
constexpr std::uint64_t kMaxAttrListSize = 256 * 1024;
constexpr std::size_t kListEntryHeader = 0x1A;
constexpr std::int64_t kMaxPosition = std::int64_t{1} << 62;

bool PowerOfTwoIn(std::uint64_t V, std::uint64_t Low, std::uint64_t High) {
  return V >= Low && V <= High && std::has_single_bit(V);
}

// Clusters as bytes, saturating far below the 64-bit limit.
std::int64_t ClusterBytes(std::uint64_t Clusters, std::uint32_t ClusterSize) {
  if (ClusterSize == 0) return 0;
  if (Clusters >= static_cast<std::uint64_t>(kMaxPosition) / ClusterSize) return kMaxPosition;
  return static_cast<std::int64_t>(Clusters * ClusterSize);
}
}  // namespace

TMftReader::TMftReader(platform::TVolumeSource* Handle) : FHandle(Handle) { Init(); }

TMftReader::~TMftReader() { TMftReader::Clear(); }

void TMftReader::Clear() {
  FMftRuns.clear();
  FMftRunEnds.clear();
}

void TMftReader::Init() {
  FMftSize = 0;
  FRecordSize = FClusterSize = FBytesPerSector = 0;
  FClusterCount = FRecordCount = 0;
  FRunsKnown = false;
  Clear();
  FFailure.reset();
  try {
    std::vector<std::uint8_t> sector(512);
    if (ReadDisk(FHandle, sector.data(), 512, 0) < 512) {
      FFailure = TReason{TReasonId::BootSectorUnreadable};
      return;
    }
    std::copy_n(sector.begin(), FBootSector.size(), FBootSector.begin());
    if (std::optional<TReason> why = ReadGeometry(sector)) {
      WriteLog(LogMessages::BpbReadFailed, OperationNames::MftReaderInit, static_cast<const void*>(FHandle));
      FFailure = TReason{TReasonId::GeometryNotNtfs, {}, {std::move(*why)}};
      FRecordSize = FClusterSize = 0;
      FClusterCount = 0;
      return;
    }
    ReadMftRuns();
  } catch (...) {
    WriteLog(LogMessages::SetLengthRaised, OperationNames::MftReaderInit, static_cast<const void*>(&FMftRuns),
             FMftRuns.size());
    Clear();
    FRecordCount = 0;
    FFailure = TReason{TReasonId::MftRunsTooLarge};
  }
}

std::optional<TReason> TMftReader::ReadGeometry(std::span<const std::uint8_t> Sector) {
  const std::uint32_t bytesPerSector = ReadLe16(Sector, 0x0B);
  const std::uint8_t rawSpc = Sector[0x0D];
  // Clusters above 64 KiB are stored as a negative power of two.
  const std::uint64_t sectorsPerCluster = rawSpc <= 0x80 ? rawSpc : std::uint64_t{1} << std::min(256 - rawSpc, 40);
  if (!PowerOfTwoIn(bytesPerSector, 256, 4096)) return TReason{TReasonId::SectorSize, {std::to_string(bytesPerSector)}};
  if (!PowerOfTwoIn(sectorsPerCluster, 1, kMaxClusterSize))
    return TReason{TReasonId::SectorsPerClusterField, {std::to_string(rawSpc)}};
  const std::uint64_t clusterSize = bytesPerSector * sectorsPerCluster;
  if (clusterSize > kMaxClusterSize) return TReason{TReasonId::ClusterTooLarge, {std::to_string(clusterSize)}};

  std::uint64_t recordSize = 0;
  const auto recordField = static_cast<std::int8_t>(Sector[0x40]);
  if (recordField < 0) {
    recordSize = std::uint64_t{1} << (-recordField % 32);
    // The kept field holds the sign-extended value, as the size was computed from it.
    for (std::size_t i : {0x43, 0x42, 0x41}) {
      if (FBootSector[i] != 0) break;
      FBootSector[i] = 0xFF;
    }
  } else {
    recordSize = clusterSize * static_cast<std::uint64_t>(recordField);
  }
  if (!PowerOfTwoIn(recordSize, kMinRecordSize, kMaxRecordSize))
    return TReason{TReasonId::RecordSizeField, {std::to_string(Sector[0x40]), std::to_string(recordSize)}};

  const std::uint64_t totalSectors = ReadLe64(Sector, 0x28);
  std::int64_t volumeBytes = FHandle ? FHandle->Size() : 0;
  if (totalSectors > 0 && totalSectors < (std::uint64_t{1} << 52) / bytesPerSector) {
    const auto counted = static_cast<std::int64_t>(totalSectors * bytesPerSector);
    volumeBytes = volumeBytes > 0 ? std::min(volumeBytes, counted) : counted;
  }
  const std::uint64_t mftLcn = ReadLe64(Sector, 0x30);
  const std::int64_t clusterCount = volumeBytes / static_cast<std::int64_t>(clusterSize);
  if (clusterCount <= 0) return TReason{TReasonId::NoWholeCluster};
  if (mftLcn >= static_cast<std::uint64_t>(clusterCount))
    return TReason{TReasonId::MftBeyondVolume, {std::to_string(mftLcn), std::to_string(clusterCount)}};

  FBytesPerSector = bytesPerSector;
  FClusterSize = static_cast<std::uint32_t>(clusterSize);
  FRecordSize = static_cast<std::uint32_t>(recordSize);
  FClusterCount = clusterCount;
  FMftLcn = static_cast<std::int64_t>(mftLcn);
  return {};
}

void TMftReader::ReadMftRuns() {
  bool found = false;
  std::unique_ptr<TNtfsFileInfo> mft = ReadFileInfo(0, found, 0);
  if (!mft) {
    FFailure = TReason{TReasonId::MftRecordZeroUnreadable};
    return;
  }
  FMftSize = GetFileSize(*mft);
  if (mft->HasAttributeList()) {
    TNtfsListCursor cursor;
    while (auto attr = FindExternalAttribue(*mft, NtfsAttrType::Data, cursor, -1)) {
      if (!attr->NonResident() || attr->Named()) continue;
      TRunList runs;
      DecompressRunList(*attr, runs);
      AppendMftRuns(runs);
    }
    FreeAttrListBuffer(cursor);
  } else {
    TRunList runs;
    GetFileRunList(*mft, runs);
    AppendMftRuns(runs);
  }
  FRunsKnown = true;
  const std::int64_t mapped = FMftRunEnds.empty() ? 0 : FMftRunEnds.back();
  const std::int64_t volumeBytes = ClusterBytes(static_cast<std::uint64_t>(FClusterCount), FClusterSize);
  FRecordCount = std::min({FMftSize, mapped, volumeBytes}) / FRecordSize;
  // The MFT's own runs must lead back to record 0; else the walk would read records from elsewhere.
  if (FRecordCount == 0)
    FFailure = TReason{TReasonId::MftMapsNoRecords};
  else if (!ReadMftRecInto(0, FRecordBuffer))
    FFailure = TReason{TReasonId::MftRunsMissRecordZero};
}

void TMftReader::AppendMftRuns(const TRunList& Runs) {
  for (const TRunItem& run : Runs) {
    const std::int64_t start = FMftRunEnds.empty() ? 0 : FMftRunEnds.back();
    FMftRuns.push_back(run);
    FMftRunEnds.push_back(std::min(kMaxPosition, start + ClusterBytes(run.Length, FClusterSize)));
  }
}

bool TMftReader::MapMftRange(std::int64_t Position, std::size_t Count,
                             std::vector<std::pair<std::int64_t, std::size_t>>& Pieces) const {
  Pieces.clear();
  auto it = std::upper_bound(FMftRunEnds.begin(), FMftRunEnds.end(), Position);
  for (auto i = static_cast<std::size_t>(it - FMftRunEnds.begin()); Count > 0; ++i) {
    if (i >= FMftRuns.size()) return false;
    const TRunItem& run = FMftRuns[i];
    const std::int64_t runStart = i == 0 ? 0 : FMftRunEnds[i - 1];
    if (run.Lcn < 0 || run.Lcn >= FClusterCount) return false;
    const std::int64_t within = Position - runStart;
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(Count),
                                                                   FMftRunEnds[i] - Position));
    Pieces.emplace_back(ClusterBytes(static_cast<std::uint64_t>(run.Lcn), FClusterSize) + within, n);
    Position += static_cast<std::int64_t>(n);
    Count -= n;
  }
  return true;
}

std::int64_t TMftReader::GetMftRecOffset(std::int64_t RecNo) const {
  if (FRecordSize == 0 || RecNo < 0 || RecNo > kMaxPosition / FRecordSize) return -1;
  const std::int64_t position = RecNo * FRecordSize;
  if (!FRunsKnown && FMftRuns.empty()) return FMftLcn * FClusterSize + position;
  std::vector<std::pair<std::int64_t, std::size_t>> pieces;
  if (MapMftRange(position, 1, pieces)) return pieces.front().first;
  // While the runs are still being read, a record past them is guessed to follow the first cluster.
  return FRunsKnown ? -1 : FMftLcn * FClusterSize + position;
}

std::vector<std::uint8_t> TMftReader::OpenMftRec(std::int64_t Offset) {
  if (FRecordSize == 0 || Offset < 0) return {};
  std::vector<std::uint8_t> record(FRecordSize);
  if (ReadDisk(FHandle, record.data(), FRecordSize, Offset) < FRecordSize) return {};
  if (!HasFileMagic(record) || !ApplyFixups(record, FBytesPerSector)) return {};
  return record;
}

std::vector<std::uint8_t> TMftReader::ReadMftRec(std::int64_t RecNo) {
  std::vector<std::uint8_t> record;
  if (!ReadMftRecInto(RecNo, record)) record.clear();
  return record;
}

bool TMftReader::ReadMftRecInto(std::int64_t RecNo, std::vector<std::uint8_t>& Record) {
  if (FRecordSize == 0 || RecNo < 0 || RecNo > kMaxPosition / FRecordSize) return false;
  if (FRunsKnown && RecNo >= FRecordCount) return false;
  const std::int64_t position = RecNo * FRecordSize;
  if (!MapMftRange(position, FRecordSize, FPieces)) {
    // While the runs are being read, a record past them is guessed to follow the MFT's first cluster.
    const std::int64_t offset = GetMftRecOffset(RecNo);
    if (offset < 0 || FRunsKnown) return false;
    FPieces.assign(1, {offset, FRecordSize});
  }
  Record.resize(FRecordSize);
  std::size_t done = 0;
  for (const auto& [offset, count] : FPieces) {
    const auto n = static_cast<std::uint32_t>(count);
    if (ReadDisk(FHandle, Record.data() + done, n, offset) < n) return false;
    done += count;
  }
  return HasFileMagic(Record) && ApplyFixups(Record, FBytesPerSector);
}

std::unique_ptr<TNtfsFileInfo> TMftReader::ReadFileInfo(unsigned Flags, bool& Found, std::int64_t RecNo) {
  Found = false;
  try {
    if (!ReadMftRecInto(RecNo, FRecordBuffer)) return nullptr;
    return DecodeFileInfo(Flags, Found, FRecordBuffer, RecNo);
  } catch (...) {
    WriteLog(LogMessages::GetMemRaised, OperationNames::MftReaderReadFileInfo, static_cast<const void*>(nullptr),
             FRecordSize);
    return nullptr;
  }
}

std::unique_ptr<TNtfsFileInfo> TMftReader::RereadFileInfo(const TNtfsFileInfo& Found, std::optional<TReason>& Why) {
  bool found = false;
  auto info = ReadFileInfo(0, found, Found.RecNo);
  const std::string record = std::to_string(Found.RecNo);
  if (!info) {
    Why = TReason{TReasonId::RecordUnreadable, {record}};
    return nullptr;
  }
  if (info->Sequence != Found.Sequence || info->Deleted != Found.Deleted) {
    Why = TReason{TReasonId::RecordReused, {record}};
    return nullptr;
  }
  if (Found.Streams) info->Streams = std::make_unique<TNtfsDataStreamInfoArr>(*Found.Streams);
  info->ParentRef = Found.ParentRef;
  info->ParentSeq = Found.ParentSeq;
  info->CompressionUnit = Found.CompressionUnit;
  info->Compressed = Found.Compressed;
  info->Encrypted = Found.Encrypted;
  return info;
}

std::unique_ptr<TNtfsFileInfo> TMftReader::DecodeFileInfo(unsigned Flags, bool& Found,
                                                          std::span<const std::uint8_t> Record,
                                                          std::int64_t RecNo) const {
  Found = false;
  if (!HasFileMagic(Record)) return nullptr;
  Found = true;
  const std::uint16_t flags = RecordFlags(Record);
  if ((Flags & ReadFileInfoFlags::DeletedBaseOnly) && ((flags & MftRecordFlag::InUse) || RecordBaseRef(Record) != 0))
    return nullptr;
  if (FirstAttrOffset(Record) >= Record.size()) return nullptr;
  auto info = std::make_unique<TNtfsFileInfo>();
  info->Deleted = !(flags & MftRecordFlag::InUse);
  info->Directory = (flags & MftRecordFlag::Directory) != 0;
  info->RecNo = RecNo;
  info->Sequence = RecordSequence(Record);
  TAttrIndex index = IndexAttributes(Record);
  info->Record = std::make_unique<TNtfsRecordBytes>();
  info->Record->Attrs = std::move(index.Slots);
  // Only the walked part is kept: every attribute lies inside it, and most records end early.
  info->Record->Buf.assign(Record.begin(), Record.begin() + static_cast<std::ptrdiff_t>(index.End));
  return info;
}

std::span<const std::uint8_t> TMftReader::GetAttrValue(const TNtfsAttr& Attr) {
  return Attr.NonResident() ? Attr.MappingPairs() : Attr.Value();
}

void TMftReader::OpenAttrSearchContext(const TNtfsFileInfo& Info, std::uint32_t AttrType,
                                       TNtfsAttrLookupContext& Context, int Instance) const {
  Context = TNtfsAttrLookupContext{};
  Context.FileInfo = &Info;
  Context.AttrType = AttrType;
  Context.Instance = Instance;
  if (Info.HasAttributeList()) {
    Context.ListMode = true;
    return;
  }
  const int slot = AttrType == NtfsAttrType::AttributeList ? -1 : NtfsAttrSlot(AttrType);
  if (slot >= 0) Context.Attrs = Info.Attrs(static_cast<std::size_t>(slot));
}

std::optional<TNtfsAttr> TMftReader::FindNextAttr(TNtfsAttrLookupContext& Context) {
  if (!Context.FileInfo) return std::nullopt;
  Context.ByList = Context.ListMode;
  if (Context.ListMode)
    return FindExternalAttribue(*Context.FileInfo, Context.AttrType, Context.ListCursor, Context.Instance);
  while (Context.Index < Context.Attrs.size()) {
    if (auto attr = TNtfsAttr::View(Context.FileInfo->RecordBuf(), Context.Attrs[Context.Index++])) return attr;
  }
  return std::nullopt;
}

void TMftReader::CloseAttrSearchContext(TNtfsAttrLookupContext& Context) const {
  if (Context.ListMode) FreeAttrListBuffer(Context.ListCursor);
}

void TMftReader::FreeAttrListBuffer(TNtfsListCursor& Cursor) const {
  Cursor.ListBuffer.clear();
  Cursor.ListBuffer.shrink_to_fit();
}

bool TMftReader::LoadList(const TNtfsFileInfo& Info, TNtfsListCursor& Cursor) {
  Cursor.ListFirst = false;
  Cursor.ListCurrent = 0;
  Cursor.ListBuffer.clear();
  // A second $ATTRIBUTE_LIST is never used.
  const auto list = Info.Attr(3, 0);
  if (!list) return false;
  if (!list->NonResident()) {
    const auto value = list->Value();
    Cursor.ListBuffer.assign(value.begin(), value.end());
    Cursor.ListSize = Cursor.ListBuffer.size();
    return true;
  }
  if (list->DataSize() > kMaxAttrListSize) return false;
  TRunList runs;
  DecompressRunList(*list, runs);
  try {
    // Whole clusters: a driver that deletes a file may shrink the recorded size without writing
    // the entries back, and the last ones then reach past it.
    Cursor.ListBuffer = ReadRunsContent(runs, kMaxAttrListSize);
    Cursor.ListSize = static_cast<std::size_t>(list->DataSize());
  } catch (...) {
    WriteLog(LogMessages::ReallocMemRaised, OperationNames::MftReaderFindExternalAttribue,
             static_cast<const void*>(Cursor.ListBuffer.data()), list->DataSize());
    Cursor.ListBuffer.clear();
    return false;
  }
  return true;
}

namespace {
// Whether an entry that reaches past the recorded list size repeats one wholly inside it: moving
// entries up when one is removed leaves a copy of the last one behind.
bool ListedBefore(std::span<const std::uint8_t> List, std::size_t At, std::size_t RecordedSize) {
  const auto key = [&](std::size_t E) {
    return std::tuple(ReadLe32(List, E), ReadLe16(List, E + 0x18), ReadLe64(List, E + 0x10) & kMftRefMask,
                      ReadLe64(List, E + 0x08));
  };
  for (std::size_t e = 0; e + kListEntryHeader <= List.size() && e < At;) {
    const std::uint16_t length = ReadLe16(List, e + 4);
    if (length < kListEntryHeader || e + length > RecordedSize) break;
    if (key(e) == key(At)) return true;
    e += length;
  }
  return false;
}
}  // namespace

std::optional<TNtfsAttr> TMftReader::FindExternalAttribue(const TNtfsFileInfo& Info, std::uint32_t AttrType,
                                                          TNtfsListCursor& Cursor, int Instance) {
  if (!Info.HasAttributeList()) return std::nullopt;
  if (Cursor.ListFirst && !LoadList(Info, Cursor)) return std::nullopt;
  const std::span<const std::uint8_t> list = Cursor.ListBuffer;
  while (Cursor.ListCurrent + kListEntryHeader <= list.size()) {
    const std::size_t at = Cursor.ListCurrent;
    const std::uint16_t length = ReadLe16(list, at + 4);
    if (length < kListEntryHeader || length > list.size() - at) return std::nullopt;
    Cursor.ListCurrent = at + length;
    const std::uint32_t type = ReadLe32(list, at);
    const std::uint16_t instance = ReadLe16(list, at + 0x18);
    if ((AttrType != NtfsAttrType::Any && type != AttrType) || (Instance >= 0 && instance != Instance)) continue;
    const auto recNo = static_cast<std::int64_t>(ReadLe64(list, at + 0x10) & kMftRefMask);
    if (at + length > Cursor.ListSize && ListedBefore(list, at, Cursor.ListSize)) continue;
    if (recNo == Info.RecNo) {
      if (auto attr = FindAttrInRecord(Info.RecordBuf(), type, instance)) return attr->OwnedCopy();
      continue;
    }
    const std::vector<std::uint8_t> record = ReadMftRec(recNo);
    // An extension record taken over by another file no longer holds this file's attributes.
    if (record.empty() || static_cast<std::int64_t>(RecordBaseRef(record) & kMftRefMask) != Info.RecNo) continue;
    if (auto attr = FindAttrInRecord(record, type, instance)) return attr->OwnedCopy();
  }
  return std::nullopt;
}

void TMftReader::DecompressRunList(const TNtfsAttr& Attr, TRunList& Runs) const {
  Runs.clear();
  if (!Attr.NonResident()) return;
  try {
    DecodeMappingPairs(Attr.MappingPairs(), Attr.StartVcn(), Runs);
  } catch (...) {
    WriteLog(LogMessages::SetLengthRaised, OperationNames::MftReaderDecompressRunList,
             static_cast<const void*>(&Runs), Runs.size());
    Runs.clear();
  }
}

void TMftReader::GetFileRunList(const TNtfsFileInfo& Info, TRunList& Runs) {
  Runs.clear();
  TNtfsAttrLookupContext context;
  OpenAttrSearchContext(Info, NtfsAttrType::Data, context);
  try {
    while (auto attr = FindNextAttr(context)) {
      if (!attr->NonResident() || attr->Named()) continue;
      TRunList extent;
      DecompressRunList(*attr, extent);
      Runs.insert(Runs.end(), extent.begin(), extent.end());
    }
  } catch (...) {
    WriteLog(LogMessages::SetLengthRaised, OperationNames::MftReaderGetFileRunList, static_cast<const void*>(&Runs),
             Runs.size());
    Runs.clear();
  }
  CloseAttrSearchContext(context);
}

std::int64_t TMftReader::GetFileSize(TNtfsFileInfo& Info) {
  std::int64_t result = -1;
  TNtfsAttrLookupContext context;
  OpenAttrSearchContext(Info, NtfsAttrType::Data, context);
  while (result < 0) {
    const auto attr = FindNextAttr(context);
    if (!attr) break;
    if (attr->Named()) continue;
    result = static_cast<std::int64_t>(std::min<std::uint64_t>(attr->StreamSize(), kMaxPosition));
    Info.CompressionUnit = attr->CompressionUnit();
  }
  CloseAttrSearchContext(context);
  return std::max<std::int64_t>(result, 0);
}

bool TMftReader::ValidCompressionUnit(std::uint16_t Unit) const {
  return Unit == 0 || (Unit <= 16 && (std::uint64_t{FClusterSize} << Unit) <= kMaxUnitBytes);
}

std::vector<std::uint8_t> TMftReader::ReadRunsContent(const TRunList& Runs, std::uint64_t Limit) {
  std::vector<std::uint8_t> content;
  for (const TRunItem& run : Runs) {
    if (content.size() >= Limit) break;
    const auto want = static_cast<std::size_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(ClusterBytes(run.Length, FClusterSize)), Limit - content.size()));
    const std::size_t at = content.size();
    content.resize(at + want);
    if (run.Lcn < 0 || run.Lcn >= FClusterCount) continue;  // holes and clusters off the volume read as zeros
    const std::int64_t offset = ClusterBytes(static_cast<std::uint64_t>(run.Lcn), FClusterSize);
    for (std::size_t done = 0; done < want;) {
      const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(want - done, 1 << 20));
      ReadDisk(FHandle, content.data() + at + done, n, offset + static_cast<std::int64_t>(done));
      done += n;
    }
  }
  return content;
}

}  // namespace kestrine
