#include "engine/deep/deep_scanner.h"

#include <algorithm>
#include <new>

#include "engine/exfat/exfat_scanner.h"
#include "engine/fat/fat_scanner.h"
#include "engine/volume/disk_object.h"
#include "engine/volume/workflow_ports.h"
#include "support/debug_log.h"
#include "support/file_time.h"

namespace kestrine {
namespace {

// Share of the progress bar the plain scan takes; the pass over the bytes takes the rest.
constexpr std::int64_t kPlainShare = 20;
// A directory found without geometry is read on for at most the largest cluster.
constexpr std::size_t kMaxDirBytes = 64 * 1024;
// Without a boot sector, cluster numbers can be anything FAT32 allows.
constexpr TSlotRules kUnknownRules{0x0FFFFFF5, true};

std::int64_t RoundUp(std::int64_t Value, std::int64_t Step) { return (Value + Step - 1) / Step * Step; }

}  // namespace

// Passes the plain scan's items on to the disk's reports and keeps its progress in the first part of
// the bar; its end is not the deep scan's.
class TDeepScaner::TPlainReports final : public TScanReports {
 public:
  explicit TPlainReports(TDiskObject* Disk) : FDisk(Disk) {}
  void FolderAdded(TDiskObject* Disk, PFileInfo Info) override { FDisk->Reports().FolderAdded(Disk, Info); }
  void FileAdded(TDiskObject* Disk, PFileInfo Info) override { FDisk->Reports().FileAdded(Disk, Info); }
  void ScanProgress(TDiskObject* Disk, std::int64_t Done, std::int64_t Total) override {
    if (Total > 0) FDisk->Reports().ScanProgress(Disk, Done * 1000 / Total, 1000 * kPlainShare);
  }
  void ScanFinished(TDiskObject*) override {}

