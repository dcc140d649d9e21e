#include "engine/fat/fat_stream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/fat/fat_scanner.h"
#include "support/debug_log.h"

namespace kestrine {

TRecoveryFatStream::TRecoveryFatStream(TDiskObject* Disk, PFileInfo Item) : TRecoveryStream(Disk, Item) {
  FScanner = dynamic_cast<TFatScaner*>(Scanner.get());
  FEntry = Item ? Item->Info<TFatEntryInfo>() : nullptr;
  FSize = TRecoveryStream::GetSize();
  if (!FEntry || !FScanner || FScanner->ClusterSize == 0) {
    FEntry = nullptr;
    return;
  }
  // A file holds at most the data area; a deleted one, whose clusters are taken to follow its first,
  // at most what lies from there to the area's end.
  const std::int64_t clusterSize = FScanner->ClusterSize;
  std::int64_t room = std::int64_t{FScanner->ClusterCount} * clusterSize;
  TReasonId why = TReasonId::SizeOverDataArea;
  if (FEntry->Deleted && FScanner->IsValidCluster(FEntry->FirstCluster)) {
    room = (std::int64_t{FScanner->ClusterCount} + 2 - FEntry->FirstCluster) * clusterSize;
    why = TReasonId::SizeOverClusterRoom;
  }
  if (FSize > room) {
    FSizeCut = TReason{why, {std::to_string(FSize), std::to_string(room), std::to_string(room)}};
    FSize = room;
  }
  FChain = FScanner->GetFileClusChain(*FEntry, static_cast<std::uint32_t>(FSize));
  try {
    FClusterBuffer.resize(FScanner->ClusterSize);
  } catch (const std::bad_alloc&) {
    WriteLog(LogMessages::SetLengthRaised, OperationNames::FatStreamCreate,
             static_cast<const void*>(FClusterBuffer.data()), FScanner->ClusterSize);
    FChain.clear();
  }
}

std::int64_t TRecoveryFatStream::AdjacentClusters(std::int64_t First, std::int64_t Limit) const {
  const std::int64_t end = std::min(First + Limit, static_cast<std::int64_t>(FChain.size()));
  std::int64_t c = First;
  while (c < end && (c == First || FChain[c] == FChain[c - 1] + FScanner->ClusterSize)) ++c;
  return c - First;
}

std::uint32_t TRecoveryFatStream::Read(void* Buffer, std::uint32_t Count) {
  FOffered = 0;
  if (!FEntry || FChain.empty() || !Buffer) return 0;
  auto* out = static_cast<std::uint8_t*>(Buffer);
  const std::int64_t size = GetSize();
  const std::uint32_t clusterSize = FScanner->ClusterSize;
  std::uint32_t total = 0;
  while (Count > 0 && FPosition < size) {
    const std::int64_t c = FPosition / clusterSize;
    if (c >= static_cast<std::int64_t>(FChain.size())) break;
    // Whole clusters that lie side by side and fit go straight into the caller's buffer, in one read.
    const std::int64_t fit = std::min<std::int64_t>(Count, size - FPosition) / clusterSize;
    if (FPosition % clusterSize == 0 && fit > 0) {
      const auto bytes = static_cast<std::uint32_t>(AdjacentClusters(c, fit) * clusterSize);
      const std::uint32_t got = ReadDisk(FScanner->Handle, out + total, bytes, FChain[c]);
      const std::uint32_t whole = got / clusterSize * clusterSize;
      total += whole;
      FPosition += whole;
      Count -= whole;
      if (whole < bytes) break;  // the next cluster cannot be read whole
      continue;
    }
    if (c != FLoadedCluster) {
      FBufferedBytes = ReadDisk(FScanner->Handle, FClusterBuffer.data(), clusterSize, FChain[c]);
      if (FBufferedBytes < clusterSize) {
        FLoadedCluster = -1;
        break;
      }
      FLoadedCluster = c;
    }
    const auto off = static_cast<std::uint32_t>(FPosition - c * clusterSize);
    const auto n = static_cast<std::uint32_t>(
        std::min<std::int64_t>({std::int64_t{FBufferedBytes} - off, size - FPosition, std::int64_t{Count}}));
    std::memcpy(out + total, FClusterBuffer.data() + off, n);
    total += n;
    FPosition += n;
    Count -= n;
  }
  return total;
}

TVolumeRange TRecoveryFatStream::NextVolumeRange(std::int64_t MaxLength) {
  FOffered = 0;
  const std::int64_t size = GetSize();
  const platform::TVolumeSource* source = VolumeSource();
  if (!FEntry || FChain.empty() || !source || MaxLength <= 0 || FPosition >= size) return {};
  const std::int64_t clusterSize = FScanner->ClusterSize;
  const std::int64_t first = FPosition / clusterSize;
  if (first >= static_cast<std::int64_t>(FChain.size())) return {};
  const std::int64_t want = std::min(MaxLength, size - FPosition);
  std::int64_t count = AdjacentClusters(first, (FPosition + want - 1) / clusterSize - first + 1);
  // Read takes a cluster whole or not at all: one the source ends inside is left to it.
  const std::int64_t whole = (source->Size() - FChain[first]) / clusterSize;
  count = std::min(count, std::max<std::int64_t>(whole, 0));
  const std::int64_t within = FPosition - first * clusterSize;
  const std::int64_t length = std::min(want, count * clusterSize - within);
  if (length <= 0) return {};
  FOffered = length;
  return {FChain[first] + within, length};
}

std::int64_t TRecoveryFatStream::TakeVolumeBytes(std::int64_t Count) {
  std::int64_t taken = std::clamp<std::int64_t>(Count, 0, FOffered);
  if (taken < FOffered) {
    const std::int64_t clusterSize = FScanner->ClusterSize;
    taken = std::max<std::int64_t>((FPosition + taken) / clusterSize * clusterSize - FPosition, 0);
  }
  FOffered = 0;
  FPosition += taken;
  return taken;
}

std::int64_t TRecoveryFatStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  FOffered = 0;
  if (!Item) return FPosition;
  FPosition = std::clamp<std::int64_t>(TRecoveryStream::Seek(Offset, Origin), 0, GetSize());
  return FPosition;
}

}  // namespace kestrine
