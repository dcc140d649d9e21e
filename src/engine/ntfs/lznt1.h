#pragma once
// LZNT1, the compression of NTFS compression units (chunks of 4096 bytes).

#include <cstddef>
#include <cstdint>

namespace kestrine {

inline constexpr std::size_t kLznt1ChunkSize = 4096;

// Bytes produced into Dest (capacity DestCapacity) from Source, or -1 for malformed input. A chunk that
// ends before producing 4096 bytes ends the decompression; a source used up inside a compressed chunk
// leaves the rest of that chunk zero.
std::int64_t DecompressLznt1(std::uint8_t* Dest, std::size_t DestCapacity, const std::uint8_t* Source,
                             std::size_t SourceLength);

// Bit 15 of the first chunk header: the piece starts with a compressed chunk.
bool IsCompressedChunk(const std::uint8_t* Piece, std::size_t Length);

}  // namespace kestrine
