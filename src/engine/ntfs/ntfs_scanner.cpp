#include "engine/ntfs/ntfs_scanner.h"

#include <algorithm>
#include <unordered_set>

#include "engine/ntfs/efs_raw.h"
#include "engine/ntfs/mft_record.h"
#include "engine/ntfs/ntfs_bitmap.h"
#include "engine/volume/disk_object.h"
#include "engine/volume/workflow_ports.h"
#include "support/debug_log.h"

namespace kestrine {
namespace {
constexpr std::int64_t kProgressEvery = 1024;
// Clusters looked up between two looks at the stop signal.
constexpr std::int64_t kStopCheckClusters = 1 << 20;
constexpr std::int64_t kTableEntrySize = 64;
}  // namespace

// A folder read on the way up a parent chain, published once the folders above it are.
struct TNtfsScaner::TPendingFolder {
  std::unique_ptr<TFileInfo> Item;
  std::int64_t Next = -1;  // the parent record to go on with; -1 for none
  std::uint16_t NextSeq = 0;
  bool UnderRoot = false;  // hangs directly under the root
  bool Reused = false;     // a folder record that now belongs to another folder
};

namespace {
// Freeing a record counts its sequence number up, so a deleted folder carries the number its
// children name or the next one; a folder in use must carry that very number.
bool StillNamedBy(const TNtfsFileInfo& Folder, std::uint16_t Seq) {
  const std::uint16_t now = Folder.Sequence;
  if (Seq == 0 || now == 0 || now == Seq) return true;
  return Folder.Deleted && now == static_cast<std::uint16_t>(Seq + 1);
}
}  // namespace

bool IsExcludedName(std::string_view Name) {
  if (Name.size() != 12 || (Name[0] != '_' && Name[0] != '$') || Name[1] != 'E') return false;
  std::string tail(Name.substr(8));
  std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
  return tail == ".bak";
}

TNtfsScaner::TNtfsScaner(TDiskObject* Disk) : TDiskScaner(Disk) {}

TNtfsScaner::~TNtfsScaner() { TNtfsScaner::Clear(); }

void TNtfsScaner::Clear() {
  TDiskScaner::Clear();
  FFolderIndex.clear();
  FReusedFolders.clear();
  FBitmapStream.reset();
  FBitmapItem.reset();
  FMftReader.reset();
}

bool TNtfsScaner::Init() {
  // The reader and the bitmap read through the handle that the base replaces.
  FBitmapStream.reset();
  FMftReader.reset();
  if (!TDiskScaner::Init()) return false;
  FMftReader = std::make_unique<TMftReader>(Handle.get());
  ClusterSize = FMftReader->ClusterSize();
  // The reader stays, empty, so the streams over this scanner read nothing rather than fault.
  if (FMftReader->Failure()) {
    SetScanFailure(FMftReader->Failure());
    return false;
  }
  return true;
}

void TNtfsScaner::ScanForFiles() {
  try {
    TDiskScaner::ScanForFiles();
    if (Disk) Disk->Clear();
    FFolderIndex.clear();
    FReusedFolders.clear();
    if (Init()) {
      ReadClustersBitmap();
      WalkMft();
    }
  } catch (...) {
    // Nothing escapes a scan; what was published stays.
  }
  Reports().ScanFinished(Disk);
}

std::vector<PFileInfo> TNtfsScaner::HoldRecords(const std::vector<PFileInfo>& Items) {
  std::vector<PFileInfo> held;
  if (!FMftReader) return held;
  for (PFileInfo item : Items) {
    auto* info = item ? item->Info<TNtfsFileInfo>() : nullptr;
    if (!info || info->Record) continue;
    std::optional<TReason> why;
    if (auto again = FMftReader->RereadFileInfo(*info, why)) {
      info->Record = std::move(again->Record);
      held.push_back(item);
    }
  }
  return held;
}

void TNtfsScaner::LetGoRecords(const std::vector<PFileInfo>& Items) {
  for (PFileInfo item : Items)
    if (auto* info = item ? item->Info<TNtfsFileInfo>() : nullptr) info->ReleaseRecord();
}

void TNtfsScaner::WalkMft() {
  const std::int64_t count = FMftReader->RecordCount();
  const std::int64_t recordSize = FMftReader->RecordSize();
  // Every record position is visited, so a damaged record never hides the ones after it, and the
  // position is the record's number.
  for (std::int64_t recNo = 0; recNo < count; ++recNo) {
    if (Stopped()) break;
    try {
      bool found = false;
      auto info = FMftReader->ReadFileInfo(ReadFileInfoFlags::DeletedBaseOnly, found, recNo);
      if (info && !info->Directory) AddFoundFile(std::move(info));
    } catch (...) {
      // One record that cannot be handled does not end the scan.
    }
    if ((recNo + 1) % kProgressEvery == 0 || recNo + 1 == count)
      Reports().ScanProgress(Disk, (recNo + 1) * recordSize, count * recordSize);
  }
}

void TNtfsScaner::AddFoundFile(std::unique_ptr<TNtfsFileInfo> Info) {
  if (!Disk) return;
  // Facts are gathered first: only a file that is listed takes an item of the disk's store.
  TFileInfo facts;
  FMftReader->GetFileName(*Info, facts.Name);
  if (IsExcludedName(facts.Name)) return;
  const std::int64_t size = FMftReader->GetFileSize(*Info);
  // A record with neither name nor data (the reserved records 16 to 23) holds nothing to recover.
  if (facts.Name.empty() && size == 0) return;
  if (!FMftReader->ValidCompressionUnit(Info->CompressionUnit)) return;
  if (!FMftReader->GetStandardInfo(facts, *Info)) return;
  TNtfsDataStreamInfoArr streams;
  FMftReader->GetFileStreams(*Info, streams);
  std::erase_if(streams, [](const TNtfsDataStreamInfo& S) { return S.Name.empty(); });
  if (!streams.empty()) Info->Streams = std::make_unique<TNtfsDataStreamInfoArr>(std::move(streams));
  // Record 0 is the MFT itself, never a folder: a record that names none has no known parent.
  PFileInfo parent = Info->ParentRef > 0 ? AddDirToTree(Info->ParentRef, Info->ParentSeq) : nullptr;
  const int condition = CalcFileCondition(*Info);
  Info->ReleaseRecord();
  PFileInfo item = NewItem();
  item->Name = std::move(facts.Name);
  item->Size.store(size, std::memory_order_relaxed);
  item->CreationTime = facts.CreationTime;
  item->LastWriteTime = facts.LastWriteTime;
  item->Attributes = facts.Attributes;
  item->Parent = parent;
  item->Condition = condition;
  item->FsInfo = std::move(Info);
  AddFile(item);
}

PFileInfo TNtfsScaner::FindFolder(std::int64_t RecNo) const {
  const auto it = FFolderIndex.find(RecNo & static_cast<std::int64_t>(kMftRefMask));
  return it == FFolderIndex.end() ? nullptr : it->second;
}

// The known folder of a record when it is the one a reference of sequence Seq names: the folder
// itself, or the stand-in made when its record had been reused.
PFileInfo TNtfsScaner::FindNamedFolder(std::int64_t RecNo, std::uint16_t Seq) const {
  const PFileInfo known = FindFolder(RecNo);
  const auto* info = known ? known->Info<TNtfsFileInfo>() : nullptr;
  if (!info || !info->Directory || RecNo == kRootRecNo || StillNamedBy(*info, Seq)) return known;
  const auto it = FReusedFolders.find(RecNo & static_cast<std::int64_t>(kMftRefMask));
  return it == FReusedFolders.end() ? nullptr : it->second;
}

bool TNtfsScaner::ReadPendingFolder(std::int64_t RecNo, std::uint16_t Seq, TPendingFolder& Folder) {
  bool found = false;
  auto info = FMftReader->ReadFileInfo(0, found, RecNo);
  if (!info) return false;
  auto item = std::make_unique<TFileInfo>();
  Folder.Reused = info->Directory && RecNo != kRootRecNo && !StillNamedBy(*info, Seq);
  if (info->Directory && !Folder.Reused) {
    if (RecNo == kRootRecNo) {
      item->Name = Disk ? RootFolderName(*Disk) : std::string();
    } else {
      FMftReader->GetFileName(*info, item->Name);
    }
    FMftReader->GetStandardInfo(*item, *info);
    // The root has no parent; a folder that names itself is a cycle, cut like the longer ones.
    if (RecNo != kRootRecNo) {
      if (info->ParentRef == RecNo)
        Folder.UnderRoot = true;
      else if (info->ParentRef > 0) {
        Folder.Next = info->ParentRef;
        Folder.NextSeq = info->ParentSeq;
      }
    }
  } else {
    // The folder's record now holds a file, or another folder.
    item->Name = "$folder_" + std::to_string(RecNo);
    info->Deleted = true;
    Folder.UnderRoot = RecNo != kRootRecNo;
  }
  info->RecNo = RecNo;
  item->FsInfo = std::move(info);
  Folder.Item = std::move(item);
  return true;
}

PFileInfo TNtfsScaner::AddDirToTree(std::int64_t RecNo, std::uint16_t Seq) {
  if (!FMftReader) return nullptr;
  // Read up the chain to a folder already known, the root, or a record that cannot be read; then
  // publish from the top down, so every folder is announced after its parent.
  std::vector<TPendingFolder> chain;
  std::unordered_set<std::int64_t> onChain;
  PFileInfo top = nullptr;
  for (std::int64_t r = RecNo & static_cast<std::int64_t>(kMftRefMask);;) {
    if (PFileInfo known = FindNamedFolder(r, Seq)) {
      top = known;
      break;
    }
    if (onChain.contains(r)) {  // a cycle: the folder at the cut goes under the root
      chain.back().UnderRoot = true;
      break;
    }
    TPendingFolder folder;
    if (!ReadPendingFolder(r, Seq, folder)) break;
    if (folder.Reused && FReusedFolders.contains(r)) {
      top = FReusedFolders.at(r);
      break;
    }
    onChain.insert(r);
    chain.push_back(std::move(folder));
    if (chain.back().UnderRoot || chain.back().Next < 0) break;
    r = chain.back().Next;
    Seq = chain.back().NextSeq;
  }
  if (chain.empty()) return top;
  // The root never joins a chain that is cut, so building it here ends at once.
  if (chain.back().UnderRoot) top = AddDirToTree(kRootRecNo);
  PFileInfo parent = top;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    it->Item->Parent = parent;
    const int index = PublishDir(*it->Item, it->Reused);
    parent = index >= 0 && Disk ? Disk->Folders.Items(index) : nullptr;
  }
  return parent;
}

