#pragma once
// LZNT1, the compression of NTFS compression units (chunks of 4096 bytes).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrine {

inline constexpr std::size_t kLznt1ChunkSize = 4096;

// Bytes produced into Dest (capacity DestCapacity) from Source, or -1 for malformed input. A chunk that
// ends before producing 4096 bytes ends the decompression; a source used up inside a compressed chunk
// leaves the rest of that chunk zero.
std::int64_t DecompressLznt1(std::uint8_t* Dest, std::size_t DestCapacity, const std::uint8_t* Source,
                             std::size_t SourceLength);

// Where the header of each chunk of a compressed piece lies, from the headers alone, so that one
// chunk can be decompressed by itself (chunks never refer to one another); empty when the headers
// are malformed. Damage inside a chunk shows only when that chunk is decompressed.
std::vector<std::size_t> FindLznt1Chunks(const std::uint8_t* Source, std::size_t SourceLength, std::size_t DestCapacity);

enum class TLznt1ChunkEnd { Whole, Early, Malformed };
// Chunk Index of Chunks into Dest + Index * 4096, as DecompressLznt1 puts it there. Early: the chunk
// ended before its 4096 bytes, which ends DecompressLznt1's output there. Malformed: damaged, or its
// tokens end elsewhere than its header says (then DecompressLznt1 reads the next chunk elsewhere).
TLznt1ChunkEnd DecompressLznt1Chunk(std::uint8_t* Dest, std::size_t DestCapacity, const std::uint8_t* Source,
                                    std::size_t SourceLength, const std::vector<std::size_t>& Chunks,
                                    std::size_t Index);

// Bit 15 of the first chunk header: the piece starts with a compressed chunk.
bool IsCompressedChunk(const std::uint8_t* Piece, std::size_t Length);

}  // namespace kestrine