 private:
  TDiskObject* FDisk;
};

TDeepScaner::TDeepScaner(TDiskObject* Disk, std::unique_ptr<TDiskScaner> Plain)
    : TDiskScaner(Disk), FPlain(std::move(Plain)), FPlainReports(std::make_unique<TPlainReports>(Disk)) {
  if (FPlain) FPlain->ReportTo(FPlainReports.get());
}

TDeepScaner::~TDeepScaner() { Clear(); }

void TDeepScaner::Clear() {
  if (FPlain) FPlain->Clear();
  FFound.clear();
  FLost.clear();
  FPending.reset();
  FItemFolders.clear();
  FMap.reset();
  FGeometry.reset();
  FSlotRules.reset();
  FFolders = TFolderKind::None;
  if (Disk) {
    Disk->DeepFilesFrom = -1;
    Disk->DeepFoldersFrom = -1;
  }
}

bool TDeepScaner::Init() {
  const bool opened = TDiskScaner::Init();
  if (FPlain) FPlain->Init();
  return opened;
}

void TDeepScaner::SetStopped(bool Value) {
  TDiskScaner::SetStopped(Value);
  if (FPlain) FPlain->SetStopped(Value);
}

std::vector<PFileInfo> TDeepScaner::HoldRecords(const std::vector<PFileInfo>& Items) {
  return FPlain ? FPlain->HoldRecords(Items) : std::vector<PFileInfo>{};
}

void TDeepScaner::LetGoRecords(const std::vector<PFileInfo>& Items) {
  if (FPlain) FPlain->LetGoRecords(Items);
}

void TDeepScaner::ScanForFiles() {
  TDiskScaner::ScanForFiles();
  try {
    RunPlain();
    if (!Stopped() && TDiskScaner::Init() && PreparePass()) Pass();
  } catch (const std::bad_alloc&) {
    WriteLog(LogMessages::GetMemFailed, OperationNames::DiskScanerInit, static_cast<const void*>(this), 0);
  } catch (...) {
  }
  // What was found until a stop or a failure is kept.
  try {
    Publish();
  } catch (...) {
  }
  Reports().ScanFinished(Disk);
}

bool TDeepScaner::PreparePass() {
  FWalkHandle = Disk->AllocHandle();
  FSourceSize = Handle->Size();
  FMap = FPlain ? FPlain->ClusterMap() : std::nullopt;
  // The clusters of a known FAT or exFAT volume are tested for its own kind of folder; without a file
  // system, FAT folders are looked for and the geometry comes from them.
  if (auto* fat = dynamic_cast<TFatScaner*>(FPlain.get()); fat && FMap) {
    FFolders = TFolderKind::Fat;
    FSlotRules = fat->SlotRules();
  } else if (dynamic_cast<TExFatScaner*>(FPlain.get()) && FMap) {
    FFolders = TFolderKind::ExFat;
  } else if (!FMap) {
    FFolders = TFolderKind::Fat;
    FSlotRules = kUnknownRules;
  }
  if (FMap && FFolders != TFolderKind::None) FGeometry = TFatGeometry{FMap->DataOffset, FPlain->ClusterSize};
  FStep = FMap ? FPlain->ClusterSize : 512;
  FTotal = FMap ? FMap->Count * FStep : FSourceSize;
  return FWalkHandle && FStep >= 512;
}

void TDeepScaner::RunPlain() {
  if (FPlain) {
    FPlain->ScanForFiles();
  } else if (Disk) {
    Disk->Clear();
  }
  if (!Disk) return;
  Disk->DeepFilesFrom = Disk->Files.Count();
  Disk->DeepFoldersFrom = Disk->Folders.Count();
}

void TDeepScaner::Progress(std::int64_t Done) {
  if (FTotal <= 0) return;
  const std::int64_t total = 1000 * kPlainShare + 1000 * (100 - kPlainShare);
  Reports().ScanProgress(
      Disk,
      1000 * kPlainShare + static_cast<std::int64_t>(static_cast<double>(Done) / FTotal * 1000 * (100 - kPlainShare)),
      total);
}

void TDeepScaner::Pass() {
  std::vector<std::uint8_t> block(kBlock);
  std::int64_t at = FMap ? FMap->DataOffset : 0;
  const std::int64_t end = FMap ? FMap->DataOffset + FMap->Count * FStep : FSourceSize;
  const std::int64_t base = at;
  while (at < end && !Stopped()) {
    // The next stretch of free clusters, at most a block of them.
    if (FMap) {
      std::int64_t n = FMap->First + (at - base) / FStep;
      const std::int64_t last = FMap->First + FMap->Count;
      while (n < last && !FPlain->ClusterIsFree(n)) {
        if (++n % 65536 != 0) continue;
        // A full volume is mostly passed over: the bar moves on meanwhile.
        if (Stopped()) break;
        Progress((n - FMap->First) * FStep);
      }
      at = base + (n - FMap->First) * FStep;
      if (n >= last || Stopped()) break;
    }
    std::int64_t length = std::min<std::int64_t>(kBlock, end - at);
    if (FMap) {
      std::int64_t n = FMap->First + (at - base) / FStep, run = 0;
      while (run * FStep < length && FPlain->ClusterIsFree(n + run)) ++run;
      length = std::min(length, run * FStep);
    }
    const std::uint32_t read = ReadDisk(Handle, block.data(), static_cast<std::uint32_t>(length), at);
    if (read < FStep) {
      at += FStep;  // an unreadable stretch is passed over
      continue;
    }
    std::int64_t next = at;
    for (std::int64_t offset = 0; offset + FStep <= read && !Stopped();) {
      next = TestBlock(std::span<const std::uint8_t>(block).subspan(static_cast<std::size_t>(offset), read - offset),
                       at + offset);
      offset = next - at;
    }
    at = std::max(next, at + static_cast<std::int64_t>(read / FStep * FStep));
    Progress(at - base);
  }
  if (FPending) ResolvePending(FSourceSize);
}

std::int64_t TDeepScaner::TestBlock(std::span<const std::uint8_t> Bytes, std::int64_t Offset) {
  const std::int64_t next = Offset + FStep;
  if (const TSignature* s = MatchSignature(Bytes.first(std::min(Bytes.size(), kSignatureHead)))) {
    if (FPending) ResolvePending(Offset);
    if (s->UntilNextHeader) {
      FPending = TCandidate{Offset, {}};
      FPendingSignature = s;
      return next;
    }
    TSourceReader reader(*FWalkHandle, Offset, s->Cap);
    if (const auto found = s->Walk(reader); found && found->Length > 0) {
      FFound.push_back(TCandidate{Offset, *found});
      return Offset + RoundUp(found->Length, FStep);
    }
    return next;
  }
  if (FFolders == TFolderKind::None || Bytes[0] == 0) return next;
  if (FMap) {
    const std::int64_t cluster = FMap->First + (Offset - FMap->DataOffset) / FStep;
    if (FPlain->WalkedFolderCluster(cluster)) return next;
    auto folder = FFolders == TFolderKind::ExFat ? ParseLostExFatFolder(Bytes.first(FStep))
                                                 : ParseLostFolder(Bytes.first(FStep), *FSlotRules);
    if (folder) {
      folder->Offset = Offset;
      folder->OwnCluster = static_cast<std::uint32_t>(cluster);
      FLost.push_back(std::move(*folder));
    }
  } else {
    // Without geometry every sector may start a folder's cluster; those that do not are dropped once
    // the geometry is known.
    if (auto folder = ParseLostFolder(Bytes.first(std::min(Bytes.size(), kMaxDirBytes)), *FSlotRules)) {
      folder->Offset = Offset;
      FLost.push_back(std::move(*folder));
    }
  }
  return next;
}

void TDeepScaner::ResolvePending(std::int64_t Bound) {
  const TCandidate pending = *FPending;
  FPending.reset();
  TSourceReader reader(*FWalkHandle, pending.Offset, std::min(FPendingSignature->Cap, Bound - pending.Offset));
  if (const auto found = FPendingSignature->Walk(reader); found && found->Length > 0)
    FFound.push_back(TCandidate{pending.Offset, *found});
}

int TDeepScaner::Condition(std::int64_t Offset, std::int64_t Size) {
  if (!FMap || Size <= 0) return 100;
  const std::int64_t first = FMap->First + (Offset - FMap->DataOffset) / FStep;
  const std::int64_t count = (Size + FStep - 1) / FStep;
  std::int64_t free = 0;
  for (std::int64_t n = first; n < first + count; ++n) free += FPlain->ClusterIsFree(n);
  return static_cast<int>(free * 100 / count);
}

PFileInfo TDeepScaner::Folder(const std::string& Name, PFileInfo Parent) {
  for (PFileInfo f : FItemFolders)
    if (f->Parent == Parent && f->Name == Name) return f;
  PFileInfo item = NewItem();
  item->Name = Name;
  item->Parent = Parent;
  item->Attributes = FileAttr::Directory;
  Disk->Folders.Add(item);
  NotifyFolderAdded(item);
  FItemFolders.push_back(item);
  return item;
}

void TDeepScaner::AddFound(PFileInfo Parent, std::string Name, std::int64_t Offset, std::int64_t Size,
                           std::string_view Note, const TLostEntry* Entry) {
  auto info = std::make_unique<TDeepFileInfo>();
  info->Offset = Offset;
  info->NoteText = Note;
  PFileInfo item = NewItem();
  item->Name = std::move(Name);
  item->Size = Size;
  item->Parent = Parent;
  item->Condition = Condition(Offset, Size);
  item->FsInfo = std::move(info);
  if (Entry) {
    item->Attributes = Entry->Attributes;
    item->CreationTime = Entry->Created;
    item->LastWriteTime = Entry->Modified;
  }
  Disk->Files.Add(item);
  NotifyFileAdded(item);
}

void TDeepScaner::Publish() {
  if (!Disk) return;
  if (!FGeometry) FGeometry = InferGeometry(FLost);
  // Where files with a record start: asked only when something was found, as it may read every record.
  std::unordered_set<std::int64_t> named;
  if (FPlain && !FFound.empty())
    for (int i = 0; i < Disk->DeepFilesFrom; ++i)
      if (const auto start = FPlain->DataStart(*Disk->Files.Items(i))) named.insert(*start);
  if (FGeometry) {
    PublishLostFolders(*FGeometry);
    for (const TLostFolder& f : FLost)
      for (const TLostEntry& e : f.Entries)
        if (e.FirstCluster >= 2)
          named.insert(FGeometry->DataOffset + std::int64_t{e.FirstCluster - 2} * FGeometry->ClusterSize);
  }
  if (FFound.empty()) return;
  PFileInfo top = nullptr;
  for (const TCandidate& c : FFound) {
    if (named.contains(c.Offset)) continue;
    if (!top) top = Folder("$Deep scan", nullptr);
    PFileInfo type = Folder(std::string(c.Found.Type), top);
    AddFound(type, "f" + std::to_string(c.Offset / 512) + "." + std::string(c.Found.Ext), c.Offset, c.Found.Length,
             c.Found.Note, nullptr);
  }
}

void TDeepScaner::PublishLostFolders(const TFatGeometry& Geometry) {
  PFileInfo top = nullptr;
  // A folder's cluster starts where the geometry puts one and holds only its own entries.
  for (TLostFolder& f : FLost)
    std::erase_if(f.Entries, [&](const TLostEntry& e) { return e.At >= Geometry.ClusterSize; });
  std::erase_if(FLost, [&](const TLostFolder& f) {
    return f.Entries.empty() || f.Offset < Geometry.DataOffset ||
           (f.Offset - Geometry.DataOffset) % Geometry.ClusterSize != 0;
  });
  for (TLostFolder& f : FLost) {
    const std::int64_t cluster = 2 + (f.Offset - Geometry.DataOffset) / Geometry.ClusterSize;
    if (!top) top = Folder("$Lost folders", nullptr);
    PFileInfo folder = Folder(std::to_string(cluster), top);
    for (TLostEntry& e : f.Entries) {
      const std::int64_t offset = Geometry.DataOffset + (std::int64_t{e.FirstCluster} - 2) * Geometry.ClusterSize;
      const bool placed = e.FirstCluster >= 2 && offset < FSourceSize;
      // Data past the end of the source is not there to read.
      const std::int64_t size = placed ? static_cast<std::int64_t>(std::min<std::uint64_t>(
                                             e.Size, static_cast<std::uint64_t>(FSourceSize - offset)))
                                       : 0;
      AddFound(folder, e.Name, placed ? offset : 0, size, {}, &e);
    }
  }
}

std::unique_ptr<TDiskScaner> CreateDeepScaner(TDiskObject* Disk, std::unique_ptr<TDiskScaner> Plain) {
  return std::make_unique<TDeepScaner>(Disk, std::move(Plain));
}

}  // namespace kestrine
