#pragma once
// Read-only stream over a file the deep scan found: its bytes lie one after another on the source.

#include "engine/volume/recovery_stream.h"

namespace kestrine {

struct TDeepFileInfo;

class TRecoveryDeepStream final : public TRecoveryStream {
 public:
  TRecoveryDeepStream(TDiskObject* Disk, PFileInfo Item);

  std::int64_t GetSize() const override { return FSize; }
  std::optional<TReason> SizeCut() const override { return FSizeCut; }
  std::uint32_t Read(void* Buffer, std::uint32_t Count) override;
  // Clamped to 0 .. Size.
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  TVolumeRange NextVolumeRange(std::int64_t MaxLength) override;
  platform::TVolumeSource* VolumeSource() const override { return FHandle.get(); }
  std::optional<TReason> Failure() const override;

 private:
  TVolumeHandle FHandle;  // its own: a disk without a file system has no engine to lend one
  std::int64_t FOffset = 0;
  std::int64_t FSize = 0;
  std::optional<TReason> FSizeCut;
};

}  // namespace kestrine
