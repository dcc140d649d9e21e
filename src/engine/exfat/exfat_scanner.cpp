#include "engine/exfat/exfat_scanner.h"

#include <algorithm>
#include <limits>
#include <new>
#include <optional>

#include "engine/ntfs/utf16_text.h"
#include "engine/volume/byte_order.h"
#include "engine/volume/disk_object.h"
#include "engine/volume/workflow_ports.h"
#include "support/debug_log.h"

namespace kestrine {
namespace {

constexpr std::uint32_t kAreaWindow = 1 << 16;
constexpr std::uint32_t kBadCluster = 0xFFFFFFF7;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFF;
// exFAT folders hold at most 256 MiB of entries.
constexpr std::uint64_t kMaxFolderBytes = std::uint64_t{256} << 20;
constexpr int kItemRecordSize = 64;

void AppendCluster(TExFatRuns& Runs, std::uint32_t Cluster) {
  if (!Runs.empty() && Runs.back().First + Runs.back().Count == Cluster)
    ++Runs.back().Count;
  else
    Runs.push_back({Cluster, 1});
}

std::uint64_t RunClusters(const TExFatRuns& Runs) {
  std::uint64_t n = 0;
  for (const TExFatRun& r : Runs) n += r.Count;
  return n;
}

std::int64_t ToSize(std::uint64_t Bytes) {
  return static_cast<std::int64_t>(std::min<std::uint64_t>(Bytes, std::numeric_limits<std::int64_t>::max()));
}

}  // namespace

void TExFatArea::Reset(std::vector<TVolumeRange> Pieces) {
  FPieces = std::move(Pieces);
  FWindow = {};
  FWindowStart = -1;
  FWindowLength = 0;
}

const std::uint8_t* TExFatArea::At(platform::TVolumeSource* Source, std::int64_t Offset, std::uint32_t Width) {
  if (Offset < 0) return nullptr;
  if (FWindowStart < 0 || Offset < FWindowStart || Offset + Width > FWindowStart + FWindowLength) {
    // The window lies inside one piece; entries never straddle pieces, which are whole clusters.
    std::int64_t pieceStart = 0;
    auto piece = FPieces.begin();
    for (; piece != FPieces.end() && Offset >= pieceStart + piece->Length; ++piece) pieceStart += piece->Length;
    if (piece == FPieces.end()) return nullptr;
    const std::int64_t start = std::max(pieceStart, Offset - Offset % kAreaWindow);
    const auto length = static_cast<std::uint32_t>(std::min<std::int64_t>(kAreaWindow, pieceStart + piece->Length - start));
    FWindowStart = -1;
    try {
      FWindow.resize(kAreaWindow);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    if (ReadDisk(Source, FWindow.data(), length, piece->Offset + (start - pieceStart)) < length) return nullptr;
    FWindowStart = start;
    FWindowLength = length;
    if (Offset + Width > FWindowStart + FWindowLength) return nullptr;
  }
  return FWindow.data() + (Offset - FWindowStart);
}

TExFatScaner::~TExFatScaner() { Clear(); }

void TExFatScaner::Clear() {
  FFolders.Release();
  FDirClusters.clear();
  FFat.Reset({});
  FBitmap.Reset({});
}

bool TExFatScaner::Init() {
  ClusterSize = 0;
  FGeometry = {};
  Label.clear();
  FDirClusters.clear();
  FFat.Reset({});
  FBitmap.Reset({});
  if (!TDiskScaner::Init()) return false;
  std::vector<std::uint8_t> region(kExFatBootRegionMax);
  region.resize(ReadDisk(Handle, region.data(), kExFatBootRegionMax, 0));
  TExFatBoot boot = ParseExFatBoot(region);
  if (!boot.Geometry) {
    WriteLog(LogMessages::BpbReadFailed, OperationNames::ExFatScanerInit, static_cast<const void*>(Handle.get()));
    SetScanFailure(std::move(boot.Why));
    return false;
  }
  FGeometry = *boot.Geometry;
  ClusterSize = FGeometry.ClusterSize;
  FFat.Reset({{FGeometry.FatOffset, FGeometry.FatBytes}});
  if (!ReadRootEntries()) {
    SetScanFailure(TReason{TReasonId::ExFatNoBitmap});
    ClusterSize = 0;
    return false;
  }
  return true;
}

// The bitmap, up-case table and label entries lie in the root, before any file: its clusters are
// read one at a time until the one holding the bitmap.
bool TExFatScaner::ReadRootEntries() {
  const std::uint64_t bitmapBytes = (std::uint64_t{FGeometry.ClusterCount} + 7) / 8;
  std::optional<TExFatRuns> bitmap;
  for (const TExFatRun& run : ChainRuns(FGeometry.RootCluster, ClustersFor(kMaxFolderBytes), false)) {
    for (std::uint32_t i = 0; i < run.Count && !bitmap; ++i) {
      std::int64_t unread = -1;
      const std::vector<std::uint8_t> root = ReadRuns({{run.First + i, 1}}, unread);
      for (std::size_t at = 0; at + kExFatEntrySize <= root.size(); at += kExFatEntrySize) {
        const std::span<const std::uint8_t> e(root.data() + at, kExFatEntrySize);
        if (e[0] == ExFatEntry::Label) Label = Utf16LeToUtf8(e.subspan(2, 2 * std::min<std::size_t>(e[1], 11)));
        // A volume with two tables has a bitmap for each; the one of the table in use counts.
        if (e[0] != ExFatEntry::Bitmap || (e[1] & 1) != FGeometry.ActiveFat || bitmap) continue;
        bitmap = ChainRuns(ReadLe32(e, 20), ClustersFor(bitmapBytes), false);
        if (RunClusters(*bitmap) * ClusterSize < bitmapBytes || ReadLe64(e, 24) < bitmapBytes) return false;
      }
    }
    if (bitmap) break;
  }
  if (!bitmap) return false;
  std::vector<TVolumeRange> ranges;
  for (const TExFatRun& r : *bitmap) ranges.push_back({ClusterOffset(r.First), std::int64_t{r.Count} * ClusterSize});
  FBitmap.Reset(std::move(ranges));
  return true;
}

std::uint64_t TExFatScaner::ClustersFor(std::uint64_t Bytes) const {
  if (ClusterSize == 0) return 0;
  return std::min<std::uint64_t>(Bytes / ClusterSize + (Bytes % ClusterSize != 0), FGeometry.ClusterCount);
}

std::uint32_t TExFatScaner::NextCluster(std::uint32_t Cluster) {
  const std::uint8_t* entry = FFat.At(Handle.get(), std::int64_t{Cluster} * 4, 4);
  return entry ? ReadLe32(std::span(entry, 4), 0) : kBadCluster;
}

bool TExFatScaner::IsClusterFree(std::uint32_t Cluster) {
  if (!IsValidCluster(Cluster)) return false;
  const std::uint32_t bit = Cluster - 2;
  const std::uint8_t* byte = FBitmap.At(Handle.get(), bit / 8, 1);
  return byte && !(*byte & (1u << (bit % 8)));
}

TExFatRuns TExFatScaner::ChainRuns(std::uint32_t First, std::uint64_t Limit, bool OnlyFree) {
  TExFatRuns runs;
  std::unordered_set<std::uint32_t> seen;
  for (std::uint32_t c = First; seen.size() < Limit; c = NextCluster(c)) {
    if (!IsValidCluster(c) || (OnlyFree && !IsClusterFree(c)) || !seen.insert(c).second) break;
    AppendCluster(runs, c);
  }
  return runs;
}

// Inside the heap, on free clusters, no loop (ChainRuns sees to those), of the file's length.
bool TExFatScaner::ChainHoldsUp(const TExFatRuns& Runs, std::uint64_t Wanted) {
  if (RunClusters(Runs) != Wanted) return false;
  const std::uint32_t last = Runs.back().First + Runs.back().Count - 1;
  return Wanted == 1 || NextCluster(last) == kEndOfChain;
}

TExFatRuns TExFatScaner::FreeRunsFrom(std::uint32_t First, std::uint64_t Wanted) {
  TExFatRuns runs{{First, 1}};
  std::uint64_t taken = 1;
  for (std::uint64_t c = std::uint64_t{First} + 1; taken < Wanted && c < std::uint64_t{FGeometry.ClusterCount} + 2; ++c) {
    if (!IsClusterFree(static_cast<std::uint32_t>(c))) continue;
    AppendCluster(runs, static_cast<std::uint32_t>(c));
    ++taken;
  }
  return runs;
}

TExFatRuns TExFatScaner::DataRuns(const TExFatData& Data, bool Deleted) {
  const std::uint64_t wanted = ClustersFor(Data.DataLength);
  if (!IsValidCluster(Data.FirstCluster) || wanted == 0) return {};
  try {
    if (Data.NoFatChain) {
      const std::uint64_t room = std::uint64_t{FGeometry.ClusterCount} + 2 - Data.FirstCluster;
      return {{Data.FirstCluster, static_cast<std::uint32_t>(std::min(wanted, room))}};
    }
    if (!Deleted) return ChainRuns(Data.FirstCluster, wanted, false);
    // Some drivers keep a deleted file's chain, others zero it.
    TExFatRuns chain = ChainRuns(Data.FirstCluster, wanted, true);
    if (!chain.empty() && ChainHoldsUp(chain, wanted)) return chain;
    return FreeRunsFrom(Data.FirstCluster, wanted);
  } catch (const std::bad_alloc&) {
    WriteLog(LogMessages::SetLengthRaised, OperationNames::ExFatScanerDataRuns, nullptr, wanted);
    return {};
  }
}

std::int32_t TExFatScaner::Condition(const TExFatData& Data, const TExFatRuns& Runs) {
  if (ClusterSize == 0) return 0;
  const std::uint64_t wanted = Data.DataLength / ClusterSize + (Data.DataLength % ClusterSize != 0);
  if (wanted == 0) return 0;
  std::uint64_t free = 0, looked = 0;
  for (const TExFatRun& r : Runs) {
    for (std::uint32_t i = 0; i < r.Count; ++i) {
      free += IsClusterFree(r.First + i);
      if (++looked % 4096 == 0 && Stopped()) return static_cast<std::int32_t>(free * 100 / wanted);
    }
  }
  return static_cast<std::int32_t>(free * 100 / wanted);
}

std::vector<std::uint8_t> TExFatScaner::ReadRuns(const TExFatRuns& Runs, std::int64_t& Unread) {
  Unread = -1;
  std::vector<std::uint8_t> bytes;
  // Folders are the only runs read whole; their size keeps every length below within 32 bits.
  if (RunClusters(Runs) * ClusterSize > kMaxFolderBytes) return bytes;
  try {
    bytes.resize(RunClusters(Runs) * ClusterSize);
  } catch (const std::bad_alloc&) {
    WriteLog(LogMessages::SetLengthRaised, OperationNames::ExFatScanerReadDir, nullptr, RunClusters(Runs));
    return {};
  }
  std::uint8_t* out = bytes.data();
  for (const TExFatRun& r : Runs) {
    const std::uint32_t length = r.Count * ClusterSize;
    // An unreadable run is read cluster by cluster; what cannot be read stays zeros, which end no set.
    if (ReadDisk(Handle, out, length, ClusterOffset(r.First)) < length) {
      for (std::uint32_t i = 0; i < r.Count; ++i) {
        std::uint8_t* at = out + std::size_t{i} * ClusterSize;
        if (ReadDisk(Handle, at, ClusterSize, ClusterOffset(r.First + i)) < ClusterSize) {
          std::fill_n(at, ClusterSize, 0);
          if (Unread < 0) Unread = ClusterOffset(r.First + i);
        }
      }
    }
    out += length;
  }
  return bytes;
}

void TExFatScaner::ScanForFiles() {
  TDiskScaner::ScanForFiles();
  try {
    if (Disk) {
      Disk->Clear();
      if (Init()) Walk();
    }
  } catch (...) {
    // Every step below guards its own failures; this keeps the promise that a scan always finishes.
    WriteLog(LogMessages::ReadMemoryFailed, OperationNames::ExFatScanerReadDir, static_cast<const void*>(this));
  }
  FFolders.Release();
  Reports().ScanFinished(Disk);
}

void TExFatScaner::Walk() {
  PFileInfo root = NewItem();
  auto dir = std::make_unique<TExFatDirInfo>();
  root->Name = RootFolderName(*Disk);
  root->Size = Disk->TotalSize;
  dir->Entry.Data.FirstCluster = FGeometry.RootCluster;
  const std::int32_t rootIndex = FFolders.Add(root, std::move(dir));
  if (rootIndex < 0) return;
  if (const std::int64_t bad = ReadFolder(rootIndex); bad >= 0) {
    SetScanFailure(TReason{TReasonId::RootUnreadable, {std::to_string(bad)}});
    return;
  }
  // The queue grows while it is read: folders are read in the order they were found.
  for (std::int32_t i = rootIndex + 1; i < FFolders.Count(); ++i) {
    Reports().ScanProgress(Disk, i, FFolders.Count());
    if (Stopped()) break;
    ReadFolder(i);
  }
}

// A folder never takes a cluster another folder of this scan has taken, which also ends loops
// between folders; a deleted folder whose first cluster is in use again holds nothing of its own.
TExFatRuns TExFatScaner::FolderRuns(const TExFatDirInfo& Dir) {
  const TExFatData& data = Dir.Entry.Data;
  TExFatRuns runs;
  if (Dir.Entry.Deleted && !IsClusterFree(data.FirstCluster)) return runs;
  TExFatRuns found;
  if (data.DataLength == 0 && !data.NoFatChain) {
    found = ChainRuns(data.FirstCluster, ClustersFor(kMaxFolderBytes), Dir.Entry.Deleted);
  } else {
    TExFatData capped = data;
    capped.DataLength = std::min(std::max<std::uint64_t>(data.DataLength, ClusterSize), kMaxFolderBytes);
    found = DataRuns(capped, Dir.Entry.Deleted);
  }
  // Clusters past the end of the source cannot be read; a damaged length must not allocate for them.
  const std::int64_t end = Handle ? Handle->Size() : 0;
  for (const TExFatRun& r : found)
    for (std::uint32_t i = 0; i < r.Count; ++i) {
      if (ClusterOffset(r.First + i) >= end || !FDirClusters.insert(r.First + i).second) return runs;
      AppendCluster(runs, r.First + i);
    }
  return runs;
}

std::int64_t TExFatScaner::ReadFolder(std::int32_t Index) {
  const PFileInfo folder = FFolders.Items(Index);
  auto* dir = folder ? folder->Info<TExFatDirInfo>() : nullptr;
  if (!dir) return -1;
  std::int64_t unread = -1;
  const std::vector<std::uint8_t> bytes = ReadRuns(FolderRuns(*dir), unread);
  const std::span<const std::uint8_t> all(bytes);
  for (std::size_t at = 0, n = 0; at + kExFatEntrySize <= all.size(); ++n) {
    if (n % 4096 == 0 && Stopped()) break;
    const std::optional<TExFatEntrySet> set = IsFileEntry(all.subspan(at)) ? ParseEntrySet(all.subspan(at)) : std::nullopt;
    if (!set) {
      at += kExFatEntrySize;
      continue;
    }
    HandleSet(folder, *dir, *set);
    at += set->Entries * kExFatEntrySize;
  }
  return unread;
}

void TExFatScaner::HandleSet(PFileInfo Folder, const TExFatDirInfo& Dir, const TExFatEntrySet& Set) {
  // What a deleted folder holds is deleted with it, whether or not its own entries were marked.
  const bool deleted = Set.Deleted || Dir.Entry.Deleted;
  if (Set.IsFolder()) {
    QueueFolder(Folder, Set, deleted);
    return;
  }
  if (!deleted) return;  // existing files are never listed
  PFileInfo item = nullptr;
  try {
    auto info = std::make_unique<TExFatEntryInfo>();
    info->Deleted = true;
    info->Data = Set.Data;
    item = NewItem();
    item->Name = Set.Name.empty() ? "$file_" + std::to_string(Set.Data.FirstCluster) : Set.Name;
    item->Size = ToSize(Set.Data.DataLength);
    item->Attributes = Set.Attributes;
    item->CreationTime = ExFatTimeToFileTime(Set.Created);
    item->LastWriteTime = ExFatTimeToFileTime(Set.Modified);
    item->Parent = Folder;
    item->Condition = Condition(Set.Data, DataRuns(Set.Data, true));
    FFolders.AddFile(item, std::move(info), Folder);
  } catch (const std::bad_alloc&) {
    WriteLog(LogMessages::GetMemFailed, OperationNames::ExFatScanerReadDir, nullptr, kItemRecordSize);
  }
}

void TExFatScaner::QueueFolder(PFileInfo Parent, const TExFatEntrySet& Set, bool Deleted) {
  try {
    auto dir = std::make_unique<TExFatDirInfo>();
    dir->Entry.Deleted = Deleted;
    dir->Entry.Data = Set.Data;
    PFileInfo item = NewItem();
    // An empty path component would make the folder's files look like files of its parent.
    item->Name = Set.Name.empty() ? "$folder_" + std::to_string(Set.Data.FirstCluster) : Set.Name;
    item->Attributes = Set.Attributes;
    item->CreationTime = ExFatTimeToFileTime(Set.Created);
    item->LastWriteTime = ExFatTimeToFileTime(Set.Modified);
    item->Parent = Parent;
    FFolders.Add(item, std::move(dir));
  } catch (const std::bad_alloc&) {
    WriteLog(LogMessages::GetMemFailed, OperationNames::ExFatScanerReadDir, nullptr, kItemRecordSize);
  }
}

}  // namespace kestrine
