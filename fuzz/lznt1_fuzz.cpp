// LZNT1 over arbitrary input: never writes past the destination, never claims more than it holds,
// and a piece whose chunks all decompress alone gives the same bytes as the whole decompression.

#include <cstdint>
#include <vector>

#include "engine/ntfs/lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 1) return 0;
  // The first byte sizes the destination: 1 to 16 chunks, or a few bytes short of a chunk.
  const std::size_t capacity = Data[0] & 0x80 ? 4096 - (Data[0] & 0x0F) : 4096 * ((Data[0] & 0x0F) + 1);
  std::vector<std::uint8_t> dest(capacity);
  const std::int64_t n = kestrine::DecompressLznt1(dest.data(), dest.size(), Data + 1, Size - 1);
  if (n < -1 || n > static_cast<std::int64_t>(capacity)) __builtin_trap();

  const std::vector<std::size_t> chunks = kestrine::FindLznt1Chunks(Data + 1, Size - 1, capacity);
  if (chunks.size() > (capacity + 4095) / 4096) __builtin_trap();
  std::vector<std::uint8_t> alone(capacity);
  bool clean = n > 0 && !chunks.empty();
  for (std::size_t i = chunks.size(); i-- > 0;) {
    const auto end = kestrine::DecompressLznt1Chunk(alone.data(), alone.size(), Data + 1, Size - 1, chunks, i);
    clean = clean && (end == kestrine::TLznt1ChunkEnd::Whole || (end == kestrine::TLznt1ChunkEnd::Early && i + 1 == chunks.size()));
  }
  if (clean) {
    std::fill(dest.begin() + n, dest.end(), 0);
    if (alone != dest) __builtin_trap();
  }
  return 0;
}
