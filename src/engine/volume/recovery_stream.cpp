#include "engine/volume/recovery_stream.h"

#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"

namespace kestrine {

TRecoveryStream::TRecoveryStream(TDiskObject* Disk, PFileInfo Item) : Disk(Disk), Item(Item) {
  Scanner = CreateDiskScaner(Disk);
  if (Scanner) Scanner->Init();
}

TRecoveryStream::~TRecoveryStream() = default;

std::int64_t TRecoveryStream::GetSize() const { return Item ? Item->Size.load() : 0; }

std::int64_t TRecoveryStream::TakeVolumeBytes(std::int64_t Count) {
  if (Count <= 0) return 0;
  FPosition += Count;
  return Count;
}

platform::TVolumeSource* TRecoveryStream::VolumeSource() const { return Scanner ? Scanner->Handle.get() : nullptr; }

std::int64_t TRecoveryStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  if (!Item) return FPosition;
  switch (Origin) {
    case TSeekOrigin::Beginning: FPosition = Offset; break;
    case TSeekOrigin::Current: FPosition += Offset; break;
    case TSeekOrigin::End: FPosition = GetSize() - Offset; break;
  }
  return FPosition;
}

}  // namespace kestrine
