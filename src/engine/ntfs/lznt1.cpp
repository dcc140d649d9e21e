#include "engine/ntfs/lznt1.h"

#include <cstring>

namespace kestrine {
namespace {
constexpr std::size_t kChunkHeader = 2;
constexpr std::size_t kMinChunkSource = 6;

// How a compressed chunk ended: after 4096 bytes, early (which ends the whole input), with the
// source used up, or on a malformed token.
enum class TChunkEnd { Full, Short, SourceUsed, Malformed };

// Decodes the tokens of one chunk from Source[S] (after its header); D and S move on.
TChunkEnd DecodeChunk(std::uint8_t* Dest, std::size_t& D, std::size_t ChunkStart, const std::uint8_t* Source,
                      std::size_t& S, std::size_t CompressedEnd, std::size_t SourceLength) {
  const std::size_t chunkEnd = ChunkStart + kLznt1ChunkSize;
  for (;;) {
    if (S == SourceLength) {
      std::memset(Dest + D, 0, chunkEnd - D);
      D = chunkEnd;
      return TChunkEnd::SourceUsed;
    }
    if (D == chunkEnd) return TChunkEnd::Full;
    if (S > CompressedEnd) return TChunkEnd::Short;
    const std::uint8_t flags = Source[S++];
    for (int bit = 0; bit < 8 && S < CompressedEnd && D < chunkEnd; ++bit) {
      if (!(flags & (1u << bit))) {
        Dest[D++] = Source[S++];
        continue;
      }
      if (D == ChunkStart || S + 2 > CompressedEnd) return TChunkEnd::Malformed;
      // The split between displacement and length moves with the position inside the chunk.
      std::size_t q = D - ChunkStart - 1;
      unsigned k = 0;
      while (q >= 16) {
        q >>= 1;
        ++k;
      }
      const unsigned token = Source[S] | (Source[S + 1] << 8);
      const std::size_t displacement = (token >> (12 - k)) + 1;
      const std::size_t length = (token & (0xFFFu >> k)) + 3;
      if (displacement > D - ChunkStart || D + length > chunkEnd) return TChunkEnd::Malformed;
      for (std::size_t i = 0; i < length; ++i, ++D) Dest[D] = Dest[D - displacement];
      S += 2;
    }
  }
}
}  // namespace

bool IsCompressedChunk(const std::uint8_t* Piece, std::size_t Length) { return Length >= 2 && (Piece[1] & 0x80); }

std::int64_t DecompressLznt1(std::uint8_t* Dest, std::size_t DestCapacity, const std::uint8_t* Source,
                             std::size_t SourceLength) {
  std::size_t d = 0, s = 0;
  for (;;) {
    if (s == SourceLength || d == DestCapacity) return static_cast<std::int64_t>(d);
    const unsigned header = SourceLength - s >= 2 ? Source[s] | (Source[s + 1] << 8) : Source[s];
    if (header == 0) return static_cast<std::int64_t>(d);
    const std::size_t chunkStart = d;
    if (DestCapacity - d < kLznt1ChunkSize || SourceLength - s < kMinChunkSource) return -1;
    const std::size_t compressedEnd = s + (header & 0xFFF) + 3;
    if (compressedEnd > SourceLength) return -1;
    if (!(header & 0x8000)) {
      if ((header & 0xFFF) != 0xFFF) return -1;
      std::memcpy(Dest + d, Source + s + kChunkHeader, kLznt1ChunkSize);
      s += kChunkHeader + kLznt1ChunkSize;
      d += kLznt1ChunkSize;
      continue;
    }
    s += kChunkHeader;
    switch (DecodeChunk(Dest, d, chunkStart, Source, s, compressedEnd, SourceLength)) {
      case TChunkEnd::Full:
      case TChunkEnd::SourceUsed: break;
      case TChunkEnd::Short: return static_cast<std::int64_t>(d);
      case TChunkEnd::Malformed: return -1;
    }
  }
}

}  // namespace kestrine
