#pragma once
// The deep scan: after the file system's own scan, one sequential pass over its free clusters (or
// over the whole source when no file system is known) for lost folders and for files by their
// structure. What it finds follows everything the plain scan found.

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/deep/format_walks.h"
#include "engine/deep/lost_folders.h"
#include "engine/volume/disk_scanner.h"

namespace kestrine {

// The record of an item the deep scan found: its bytes lie one after another from Offset on.
struct TDeepFileInfo final : TFsInfo {
  std::int64_t Offset = 0;
  std::string_view NoteText;
  bool IsDeleted() const override { return true; }
  std::string_view Note() const override { return NoteText; }
};

class TDeepScaner final : public TDiskScaner {
 public:
  // Plain is the disk's own engine, nil when no file system is known.
  TDeepScaner(TDiskObject* Disk, std::unique_ptr<TDiskScaner> Plain);
  ~TDeepScaner() override;

  void Clear() override;
  bool Init() override;
  void ScanForFiles() override;
  void SetStopped(bool Value) override;
  std::vector<PFileInfo> HoldRecords(const std::vector<PFileInfo>& Items) override;
  void LetGoRecords(const std::vector<PFileInfo>& Items) override;

  // Bytes a pass reads at once.
  static constexpr std::uint32_t kBlock = 4 << 20;

 private:
  class TPlainReports;
  struct TCandidate {
    std::int64_t Offset = 0;
    TFoundFile Found;
  };

  void RunPlain();
  // Chooses what the pass reads and looks for; false when it cannot run.
  bool PreparePass();
  void Pass();
  // Tests the block start at Offset; where the pass goes on.
  std::int64_t TestBlock(std::span<const std::uint8_t> Bytes, std::int64_t Offset);
  void ResolvePending(std::int64_t Bound);
  void Publish();
  void PublishLostFolders(const TFatGeometry& Geometry);
  PFileInfo Folder(const std::string& Name, PFileInfo Parent);
  void AddFound(PFileInfo Parent, std::string Name, std::int64_t Offset, std::int64_t Size, std::string_view Note,
                const TLostEntry* Entry);
  int Condition(std::int64_t Offset, std::int64_t Size);
  void Progress(std::int64_t Done);

  std::unique_ptr<TDiskScaner> FPlain;
  std::unique_ptr<TPlainReports> FPlainReports;
  TVolumeHandle FWalkHandle;  // the walks read apart from the pass, so its read-ahead stays sequential
  std::optional<TClusterMap> FMap;
  std::optional<TFatGeometry> FGeometry;        // known or inferred: where lost folders' clusters lie
  enum class TFolderKind { None, Fat, ExFat };  // which lost folders the pass looks for
  TFolderKind FFolders = TFolderKind::None;
  std::optional<TSlotRules> FSlotRules;
  std::uint32_t FStep = 512;
  std::int64_t FTotal = 0;  // bytes the pass reads
  std::int64_t FSourceSize = 0;
  std::vector<TCandidate> FFound;
  std::vector<TLostFolder> FLost;
  std::optional<TCandidate> FPending;  // a file that ends at the next one found
  const TSignature* FPendingSignature = nullptr;
  std::vector<PFileInfo> FItemFolders;  // "$Deep scan", "$Lost folders" and those below them
};

// The disk's scanner with or without the deep pass: the deep scanner wraps the plain one.
std::unique_ptr<TDiskScaner> CreateDeepScaner(TDiskObject* Disk, std::unique_ptr<TDiskScaner> Plain);

}  // namespace kestrine
