#pragma once
// Read-only stream over a found file's data; the engines supply the reading.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/volume/file_info.h"
#include "engine/volume/read_disk.h"
#include "engine/volume/recovery_reason.h"

namespace kestrine {

class TDiskObject;
class TDiskScaner;

enum class TSeekOrigin { Beginning, Current, End };

class TRecoveryStream {
 public:
  // Makes a private scanner for the disk and initialises it, so the stream has a handle of its own.
  TRecoveryStream(TDiskObject* Disk, PFileInfo Item);
  virtual ~TRecoveryStream();
  TRecoveryStream(const TRecoveryStream&) = delete;
  TRecoveryStream& operator=(const TRecoveryStream&) = delete;

  // The item's recorded size, 0 without an item.
  virtual std::int64_t GetSize() const;
  virtual void SetSize(std::int64_t /*NewSize*/) {}
  virtual std::uint32_t Read(void* Buffer, std::uint32_t Count) = 0;
  virtual std::uint32_t Write(const void* /*Buffer*/, std::uint32_t /*Count*/) { return 0; }
  // From the end, a positive Offset counts back from the end.
  virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin);

  // Where the next bytes from the position lie on the volume, at most MaxLength of them, when copying
  // them straight from there gives exactly what Read would deliver; Length 0 when they need Read.
  virtual TVolumeRange NextVolumeRange(std::int64_t /*MaxLength*/) { return {}; }
  // Count bytes of the range last offered were copied by the caller: the position moves past those
  // of them that Read would also have delivered, and that many are returned.
  virtual std::int64_t TakeVolumeBytes(std::int64_t Count);
  // The source the ranges lie on; nil when the volume could not be opened.
  platform::TVolumeSource* VolumeSource() const;

  // Why the stream delivers nothing of the item although the item was found; none otherwise.
  virtual std::optional<TReason> Failure() const { return {}; }
  // Why GetSize is less than the size the item records (the volume cannot hold that much); none
  // when it is not.
  virtual std::optional<TReason> SizeCut() const { return {}; }

  std::int64_t Position() const { return FPosition; }
  void SetPosition(std::int64_t Value) { Seek(Value, TSeekOrigin::Beginning); }

  TDiskObject* Disk;
  PFileInfo Item;
  std::unique_ptr<TDiskScaner> Scanner;

 protected:
  std::int64_t FPosition = 0;
};

}  // namespace kestrine
