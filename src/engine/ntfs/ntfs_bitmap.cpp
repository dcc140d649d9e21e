#include "engine/ntfs/ntfs_bitmap.h"

#include <algorithm>
#include <array>
#include <bit>

#include "engine/ntfs/mft_reader.h"

namespace kestrine {
namespace {
constexpr std::size_t kChunk = 64 * 1024;
// Far beyond any volume; keeps the bit count inside 64 bits for a damaged size.
constexpr std::int64_t kMaxBitmapBytes = std::int64_t{1} << 56;
}

std::int64_t BitmapClusters(const TNtfsDataReader& Bitmap) {
  return std::min(Bitmap.Size(), kMaxBitmapBytes) * 8;
}

std::unique_ptr<TNtfsDataReader> OpenClusterBitmap(TMftReader& Reader) {
  if (Reader.GetMftRecOffset(kBitmapRecNo) <= 0) return nullptr;
  bool found = false;
  const auto info = Reader.ReadFileInfo(0, found, kBitmapRecNo);
  if (!info) return nullptr;
  TRunList runs;
  const auto attr = Reader.GetFileDataStreamsRunList(*info, "", runs);
  if (!attr) return nullptr;
  return std::make_unique<TNtfsDataReader>(Reader, *attr, std::move(runs));
}

std::int64_t CountFreeClusters(TNtfsDataReader& Bitmap, std::int64_t First, std::uint64_t Count) {
  const std::int64_t bits = BitmapClusters(Bitmap);
  if (First < 0 || First >= bits || Count == 0) return 0;
  const std::int64_t end = First + static_cast<std::int64_t>(std::min<std::uint64_t>(Count, bits - First));
  std::array<std::uint8_t, kChunk> chunk;
  std::int64_t free = 0;
  for (std::int64_t byte = First / 8; byte * 8 < end;) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(kChunk, (end + 7) / 8 - byte));
    const std::size_t got = Bitmap.Read(byte, chunk.data(), want, Bitmap.Size());
    std::fill(chunk.begin() + static_cast<std::ptrdiff_t>(got), chunk.begin() + static_cast<std::ptrdiff_t>(want), 0);
    for (std::size_t i = 0; i < want; ++i) {
      const std::int64_t base = (byte + static_cast<std::int64_t>(i)) * 8;
      unsigned inUse = chunk[i];
      // Bits of this byte outside [First, end) are not counted.
      const std::int64_t low = std::max<std::int64_t>(First - base, 0);
      const std::int64_t high = std::min<std::int64_t>(end - base, 8);
      const unsigned mask = ((1u << high) - 1) & ~((1u << low) - 1);
      free += std::popcount(~inUse & mask);
    }
    byte += static_cast<std::int64_t>(want);
  }
  return free;
}

std::optional<std::int64_t> ReadNtfsFreeBytes(platform::TVolumeSource& Source) {
  TMftReader reader(&Source);
  if (reader.RecordCount() == 0) return std::nullopt;
  const auto bitmap = OpenClusterBitmap(reader);
  if (!bitmap) return std::nullopt;
  return CountFreeClusters(*bitmap, 0, static_cast<std::uint64_t>(reader.ClusterCount())) * reader.ClusterSize();
}

}  // namespace kestrine
