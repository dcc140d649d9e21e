#include "engine/fat/fat_table.h"

#include "engine/volume/boot_sector.h"
#include "engine/volume/byte_order.h"

namespace kestrine {
namespace {

constexpr TFatEntryCodec kFat12{TFileSystemKind::Fat12, 0xFFF, 0xFF7, 0xFF8, 12};
constexpr TFatEntryCodec kFat16{TFileSystemKind::Fat16, 0xFFFF, 0xFFF7, 0xFFF8, 16};
constexpr TFatEntryCodec kFat32{TFileSystemKind::Fat32, 0x0FFFFFFF, 0x0FFFFFF7, 0x0FFFFFF8, 32};

}  // namespace

std::uint64_t TFatEntryCodec::ByteOffset(std::uint32_t Cluster) const {
  const std::uint64_t c = Cluster;
  return EntryBits == 12 ? c + c / 2 : c * (EntryBits / 8);
}

std::uint64_t TFatEntryCodec::EntriesIn(std::uint64_t TableBytes) const {
  return TableBytes * 8 / EntryBits;
}

std::uint32_t TFatEntryCodec::Decode(std::uint32_t Cluster, std::span<const std::uint8_t> Bytes) const {
  switch (EntryBits) {
    case 12: {
      const std::uint16_t pair = ReadLe16(Bytes, 0);
      return (Cluster & 1) ? pair >> 4 : pair & 0x0FFF;
    }
    case 16: return ReadLe16(Bytes, 0);
    default: return ReadLe32(Bytes, 0) & 0x0FFFFFFF;
  }
}

const TFatEntryCodec& FatEntryCodec(TFileSystemKind Kind) {
  switch (Kind) {
    case TFileSystemKind::Fat12: return kFat12;
    case TFileSystemKind::Fat16: return kFat16;
    default: return kFat32;
  }
}

}  // namespace kestrine