int TNtfsScaner::AddDir(TFileInfo& Facts) { return PublishDir(Facts, false); }

int TNtfsScaner::PublishDir(TFileInfo& Facts, bool Reused) {
  auto* info = Facts.Info<TNtfsFileInfo>();
  if (!Disk || !info) return -1;
  try {
    // What the walk asks of a folder later is kept apart from the record.
    info->ReleaseRecord();
    const std::int64_t recNo = info->RecNo;
    PFileInfo item = NewItem();
    item->Name = std::move(Facts.Name);
    item->Size.store(Facts.Size.load(std::memory_order_relaxed), std::memory_order_relaxed);
    item->CreationTime = Facts.CreationTime;
    item->LastWriteTime = Facts.LastWriteTime;
    item->Attributes = Facts.Attributes;
    item->Parent = Facts.Parent;
    item->FsInfo = std::move(Facts.FsInfo);
    const int index = Disk->Folders.Add(item);
    (Reused ? FReusedFolders : FFolderIndex)[recNo & static_cast<std::int64_t>(kMftRefMask)] = item;
    NotifyFolderAdded(item);
    return index;
  } catch (...) {
    WriteLog(LogMessages::GetMemFailed, OperationNames::NtfsScanerAddDir, static_cast<const void*>(&Facts),
             kTableEntrySize);
    return -1;
  }
}

