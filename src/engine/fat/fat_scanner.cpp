#include "engine/fat/fat_scanner.h"

#include <algorithm>
#include <new>

#include "engine/fat/fat_names.h"
#include "engine/volume/byte_order.h"
#include "engine/volume/disk_object.h"
#include "support/file_time.h"
#include "engine/volume/workflow_ports.h"
#include "support/debug_log.h"

namespace kestrine {
namespace {

// Sizes of the records, as the allocation failures report them.
constexpr int kItemRecordSize = 64;
constexpr int kDirRecordSize = 24;
constexpr int kEntryRecordSize = 16;
constexpr std::uint8_t kMaxFats = 4;

std::uint64_t CeilDiv(std::uint64_t A, std::uint64_t B) { return A / B + (A % B != 0); }

PFileInfo FillItem(PFileInfo Item, const TDirEntry& Entry, std::string Name, PFileInfo Parent) {
  Item->Name = std::move(Name);
  Item->Size = Entry.Size;
  Item->Attributes = Entry.Attributes;
  Item->CreationTime =
      DosDateTimeToFileTime(Entry.CreationDate, Entry.CreationTime, Entry.CreationTenMs).value_or(0);
  Item->LastWriteTime = DosDateTimeToFileTime(Entry.WriteDate, Entry.WriteTime).value_or(0);
  Item->Parent = Parent;
  return Item;
}

}  // namespace

TFatScaner::TFatScaner(TDiskObject* Disk, const TFatEntryCodec& Codec) : TDiskScaner(Disk), Codec(Codec) {}

TFatScaner::~TFatScaner() { Clear(); }

bool TFatScaner::Init() {
  ClusterSize = 0;
  ClusterCount = 0;
  Boot.fill(0);
  if (!TDiskScaner::Init()) return false;
  std::array<std::uint8_t, kBootSectorSize> sector{};
  if (ReadDisk(Handle, sector.data(), kBootSectorSize, 0) < kBootSectorSize) {
    WriteLog(LogMessages::BpbReadFailed, OperationNames::FatScanerInit, static_cast<const void*>(Handle.get()));
    SetScanFailure(TReason{TReasonId::BootSectorUnreadable});
    return false;
  }
  std::copy_n(sector.begin(), Boot.size(), Boot.begin());
  Bpb = ParseBpb(sector);
  if (std::optional<TReason> why = ComputeGeometry()) {
    ClusterSize = 0;
    ClusterCount = 0;
    WriteLog(LogMessages::BpbReadFailed, OperationNames::FatScanerInit, static_cast<const void*>(Handle.get()));
    SetScanFailure(TReason{TReasonId::GeometryNotFat, {}, {std::move(*why)}});
    return false;
  }
  return true;
}

// Every volume position counts in the boot sector's own sector size.
std::optional<TReason> TFatScaner::ComputeGeometry() {
  // Other sizes would drive buffer sizes from damage.
  if (!IsFatSectorGeometry(Bpb))
    return TReason{TReasonId::FatSectorGeometry,
                   {std::to_string(Bpb.BytesPerSector), std::to_string(Bpb.SectorsPerCluster)}};
  if (Bpb.NumberOfFats == 0) return TReason{TReasonId::NoAllocationTable};
  // Formatters write one or two tables and accept at most four; more moves the root and the data
  // area to where neither is.
  if (Bpb.NumberOfFats > kMaxFats)
    return TReason{TReasonId::TooManyAllocationTables, {std::to_string(Bpb.NumberOfFats)}};
  if (Bpb.ReservedSectors == 0) return TReason{TReasonId::NoReservedSector};
  const auto layout = ComputeFatLayout(Bpb);
  if (!layout || layout->FatSize == 0) return TReason{TReasonId::EmptyAllocationTables};
  if (!layout->Consistent)
    return TReason{TReasonId::TablesOverVolume, {std::to_string(Bpb.NumberOfFats), std::to_string(layout->FatSize),
                                                 std::to_string(layout->TotalSectors)}};
  ClusterSize = std::uint32_t{Bpb.SectorsPerCluster} * Bpb.BytesPerSector;
  RootDirSectors = layout->RootDirSectors;
  FatSize = std::int64_t{layout->FatSize} * Bpb.BytesPerSector;
  FirstDataSector = std::uint64_t{Bpb.ReservedSectors} + std::uint64_t{Bpb.NumberOfFats} * layout->FatSize + RootDirSectors;
  DataOffset = static_cast<std::int64_t>(FirstDataSector * Bpb.BytesPerSector);
  TotalSectors = layout->TotalSectors;
  // A table too short for the data area's clusters puts the data area itself in the wrong place:
  // such a volume cannot be walked. Numbers from the bad-cluster marker on are never clusters.
  const std::uint64_t described = Codec.EntriesIn(static_cast<std::uint64_t>(FatSize));
  const std::uint64_t limit = Codec.BadCluster - 2;
  const std::uint64_t clusters = std::min<std::uint64_t>(layout->ClusterCount, limit);
  if (described < clusters + 2)
    return TReason{TReasonId::TableTooShort, {std::to_string(layout->FatSize), std::to_string(clusters)}};
  ClusterCount = static_cast<std::uint32_t>(clusters);
  ActiveFat = 0;
  return {};
}

void TFatScaner::LocateFatEntry(std::uint32_t Cluster) {
  const std::uint64_t byte = Codec.ByteOffset(Cluster);
  const std::uint64_t fatSectors = static_cast<std::uint64_t>(FatSize) / Bpb.BytesPerSector;
  FFatSector = static_cast<std::int64_t>(Bpb.ReservedSectors + ActiveFat * fatSectors + byte / Bpb.BytesPerSector);
  FFatEntryOffset = static_cast<std::uint32_t>(byte % Bpb.BytesPerSector);
}

std::uint32_t TFatScaner::GetNextCluster(std::uint32_t Cluster) {
  if (!IsValidCluster(Cluster)) return Codec.BadCluster;
  LocateFatEntry(Cluster);
  const std::uint32_t sector = Bpb.BytesPerSector;
  const std::int64_t at = FFatSector * sector + FFatEntryOffset;
  const std::int64_t loadedAt = FLoadedFatSector * sector;
  if (FLoadedFatSector < 0 || at < loadedAt || at + Codec.Width() > loadedAt + FFatLoaded) {
    FFatBuffer.resize(2 * std::size_t{sector});
    FFatLoaded = ReadDisk(Handle, FFatBuffer.data(), 2 * sector, FFatSector * sector);
    if (FFatLoaded < FFatEntryOffset + Codec.Width()) {
      FLoadedFatSector = -1;
      WriteLog(LogMessages::FatSectorReadFailed, OperationNames::FatScanerGetNextCluster, FFatSector,
               FFatSector * sector);
      return Codec.BadCluster;
    }
    FLoadedFatSector = FFatSector;
  }
  const auto from = static_cast<std::size_t>(at - FLoadedFatSector * sector);
  return Codec.Decode(Cluster, std::span<const std::uint8_t>(FFatBuffer).subspan(from, Codec.Width()));
}

TClusChain TFatScaner::FollowChain(std::uint32_t First, std::uint64_t Limit,
                                   std::unordered_set<std::uint32_t>& Taken) {
  TClusChain chain;
  if (!IsValidCluster(First) || Limit == 0) return chain;
  Taken.insert(First);
  chain.push_back(ClusterOffset(First));
  for (std::uint32_t cluster = First; chain.size() < std::min<std::uint64_t>(Limit, ClusterCount);) {
    // 0, the end and bad markers, and numbers past the volume all lie outside the valid range.
    const std::uint32_t next = GetNextCluster(cluster);
    if (!IsValidCluster(next) || !Taken.insert(next).second) break;
    chain.push_back(ClusterOffset(next));
    cluster = next;
  }
  return chain;
}

bool TFatScaner::IsOverwrittenFolder(const TFatEntryInfo& Entry) {
  return Entry.Deleted && !IsClusterFree(Entry.FirstCluster);
}

// How many of Wanted clusters from First exist.
std::uint32_t TFatScaner::ContiguousClusters(std::uint32_t First, std::uint64_t Wanted) const {
  if (!IsValidCluster(First)) return 0;
  const std::uint64_t available = std::uint64_t{ClusterCount} + 2 - First;
  return static_cast<std::uint32_t>(std::min(Wanted, available));
}

void TFatScaner::GetDirClusChain(PFileInfo Folder) {
  auto* dir = Folder ? Folder->Info<TFatDirInfo>() : nullptr;
  if (!dir) return;
  TFatEntryInfo& entry = dir->Entry;
  entry.ClusChain.clear();
  dir->DirBytes = 0;
  const std::uint32_t first = entry.FirstCluster;
  if (!IsValidCluster(first) || IsOverwrittenFolder(entry)) return;
  try {
    if (entry.Deleted) {
      if (Folder->Size == 0) Folder->Size = ClusterSize;
      const std::uint32_t count =
          ContiguousClusters(first, CeilDiv(static_cast<std::uint64_t>(Folder->Size.load()), ClusterSize));
      entry.ClusChain.push_back(ClusterOffset(first));
      for (std::uint32_t i = 1; i < count && FDirClusters.insert(first + i).second; ++i)
        entry.ClusChain.push_back(ClusterOffset(first + i));
    } else {
      entry.ClusChain = FollowChain(first, ClusterCount, FDirClusters);
    }
  } catch (const std::bad_alloc&) {
    WriteLog(LogMessages::SetLengthRaised, OperationNames::FatScanerGetDirClusChain,
             static_cast<const void*>(entry.ClusChain.data()), entry.ClusChain.size() + 1);
  }
  dir->DirBytes = static_cast<std::int64_t>(entry.ClusChain.size()) * ClusterSize;
}

TClusChain TFatScaner::GetFileClusChain(const TFatEntryInfo& Entry, std::uint32_t Size) {
  TClusChain chain;
  if (ClusterSize == 0 || !IsValidCluster(Entry.FirstCluster)) return chain;
  const std::uint64_t wanted = CeilDiv(Size, ClusterSize);
  try {
    if (Entry.Deleted) {
      const std::uint32_t count = ContiguousClusters(Entry.FirstCluster, wanted);
      chain.reserve(count);
      for (std::uint32_t i = 0; i < count; ++i) chain.push_back(ClusterOffset(Entry.FirstCluster + i));
    } else {
      std::unordered_set<std::uint32_t> taken;
      chain = FollowChain(Entry.FirstCluster, wanted, taken);
    }
  } catch (const std::bad_alloc&) {
    WriteLog(LogMessages::SetLengthRaised, OperationNames::FatScanerGetFileClusChain,
             static_cast<const void*>(chain.data()), wanted);
    chain.clear();
  }
  return chain;
}

std::int32_t TFatScaner::CalcFileCondition(const TFatEntryInfo& Entry, std::uint32_t Size) {
  if (ClusterSize == 0 || !IsValidCluster(Entry.FirstCluster)) return 0;
  const std::uint64_t wanted = CeilDiv(Size, ClusterSize);
  if (wanted == 0) return 0;
  // Clusters past the end of the volume count as overwritten.
  const std::uint32_t existing = ContiguousClusters(Entry.FirstCluster, wanted);
  std::uint64_t free = 0;
  for (std::uint32_t i = 0; i < existing; ++i) {
    free += IsClusterFree(Entry.FirstCluster + i);
    if (i % 16 == 0 && Stopped()) break;
  }
  return static_cast<std::int32_t>(free * 100 / wanted);
}

void TFatScaner::ScanForFiles() {
  TDiskScaner::ScanForFiles();
  try {
    if (Disk) {
      Disk->Clear();
      if (Init()) Walk();
    }
  } catch (...) {
    // Every step below guards its own failures; this keeps the promise that a scan always finishes.
    WriteLog(LogMessages::ReadMemoryFailed, OperationNames::FatScanerReadDir, static_cast<const void*>(this));
  }
  FolderQueue.Release();
  Reports().ScanFinished(Disk);
}

void TFatScaner::Walk() {
  BuildRootFolder();
  // Without the whole root there is no walk to speak of; a folder further down may fail alone.
  const PFileInfo root = RootIndex >= 0 ? FolderQueue.Items(RootIndex) : nullptr;
  auto* rootDir = root ? root->Info<TFatDirInfo>() : nullptr;
  if (!rootDir || rootDir->Entry.ClusChain.empty()) {
    SetScanFailure(RootlessReason());
    return;
  }
  if (const std::int64_t bad = ReadDir(RootIndex); bad >= 0) {
    SetScanFailure(TReason{TReasonId::RootUnreadable, {std::to_string(bad)}});
    return;
  }
  // The queue grows while it is read: folders are read in the order they were found.
  for (std::int32_t i = RootIndex + 1; i < FolderQueue.Count(); ++i) {
    Reports().ScanProgress(Disk, i, FolderQueue.Count());
    if (Stopped()) break;
    GetDirClusChain(FolderQueue.Items(i));
    ReadDir(i);
  }
}

bool TFatScaner::LoadWindow(std::int64_t Offset, std::uint32_t Length) {
  if (Offset == FLoadedWindow && Length <= FLoadedWindowLength) return true;
  FLoadedWindow = -1;
  try {
    FClusterBuffer.resize(ClusterSize);
  } catch (const std::bad_alloc&) {
    WriteLog(LogMessages::SetLengthRaisedHex, OperationNames::FatScanerReadFileInfo,
             static_cast<const void*>(FClusterBuffer.data()), ClusterSize);
    return false;
  }
  if (ReadDisk(Handle, FClusterBuffer.data(), Length, Offset) < Length) return false;
  FLoadedWindow = Offset;
  FLoadedWindowLength = Length;
  return true;
}

std::int64_t TFatScaner::ReadDir(std::int32_t Index) {
  std::int64_t unread = -1;
  const PFileInfo folder = FolderQueue.Items(Index);
  auto* dir = folder ? folder->Info<TFatDirInfo>() : nullptr;
  if (!dir) return unread;
  dir->FileIndexes.clear();
  dir->Pending = true;
  TDirEntryReader reader({ClusterCount, Codec.Kind == TFileSystemKind::Fat32});
  std::int64_t remaining = dir->DirBytes;
  for (const std::int64_t window : dir->Entry.ClusChain) {
    if (Stopped() || remaining <= 0) return unread;
    const auto length = static_cast<std::uint32_t>(std::min<std::int64_t>(ClusterSize, remaining));
    remaining -= length;
    // An unreadable window is passed over; no long name runs across the gap.
    if (!LoadWindow(window, length)) {
      if (unread < 0) unread = window;
      reader.Break();
      continue;
    }
    for (std::uint32_t at = 0; at + kDirSlotSize <= length; at += kDirSlotSize) {
      if (Stopped()) return unread;
      if (reader.Feed(TDirSlot(FClusterBuffer.data() + at, kDirSlotSize))) HandleEntry(folder, *dir, reader);
    }
  }
  return unread;
}

void TFatScaner::HandleEntry(PFileInfo Folder, TFatDirInfo& Dir, const TDirEntryReader& Reader) {
  const TDirEntry& e = Reader.Entry();
  // What a deleted folder holds is deleted with it, whether or not its own entries were marked.
  const bool deleted = e.Deleted || Dir.Entry.Deleted;
  if (!deleted && !e.IsFolder) return;  // existing files are never listed
  TFatEntryInfo entry;
  entry.IsFolder = e.IsFolder;
  entry.Deleted = deleted;
  entry.FirstCluster = e.FirstCluster;
  entry.ParentItem = Folder;
  std::string name;
  try {
    name = Reader.Name();
  } catch (const std::bad_alloc&) {
    WriteLog(LogMessages::GetMemFailed, OperationNames::FatScanerReadDir, nullptr, kItemRecordSize);
    return;
  }
  if (e.IsFolder) {
    // An empty path component would make the folder's files look like files of its parent.
    if (IsLostFolderName(name, e.Deleted)) name = "$folder_" + std::to_string(e.FirstCluster);
    QueueFolder(e, std::move(name), entry);
    return;
  }
  if (IsExcludedBakName(name)) return;
  PFileInfo item = nullptr;
  try {
    item = FillItem(NewItem(), e, std::move(name), Folder);
  } catch (const std::bad_alloc&) {
    WriteLog(LogMessages::GetMemFailed, OperationNames::FatScanerReadDir, nullptr, kItemRecordSize);
    return;
  }
  item->Condition = CalcFileCondition(entry, e.Size);
  try {
    FolderQueue.AddFile(item, std::make_unique<TFatEntryInfo>(entry), Folder);
  } catch (const std::bad_alloc&) {
    WriteLog(LogMessages::GetMemFailed, OperationNames::FatScanerAddFile, nullptr, kEntryRecordSize);
  }
}

// A folder whose first cluster another folder already took (its own ancestor on a damaged volume)
// is not queued: it would read the same directories again, without end. A deleted folder whose
// first cluster is in use again claims nothing: that cluster now belongs to another file or folder.
void TFatScaner::QueueFolder(const TDirEntry& Found, std::string Name, const TFatEntryInfo& Entry) {
  if (IsValidCluster(Entry.FirstCluster) && !IsOverwrittenFolder(Entry) &&
      !FDirClusters.insert(Entry.FirstCluster).second)
    return;
  std::unique_ptr<TFatDirInfo> dir;
  PFileInfo item = nullptr;
  try {
    dir = std::make_unique<TFatDirInfo>();
    item = FillItem(NewItem(), Found, std::move(Name), Entry.ParentItem);
  } catch (const std::bad_alloc&) {
    WriteLog(LogMessages::GetMemFailed, OperationNames::FatScanerAddDir, nullptr, kDirRecordSize);
    return;
  }
  dir->Entry = Entry;
  AddDir(item, std::move(dir));
}

std::int32_t TFatScaner::AddDir(PFileInfo Item, std::unique_ptr<TFatDirInfo> Dir) {
  return FolderQueue.Add(Item, std::move(Dir));
}

void TFatScaner::Clear() {
  FolderQueue.Release();
  FDirClusters.clear();
  FClusterBuffer = {};
  FLoadedWindow = -1;
  FLoadedWindowLength = 0;
  FFatBuffer = {};
  FLoadedFatSector = -1;
  FFatLoaded = 0;
}

// The root: named for the drive, sized as the volume, first in the folder queue.
void TFatScaner::QueueRoot(TClusChain Chain, std::int64_t DirBytes, std::uint32_t FirstCluster) {
  if (!Disk) return;
  PFileInfo item = NewItem();
  auto dir = std::make_unique<TFatDirInfo>();
  item->Name = RootFolderName(*Disk);
  item->Size = Disk->TotalSize;
  dir->Entry.FirstCluster = FirstCluster;
  dir->Entry.ClusChain = std::move(Chain);
  dir->DirBytes = DirBytes;
  RootIndex = AddDir(item, std::move(dir));
}

// Windows of a cluster each cover the fixed region; the last one stops where the region ends.
void TFat12Scaner::BuildRootFolder() {
  const std::int64_t start =
      std::int64_t{Bpb.ReservedSectors} * Bpb.BytesPerSector + std::int64_t{Bpb.NumberOfFats} * FatSize;
  const std::int64_t bytes = std::int64_t{Bpb.RootEntryCount} * kDirSlotSize;
  TClusChain windows;
  for (std::int64_t at = 0; at < bytes; at += ClusterSize) windows.push_back(start + at);
  QueueRoot(std::move(windows), bytes, 0);
}

bool TFat32Scaner::Init() {
  if (!TFatScaner::Init()) return false;
  // Bit 7 set: the tables are not mirrored and the low bits name the one in use.
  const std::uint16_t flags = ReadLe16(Boot, 40);
  ActiveFat = (flags & 0x80) && (flags & 0x0F) < Bpb.NumberOfFats ? flags & 0x0F : 0;
  return true;
}

TReason TFat12Scaner::RootlessReason() const { return TReason{TReasonId::RootWithoutEntries}; }

TReason TFat32Scaner::RootlessReason() const {
  return TReason{TReasonId::RootClusterOutside, {std::to_string(ReadLe32(Boot, 44))}};
}

void TFat32Scaner::BuildRootFolder() {
  const std::uint32_t first = ReadLe32(Boot, 44);
  TClusChain chain = FollowChain(first, ClusterCount, FDirClusters);
  const auto bytes = static_cast<std::int64_t>(chain.size()) * ClusterSize;
  QueueRoot(std::move(chain), bytes, first);
}

}  // namespace kestrine
