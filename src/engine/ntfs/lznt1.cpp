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

// What one step at the chunk header Source[S] gives.
enum class TStep { Next, End, Malformed };

// The chunk header at Source[S]; a lone last byte stands for itself.
unsigned ChunkHeader(const std::uint8_t* Source, std::size_t SourceLength, std::size_t S) {
  return SourceLength - S >= 2 ? Source[S] | (Source[S + 1] << 8) : Source[S];
}

// Where the chunk of Header at Source[S] ends in Source; 0 when no chunk can be there.
std::size_t ChunkEnd(unsigned Header, std::size_t DestCapacity, std::size_t D, std::size_t SourceLength, std::size_t S) {
  if (DestCapacity - D < kLznt1ChunkSize || SourceLength - S < kMinChunkSource) return 0;
  const std::size_t compressedEnd = S + (Header & 0xFFF) + 3;
  if (compressedEnd > SourceLength) return 0;
  if (!(Header & 0x8000) && (Header & 0xFFF) != 0xFFF) return 0;
  return compressedEnd;
}

// Produces the chunk whose header is at Source[S] into Dest[D], moving both past it.
TStep ChunkStep(std::uint8_t* Dest, std::size_t DestCapacity, std::size_t& D, const std::uint8_t* Source,
                std::size_t SourceLength, std::size_t& S) {
  if (S == SourceLength || D == DestCapacity) return TStep::End;
  const unsigned header = ChunkHeader(Source, SourceLength, S);
  if (header == 0) return TStep::End;
  const std::size_t chunkStart = D;
  const std::size_t compressedEnd = ChunkEnd(header, DestCapacity, D, SourceLength, S);
  if (compressedEnd == 0) return TStep::Malformed;
  if (!(header & 0x8000)) {
    std::memcpy(Dest + D, Source + S + kChunkHeader, kLznt1ChunkSize);
    S += kChunkHeader + kLznt1ChunkSize;
    D += kLznt1ChunkSize;
    return TStep::Next;
  }
  S += kChunkHeader;
  switch (DecodeChunk(Dest, D, chunkStart, Source, S, compressedEnd, SourceLength)) {
    case TChunkEnd::Full:
    case TChunkEnd::SourceUsed: return TStep::Next;
    case TChunkEnd::Short: return TStep::End;
    case TChunkEnd::Malformed: return TStep::Malformed;
  }
  return TStep::Malformed;
}

}  // namespace

bool IsCompressedChunk(const std::uint8_t* Piece, std::size_t Length) { return Length >= 2 && (Piece[1] & 0x80); }

std::int64_t DecompressLznt1(std::uint8_t* Dest, std::size_t DestCapacity, const std::uint8_t* Source,
                             std::size_t SourceLength) {
  std::size_t d = 0, s = 0;
  for (;;) {
    switch (ChunkStep(Dest, DestCapacity, d, Source, SourceLength, s)) {
      case TStep::Next: break;
      case TStep::End: return static_cast<std::int64_t>(d);
      case TStep::Malformed: return -1;
    }
  }
}

std::vector<std::size_t> FindLznt1Chunks(const std::uint8_t* Source, std::size_t SourceLength, std::size_t DestCapacity) {
  // The same steps as DecompressLznt1 takes from chunk to chunk; a stored chunk's end is its header plus 4096.
  std::vector<std::size_t> chunks;
  for (std::size_t s = 0, d = 0; s != SourceLength && d != DestCapacity; d += kLznt1ChunkSize) {
    const unsigned header = ChunkHeader(Source, SourceLength, s);
    if (header == 0) break;
    const std::size_t end = ChunkEnd(header, DestCapacity, d, SourceLength, s);
    if (end == 0) return {};
    chunks.push_back(s);
    s = end;
  }
  return chunks;
}

TLznt1ChunkEnd DecompressLznt1Chunk(std::uint8_t* Dest, std::size_t DestCapacity, const std::uint8_t* Source,
                                    std::size_t SourceLength, const std::vector<std::size_t>& Chunks,
                                    std::size_t Index) {
  if (Index >= Chunks.size()) return TLznt1ChunkEnd::Whole;
  const std::size_t start = Chunks[Index];
  std::size_t d = Index * kLznt1ChunkSize, s = start;
  switch (ChunkStep(Dest, DestCapacity, d, Source, SourceLength, s)) {
    case TStep::Next: break;
    case TStep::End: return TLznt1ChunkEnd::Early;
    case TStep::Malformed: return TLznt1ChunkEnd::Malformed;
  }
  // The whole decompression reads the next header where the tokens ended: elsewhere than the
  // header says, the chunks found from the headers are not its chunks.
  const std::size_t said = ChunkEnd(ChunkHeader(Source, SourceLength, start), DestCapacity, Index * kLznt1ChunkSize,
                                    SourceLength, start);
  return s == said ? TLznt1ChunkEnd::Whole : TLznt1ChunkEnd::Malformed;
}

}  // namespace kestrine
