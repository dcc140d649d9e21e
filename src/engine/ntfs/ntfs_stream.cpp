#include "engine/ntfs/ntfs_stream.h"

#include <algorithm>
#include <cstring>

#include "engine/ntfs/efs_raw.h"
#include "engine/ntfs/mft_reader.h"
#include "engine/ntfs/ntfs_scanner.h"

namespace kestrine {

TRecoveryNtfsStream::TRecoveryNtfsStream(TDiskObject* Disk, PFileInfo Item) : TRecoveryNtfsStream(Disk, {}, Item) {}

TRecoveryNtfsStream::TRecoveryNtfsStream(TDiskObject* Disk, const std::string& StreamName, PFileInfo Item)
    : TRecoveryStream(Disk, Item) {
  FNtfsInfo = Item ? Item->Info<TNtfsFileInfo>() : nullptr;
  auto* scanner = dynamic_cast<TNtfsScaner*>(Scanner.get());
  if (scanner) FMftReader = scanner->MftReader();
  try {
    if (FNtfsInfo && FMftReader) {
      FRecord = FNtfsInfo;
      if (!FNtfsInfo->Record) {
        // Never another file's bytes: a record that changed since the scan gives no stream.
        FReread = FMftReader->RereadFileInfo(*FNtfsInfo, FFailure);
        FRecord = FReread.get();
      }
      if (FRecord) OpenDataStream(StreamName);
    }
  } catch (...) {
    // Memory ran out: the stream stays empty.
    FData.reset();
    FEfsHeader.clear();
    FSize = 0;
  }
}

TRecoveryNtfsStream::~TRecoveryNtfsStream() = default;

void TRecoveryNtfsStream::OpenDataStream(const std::string& StreamName) {
  FPosition = 0;
  // The raw form wraps the main data; a named stream of an encrypted file is delivered as stored.
  if (FNtfsInfo->Encrypted && StreamName.empty()) {
    auto* scanner = static_cast<TNtfsScaner*>(Scanner.get());
    FEfsHeader = scanner->CreateEfsRecoveryData(*FRecord);
    // Without a header the file counts as plain from now on: its stored ciphertext is delivered.
    if (FEfsHeader.empty()) FNtfsInfo->Encrypted = false;
  }
  TRunList runs;
  const auto attr = FMftReader->GetFileDataStreamsRunList(*FRecord, StreamName, runs);
  if (!attr) {
    FEfsHeader.clear();
    if (!StreamName.empty()) FFailure = TReason{TReasonId::NoStreamNamed, {StreamName}};
    return;
  }
  FData = std::make_unique<TNtfsDataReader>(*FMftReader, *attr, std::move(runs));
  FDataSize = FData->Size();
  FSize = FEfsHeader.empty() ? FDataSize : EfsRawLength(static_cast<std::int64_t>(FEfsHeader.size()), FDataSize);
}

std::int64_t TRecoveryNtfsStream::GetSize() const { return FSize; }

std::int64_t TRecoveryNtfsStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  switch (Origin) {
    case TSeekOrigin::Beginning: FPosition = Offset; break;
    case TSeekOrigin::Current: FPosition += Offset; break;
    case TSeekOrigin::End: FPosition = FSize - Offset; break;
  }
  return FPosition;
}

TVolumeRange TRecoveryNtfsStream::NextVolumeRange(std::int64_t MaxLength) {
  if (!FData || !FEfsHeader.empty() || FPosition < 0 || FPosition >= FSize) return {};
  return FData->VolumeRange(FPosition, std::min(MaxLength, FSize - FPosition));
}

std::uint32_t TRecoveryNtfsStream::Read(void* Buffer, std::uint32_t Count) {
  if (!FData || !Buffer || FPosition < 0) return 0;
  auto* out = static_cast<std::uint8_t*>(Buffer);
  std::size_t total = 0;
  try {
    while (total < Count && FPosition < FSize) {
      const std::size_t n = FEfsHeader.empty()
                                ? FData->Read(FPosition, out + total, Count - total, FDataSize)
                                : ReadRaw(out + total, Count - total);
      if (n == 0) break;
      total += n;
      FPosition += static_cast<std::int64_t>(n);
    }
  } catch (...) {
    // What was delivered stands.
  }
  return static_cast<std::uint32_t>(total);
}

std::size_t TRecoveryNtfsStream::ReadRaw(std::uint8_t* Buffer, std::size_t Count) {
  const auto headerLength = static_cast<std::int64_t>(FEfsHeader.size());
  if (FPosition < headerLength) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(Count, headerLength - FPosition));
    std::memcpy(Buffer, FEfsHeader.data() + FPosition, n);
    return n;
  }
  const std::int64_t rel = FPosition - headerLength;
  const std::int64_t block = rel / kEfsBlockStride;
  const std::int64_t inBlock = rel % kEfsBlockStride;
  if (block >= EfsBlockCount(FDataSize)) return 0;
  if (inBlock < kEfsBlockHeaderSize) {
    const auto header =
        BuildEfsBlockHeader(EfsBlockDataLength(FDataSize, block), static_cast<std::uint32_t>(block));
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(Count, kEfsBlockHeaderSize - inBlock));
    std::memcpy(Buffer, header.data() + inBlock, n);
    return n;
  }
  // The stored data, up to the block's length rounded to 512: ciphertext is kept in whole 512-byte units.
  const std::int64_t blockStart = block * kEfsBlockDataSize;
  const std::int64_t dataPosition = blockStart + inBlock - kEfsBlockHeaderSize;
  return FData->Read(dataPosition, Buffer, Count, blockStart + EfsBlockStoredLength(FDataSize, block));
}

}  // namespace kestrine
