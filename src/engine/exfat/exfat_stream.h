#pragma once
// Read-only stream over a file found on an exFAT volume.

#include <cstdint>
#include <vector>

#include "engine/exfat/exfat_records.h"
#include "engine/volume/recovery_stream.h"

namespace kestrine {

class TExFatScaner;

class TRecoveryExFatStream : public TRecoveryStream {
 public:
  // Finds the file's clusters afresh with the stream's own scanner: the volume may have changed since the scan.
  TRecoveryExFatStream(TDiskObject* Disk, PFileInfo Item);

  // The recorded size, cut to what the clusters found can hold.
  std::int64_t GetSize() const override { return FSize; }
  std::optional<TReason> SizeCut() const override { return FSizeCut; }
  // Bytes past the valid data length are zeros; a read stops short where the volume cannot be read.
  std::uint32_t Read(void* Buffer, std::uint32_t Count) override;
  // Clamped to 0 .. Size; costs a search of the runs, never a read.
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  TVolumeRange NextVolumeRange(std::int64_t MaxLength) override;
  std::int64_t TakeVolumeBytes(std::int64_t Count) override;

  const TExFatRuns& Runs() const { return FRuns; }

 private:
  // The volume range from the position to the end of its run, the valid length and the size.
  TVolumeRange RangeAtPosition() const;

  TExFatScaner* FScanner = nullptr;
  TExFatRuns FRuns;
  std::vector<std::int64_t> FRunStarts;  // file offset of each run's first byte
  std::int64_t FSize = 0;
  std::int64_t FValidLength = 0;
  std::int64_t FOffered = 0;  // length of the range last offered
  std::optional<TReason> FSizeCut;
};

}  // namespace kestrine
