#include "engine/fat/fat_stream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/fat/fat_scanner.h"
#include "workflow/debug_log.h"

namespace kestrine {

TRecoveryFatStream::TRecoveryFatStream(TDiskObject* Disk, PFileInfo Item) : TRecoveryStream(Disk, Item) {
  FScanner = dynamic_cast<TFatScaner*>(Scanner.get());
  FEntry = Item ? Item->Info<TFatEntryInfo>() : nullptr;
  if (!FEntry || !FScanner || FScanner->ClusterSize == 0) {
    FEntry = nullptr;
    return;
  }
  FChain = FScanner->GetFileClusChain(*FEntry, static_cast<std::uint32_t>(Item->Size.load()));
  try {
    FClusterBuffer.resize(FScanner->ClusterSize);
  } catch (const std::bad_alloc&) {
    WriteLog(LogMessages::SetLengthRaised, OperationNames::FatStreamCreate,
             static_cast<const void*>(FClusterBuffer.data()), FScanner->ClusterSize);
    FChain.clear();
  }
}

std::uint32_t TRecoveryFatStream::Read(void* Buffer, std::uint32_t Count) {
  if (!FEntry || FChain.empty() || !Buffer) return 0;
  auto* out = static_cast<std::uint8_t*>(Buffer);
  const std::int64_t size = GetSize();
  const std::uint32_t clusterSize = FScanner->ClusterSize;
  std::uint32_t total = 0;
  while (Count > 0 && FPosition < size) {
    const std::int64_t c = FPosition / clusterSize;
    if (c >= static_cast<std::int64_t>(FChain.size())) break;
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

std::int64_t TRecoveryFatStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  if (!Item) return FPosition;
  FPosition = std::clamp<std::int64_t>(TRecoveryStream::Seek(Offset, Origin), 0, GetSize());
  return FPosition;
}

}  // namespace kestrine
