#pragma once
// Read-only stream over a file found on a FAT volume.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/fat/fat_records.h"
#include "engine/volume/recovery_stream.h"

namespace kestrine {

class TFatScaner;

class TRecoveryFatStream : public TRecoveryStream {
 public:
  // Builds the file's chain afresh with the stream's own scanner: the table may have changed since the scan.
  TRecoveryFatStream(TDiskObject* Disk, PFileInfo Item);

  // The recorded size, cut to what the data area can hold of the file.
  std::int64_t GetSize() const override { return FSize; }
  std::optional<TReason> SizeCut() const override { return FSizeCut; }
  std::uint32_t Read(void* Buffer, std::uint32_t Count) override;
  // Clamped to 0 .. Size.
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  // Adjacent clusters of the chain that the volume holds whole, up to the recorded size.
  TVolumeRange NextVolumeRange(std::int64_t MaxLength) override;
  // A copy that came back short keeps only the clusters it brought whole.
  std::int64_t TakeVolumeBytes(std::int64_t Count) override;

  // The chain lives in the stream, not in the item, so two streams over one item never share it.
  const TClusChain& Chain() const { return FChain; }

 private:
  // Clusters from chain index First, at most Limit, that follow one another on the volume.
  std::int64_t AdjacentClusters(std::int64_t First, std::int64_t Limit) const;

  TFatScaner* FScanner = nullptr;
  const TFatEntryInfo* FEntry = nullptr;
  TClusChain FChain;
  std::vector<std::uint8_t> FClusterBuffer;
  std::int64_t FLoadedCluster = -1;
  std::uint32_t FBufferedBytes = 0;
  std::int64_t FOffered = 0;  // length of the range last offered
  std::int64_t FSize = 0;
  std::optional<TReason> FSizeCut;
};

}  // namespace kestrine