int TNtfsScaner::AddFile(PFileInfo Item) {
  if (!Disk || !Item) return -1;
  try {
    const int index = Disk->Files.Add(Item);
    NotifyFileAdded(Item);
    return index;
  } catch (...) {
    WriteLog(LogMessages::GetMemFailed, OperationNames::NftsScanerAddFile, static_cast<const void*>(Item),
             kTableEntrySize);
    return -1;
  }
}

void TNtfsScaner::ReadClustersBitmap() {
  FBitmapStream.reset();
  FBitmapItem.reset();
  if (!FMftReader) return;
  bool found = false;
  auto info = FMftReader->ReadFileInfo(0, found, kBitmapRecNo);
  if (!info) return;
  auto item = std::make_unique<TFileInfo>();
  item->Size = FMftReader->GetFileSize(*info);
  item->FsInfo = std::move(info);
  FBitmapItem = std::move(item);
  FBitmapStream = OpenClusterBitmap(*FMftReader);
}

std::optional<TDiskScaner::TClusterMap> TNtfsScaner::ClusterMap() {
  if (!FBitmapStream || ClusterSize == 0) return std::nullopt;
  return TClusterMap{0, BitmapClusters(*FBitmapStream), 0};
}

std::optional<std::int64_t> TNtfsScaner::DataStart(const TFileInfo& Item) {
  const auto* found = Item.Info<TNtfsFileInfo>();
  if (!found || !FMftReader) return std::nullopt;
  std::optional<TReason> why;
  const auto record = FMftReader->RereadFileInfo(*found, why);
  TRunList runs;
  const auto header = record ? FMftReader->GetFileDataStreamsRunList(*record, "", runs) : std::nullopt;
  if (!header || !header->NonResident() || runs.empty() || runs.front().Lcn < 0) return std::nullopt;
  return runs.front().Lcn * std::int64_t{ClusterSize};
}

