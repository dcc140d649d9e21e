#pragma once
// The recovery stream of a found NTFS file: one of its data streams, or the raw form of an encrypted file.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/ntfs/ntfs_data_reader.h"
#include "engine/ntfs/ntfs_records.h"
#include "engine/volume/recovery_stream.h"

namespace kestrine {

class TMftReader;

class TRecoveryNtfsStream : public TRecoveryStream {
 public:
  // The main data.
  TRecoveryNtfsStream(TDiskObject* Disk, PFileInfo Item);
  // The $DATA stream of that name; the empty name selects the main data.
  TRecoveryNtfsStream(TDiskObject* Disk, const std::string& StreamName, PFileInfo Item);
  ~TRecoveryNtfsStream() override;

  // The stream's own length: the selected stream's data size, or the whole raw form of an encrypted
  // file. For the main data of a plain file it is the item's Size.
  std::int64_t GetSize() const override;
  // Never passes the stream's length; 0 at the end.
  std::uint32_t Read(void* Buffer, std::uint32_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  // Plain stored data only: the raw form of an encrypted file is put together by Read.
  TVolumeRange NextVolumeRange(std::int64_t MaxLength) override;

  // A $DATA stream of the name was found.
  bool Found() const { return FData != nullptr; }
  // The raw form of an encrypted file is delivered.
  bool RawEncrypted() const { return !FEfsHeader.empty(); }
  std::size_t EfsHeaderLength() const { return FEfsHeader.size(); }
  // Set when the item's record was taken by another file since the scan, or cannot be read.
  std::optional<TReason> Failure() const override { return FFailure; }
  std::optional<TReason> SizeCut() const override { return FData ? FData->SizeCut() : std::nullopt; }

 private:
  void OpenDataStream(const std::string& StreamName);
  // Bytes of the raw form at the current position, as far as one of its parts holds them.
  std::size_t ReadRaw(std::uint8_t* Buffer, std::size_t Count);

  TNtfsFileInfo* FNtfsInfo = nullptr;
  // The item's record as read now, when the item let its own go; what the stream reads from.
  std::unique_ptr<TNtfsFileInfo> FReread;
  const TNtfsFileInfo* FRecord = nullptr;
  std::optional<TReason> FFailure;
  TMftReader* FMftReader = nullptr;
  std::unique_ptr<TNtfsDataReader> FData;
  std::vector<std::uint8_t> FEfsHeader;
  std::int64_t FDataSize = 0;  // of the selected stream
  std::int64_t FSize = 0;
};

}  // namespace kestrine
