#include "engine/ntfs/efs_raw.h"

#include <algorithm>

#include "engine/volume/byte_order.h"

namespace kestrine {
namespace {

constexpr std::array<std::uint8_t, 66> kEfsTemplate1 = {
    0x00, 0x01, 0x00, 0x00,                          // 0x00 version 0x100
    'R', 0, 'O', 0, 'B', 0, 'S', 0,                  // 0x04
    0, 0, 0, 0, 0, 0, 0, 0,                          // 0x0C, 0x10
    0x1E, 0x00, 0x00, 0x00,                          // 0x14 length of the stream header
    'N', 0, 'T', 0, 'F', 0, 'S', 0,                  // 0x18
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,              // 0x20, 0x24, 0x28
    0x02, 0x00, 0x00, 0x00,                          // 0x2C length of the stream name
    0x10, 0x19,                                      // 0x30 stream name
    0x38, 0x02, 0x00, 0x00,                          // 0x32 metadata block length, set per file
    'G', 0, 'U', 0, 'R', 0, 'E', 0,                  // 0x36
    0, 0, 0, 0,                                      // 0x3E
};

constexpr std::array<std::uint8_t, 42> kEfsTemplate2 = {
    0x2A, 0x00, 0x00, 0x00,                          // length of this stream header
    'N', 0, 'T', 0, 'F', 0, 'S', 0,                  // +0x04
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,              // +0x0C, +0x10, +0x14
    0x0E, 0x00, 0x00, 0x00,                          // +0x18 length of the stream name
    ':', 0, ':', 0, '$', 0, 'D', 0, 'A', 0, 'T', 0, 'A', 0,  // +0x1C
};

constexpr std::size_t kMetadataLengthField = 0x32;
constexpr std::uint32_t kMetadataBlockHeader = 16;

void StoreLe32(std::span<std::uint8_t> B, std::size_t Offset, std::uint32_t V) {
  for (int i = 0; i < 4; ++i) B[Offset + i] = static_cast<std::uint8_t>(V >> (8 * i));
}

}  // namespace

std::span<const std::uint8_t> EfsTemplate1() { return kEfsTemplate1; }
std::span<const std::uint8_t> EfsTemplate2() { return kEfsTemplate2; }

std::vector<std::uint8_t> BuildEfsRawHeader(std::span<const std::uint8_t> Metadata) {
  std::uint32_t length = 0;
  if (!TryReadLe(Metadata, 0, length) || length == 0 || length > kEfsMaxMetadata || length > Metadata.size())
    return {};
  std::vector<std::uint8_t> header(kEfsTemplate1.begin(), kEfsTemplate1.end());
  StoreLe32(header, kMetadataLengthField, length + kMetadataBlockHeader);
  header.insert(header.end(), Metadata.begin(), Metadata.begin() + length);
  header.insert(header.end(), kEfsTemplate2.begin(), kEfsTemplate2.end());
  return header;
}

std::array<std::uint8_t, kEfsBlockHeaderSize> BuildEfsBlockHeader(std::uint32_t DataLength, std::uint32_t BlockNo) {
  std::array<std::uint8_t, kEfsBlockHeaderSize> header{};
  const std::uint32_t rounded = (DataLength + 511) / 512 * 512;
  StoreLe32(header, 0x00, rounded + kEfsBlockHeaderSize);
  constexpr std::uint8_t kGure[] = {'G', 0, 'U', 0, 'R', 0, 'E', 0};
  std::copy(std::begin(kGure), std::end(kGure), header.begin() + 0x04);
  // The block's byte offset in the file, a u64 at 0x10, is BlockNo * 65536: BlockNo at 0x12.
  StoreLe32(header, 0x12, BlockNo);
  StoreLe32(header, 0x18, 496);
  StoreLe32(header, 0x1C, DataLength);
  StoreLe32(header, 0x20, DataLength);
  constexpr std::uint8_t kTag[] = {0x00, 0x00, 0x10, 0x10, 0x09, 0x01, 0x01, 0x00};
  std::copy(std::begin(kTag), std::end(kTag), header.begin() + 0x24);
  StoreLe32(header, 0x2C, rounded);
  return header;
}

std::uint32_t EfsBlockDataLength(std::int64_t DataSize, std::int64_t BlockNo) {
  const std::int64_t rest = DataSize - BlockNo * kEfsBlockDataSize;
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(rest, 0, kEfsBlockDataSize));
}

std::uint32_t EfsBlockStoredLength(std::int64_t DataSize, std::int64_t BlockNo) {
  return (EfsBlockDataLength(DataSize, BlockNo) + 511) / 512 * 512;
}

std::int64_t EfsBlockCount(std::int64_t DataSize) { return std::max<std::int64_t>(DataSize, 0) / kEfsBlockDataSize + 1; }

std::int64_t EfsRawLength(std::int64_t HeaderLength, std::int64_t DataSize) {
  const std::int64_t blocks = EfsBlockCount(DataSize);
  return HeaderLength + (blocks - 1) * kEfsBlockStride + kEfsBlockHeaderSize +
         EfsBlockStoredLength(DataSize, blocks - 1);
}

bool ImportEfsRaw(TRecoveryStream& /*Stream*/, const std::string& /*Path*/) { return false; }

}  // namespace kestrine