bool TNtfsScaner::IsClusterFree(std::int64_t Cluster) {
  return FBitmapStream && CountFreeClusters(*FBitmapStream, Cluster, 1) == 1;
}

int TNtfsScaner::CalcFileCondition(const TNtfsFileInfo& Info) {
  if (!FMftReader) return 0;
  TRunList runs;
  const auto header = FMftReader->GetFileDataStreamsRunList(Info, "", runs);
  if (!header) return 0;
  if (!header->NonResident()) return 100;
  // Only clusters of the volume that the bitmap covers can be free; a run past them is counted,
  // never walked.
  const std::int64_t covered =
      FBitmapStream ? std::min(BitmapClusters(*FBitmapStream), FMftReader->ClusterCount()) : 0;
  std::int64_t total = 0, free = 0;
  for (const TRunItem& run : runs) {
    if (run.Lcn < 0) continue;  // holes have no clusters to lose
    total += static_cast<std::int64_t>(run.Length);
    const std::int64_t end = std::min(run.Lcn + static_cast<std::int64_t>(run.Length), covered);
    for (std::int64_t cluster = run.Lcn; cluster < end; cluster += kStopCheckClusters) {
      if (Stopped()) return 0;
      free += CountFreeClusters(*FBitmapStream, cluster,
                                static_cast<std::uint64_t>(std::min<std::int64_t>(kStopCheckClusters, end - cluster)));
    }
  }
  return total > 0 ? static_cast<int>(free * 100 / total) : 0;
}

std::vector<std::uint8_t> TNtfsScaner::CreateEfsRecoveryData(PFileInfo Item) {
  const auto* info = Item ? Item->Info<TNtfsFileInfo>() : nullptr;
  if (!info || !FMftReader) return {};
  if (info->Record) return CreateEfsRecoveryData(*info);
  std::optional<TReason> why;
  const auto again = FMftReader->RereadFileInfo(*info, why);
  return again ? CreateEfsRecoveryData(*again) : std::vector<std::uint8_t>();
}

std::vector<std::uint8_t> TNtfsScaner::CreateEfsRecoveryData(const TNtfsFileInfo& Record) {
  if (!Record.Encrypted || !FMftReader) return {};
  return BuildEfsRawHeader(FMftReader->GetEfsData(Record));
}

}  // namespace kestrine
