#include "engine/deep/deep_stream.h"

#include <algorithm>

#include "engine/deep/deep_scanner.h"
#include "engine/volume/disk_object.h"

namespace kestrine {

TRecoveryDeepStream::TRecoveryDeepStream(TDiskObject* Disk, PFileInfo Item)
    : TRecoveryStream(Disk, Item), FHandle(Disk ? Disk->AllocHandle() : nullptr) {
  const auto* info = Item ? Item->Info<TDeepFileInfo>() : nullptr;
  if (!info || !FHandle) return;
  FOffset = info->Offset;
  FSize = TRecoveryStream::GetSize();
  const std::int64_t room = std::max<std::int64_t>(0, FHandle->Size() - FOffset);
  if (FSize > room) {
    FSizeCut =
        TReason{TReasonId::SizeOverDataArea, {std::to_string(FSize), std::to_string(room), std::to_string(room)}};
    FSize = room;
  }
}

std::optional<TReason> TRecoveryDeepStream::Failure() const {
  if (!FHandle) return TReason{TReasonId::VolumeUnopenable};
  return {};
}

std::uint32_t TRecoveryDeepStream::Read(void* Buffer, std::uint32_t Count) {
  if (FPosition < 0 || FPosition >= FSize) return 0;
  const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(Count, FSize - FPosition));
  const std::uint32_t read = ReadDisk(FHandle, Buffer, want, FOffset + FPosition);
  FPosition += read;
  return read;
}

std::int64_t TRecoveryDeepStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  TRecoveryStream::Seek(Offset, Origin);
  FPosition = std::clamp<std::int64_t>(FPosition, 0, FSize);
  return FPosition;
}

TVolumeRange TRecoveryDeepStream::NextVolumeRange(std::int64_t MaxLength) {
  if (!FHandle || FPosition >= FSize || MaxLength <= 0) return {};
  return {FOffset + FPosition, std::min(MaxLength, FSize - FPosition)};
}

}  // namespace kestrine
