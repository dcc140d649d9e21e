#include "engine/exfat/exfat_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/exfat/exfat_scanner.h"

namespace kestrine {

TRecoveryExFatStream::TRecoveryExFatStream(TDiskObject* Disk, PFileInfo Item) : TRecoveryStream(Disk, Item) {
  FScanner = dynamic_cast<TExFatScaner*>(Scanner.get());
  const auto* entry = Item ? Item->Info<TExFatEntryInfo>() : nullptr;
  FSize = TRecoveryStream::GetSize();
  if (!entry || !FScanner || FScanner->ClusterSize == 0) {
    FScanner = nullptr;
    return;
  }
  FRuns = FScanner->DataRuns(entry->Data, entry->Deleted);
  std::int64_t room = 0;
  for (const TExFatRun& r : FRuns) {
    FRunStarts.push_back(room);
    room += std::int64_t{r.Count} * FScanner->ClusterSize;
  }
  if (FSize > room) {
    // Clusters taken onward from the first stop at the heap's end; a chain or a contiguous file
    // cannot hold more than the heap.
    const bool onward = entry->Deleted && !entry->Data.NoFatChain;
    const std::string held = std::to_string(room);
    FSizeCut = TReason{onward ? TReasonId::SizeOverClusterRoom : TReasonId::SizeOverDataArea,
                       {std::to_string(FSize), held, held}};
    FSize = room;
  }
  FValidLength = static_cast<std::int64_t>(
      std::min<std::uint64_t>(entry->Data.ValidDataLength, static_cast<std::uint64_t>(FSize)));
}

TVolumeRange TRecoveryExFatStream::RangeAtPosition() const {
  if (!FScanner || FPosition >= FValidLength) return {};
  const auto next = std::upper_bound(FRunStarts.begin(), FRunStarts.end(), FPosition);
  if (next == FRunStarts.begin()) return {};
  const auto k = static_cast<std::size_t>(next - FRunStarts.begin() - 1);
  const std::int64_t within = FPosition - FRunStarts[k];
  const std::int64_t runBytes = std::int64_t{FRuns[k].Count} * FScanner->ClusterSize;
  return {FScanner->ClusterOffset(FRuns[k].First) + within, std::min(runBytes, FValidLength - FRunStarts[k]) - within};
}

std::uint32_t TRecoveryExFatStream::Read(void* Buffer, std::uint32_t Count) {
  FOffered = 0;
  if (!FScanner || !Buffer) return 0;
  auto* out = static_cast<std::uint8_t*>(Buffer);
  std::uint32_t total = 0;
  while (Count > 0 && FPosition < FSize) {
    if (FPosition >= FValidLength) {
      // Never written by the file system: zeros whatever the clusters hold.
      const auto n = static_cast<std::uint32_t>(std::min<std::int64_t>(Count, FSize - FPosition));
      std::memset(out + total, 0, n);
      total += n;
      FPosition += n;
      Count -= n;
      continue;
    }
    const TVolumeRange range = RangeAtPosition();
    const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(Count, range.Length));
    if (want == 0) break;
    const std::uint32_t got = ReadDisk(FScanner->Handle, out + total, want, range.Offset);
    total += got;
    FPosition += got;
    Count -= got;
    if (got < want) break;
  }
  return total;
}

TVolumeRange TRecoveryExFatStream::NextVolumeRange(std::int64_t MaxLength) {
  FOffered = 0;
  const platform::TVolumeSource* source = VolumeSource();
  TVolumeRange range = RangeAtPosition();
  if (!source || MaxLength <= 0 || range.Length <= 0) return {};
  range.Length = std::min({range.Length, MaxLength, source->Size() - range.Offset});
  if (range.Length <= 0) return {};
  FOffered = range.Length;
  return range;
}

std::int64_t TRecoveryExFatStream::TakeVolumeBytes(std::int64_t Count) {
  const std::int64_t taken = std::clamp<std::int64_t>(Count, 0, FOffered);
  FOffered = 0;
  FPosition += taken;
  return taken;
}

std::int64_t TRecoveryExFatStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  FOffered = 0;
  if (!Item) return FPosition;
  FPosition = std::clamp<std::int64_t>(TRecoveryStream::Seek(Offset, Origin), 0, GetSize());
  return FPosition;
}

}  // namespace kestrine
