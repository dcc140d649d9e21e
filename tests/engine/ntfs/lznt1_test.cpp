// LZNT1 as NTFS compression units hold it.

#include <gtest/gtest.h>

#include "engine/ntfs/lznt1.h"

namespace kestrine {
namespace {

std::vector<std::uint8_t> Out(std::size_t Capacity = 65536) { return std::vector<std::uint8_t>(Capacity, 0xCC); }

std::int64_t Decompress(std::vector<std::uint8_t>& Dest, const std::vector<std::uint8_t>& Source) {
  return DecompressLznt1(Dest.data(), Dest.size(), Source.data(), Source.size());
}

// One chunk of 4096 copies of a byte: a literal, then a match of 4095 bytes one back.
std::vector<std::uint8_t> RepeatChunk(std::uint8_t Byte) { return {0x03, 0xB0, 0x02, Byte, 0xFC, 0x0F}; }

TEST(Lznt1, LiteralsAndMatches) {
  // "abc", then 9 bytes from 3 back; the chunk ends early, which ends the data.
  const std::vector<std::uint8_t> source = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20, 0x00, 0x00};
  auto dest = Out();
  ASSERT_EQ(Decompress(dest, source), 12);
  EXPECT_EQ(std::string(dest.begin(), dest.begin() + 12), "abcabcabcabc");

  std::vector<std::uint8_t> two = RepeatChunk('x');
  const auto y = RepeatChunk('y');
  two.insert(two.end(), y.begin(), y.end());
  two.push_back(0);
  two.push_back(0);
  ASSERT_EQ(Decompress(dest, two), 8192);
  EXPECT_EQ(dest[0], 'x');
  EXPECT_EQ(dest[4095], 'x');
  EXPECT_EQ(dest[4096], 'y');
  EXPECT_EQ(dest[8191], 'y');
  EXPECT_EQ(dest[8192], 0xCC);  // nothing past what was produced
}

TEST(Lznt1, MatchSplitWidensWithThePositionInTheChunk) {
  // 17 literals, then a match at position 17: 5 displacement bits, 11 length bits (at 16 it is 4 and 12).
  std::vector<std::uint8_t> source = {0x00, 0xB0, 0x00};
  for (int i = 0; i < 8; ++i) source.push_back(static_cast<std::uint8_t>('A' + i));
  source.push_back(0x00);
  for (int i = 8; i < 16; ++i) source.push_back(static_cast<std::uint8_t>('A' + i));
  source.insert(source.end(), {0x02, 'Q'});
  const unsigned token = ((17 - 1) << 11) | (20 - 3);  // 20 bytes from 17 back
  source.push_back(token & 0xFF);
  source.push_back(token >> 8);
  const unsigned size = static_cast<unsigned>(source.size()) - 3;
  source[0] = static_cast<std::uint8_t>(size & 0xFF);
  source[1] = static_cast<std::uint8_t>(0xB0 | (size >> 8));
  source.insert(source.end(), {0, 0});
  auto dest = Out();
  ASSERT_EQ(Decompress(dest, source), 37);
  EXPECT_EQ(std::string(dest.begin(), dest.begin() + 37), "ABCDEFGHIJKLMNOPQABCDEFGHIJKLMNOPQABC");
}

TEST(Lznt1, StoredChunks) {
  std::vector<std::uint8_t> stored = {0xFF, 0x3F};
  for (int i = 0; i < 4096; ++i) stored.push_back(static_cast<std::uint8_t>(i * 7));
  auto dest = Out();
  ASSERT_EQ(Decompress(dest, stored), 4096);
  EXPECT_EQ(dest[4095], static_cast<std::uint8_t>(4095 * 7));
  // A stored chunk must hold exactly 4096 bytes.
  stored[0] = 0xFE;
  EXPECT_EQ(Decompress(dest, stored), -1);
}

TEST(Lznt1, SourceEndingInsideACompressedChunkLeavesZeros) {
  // 100 literals and the source ends where the chunk says it ends: the chunk is 4096 bytes.
  std::vector<std::uint8_t> source = {0x00, 0xB0};
  for (int i = 0; i < 100; ++i) {
    if (i % 8 == 0) source.push_back(0x00);
    source.push_back(static_cast<std::uint8_t>(1 + i));
  }
  const unsigned size = static_cast<unsigned>(source.size()) - 3;
  source[0] = static_cast<std::uint8_t>(size & 0xFF);
  source[1] = static_cast<std::uint8_t>(0xB0 | (size >> 8));
  auto dest = Out();
  ASSERT_EQ(Decompress(dest, source), 4096);
  EXPECT_EQ(dest[99], 100);
  EXPECT_EQ(dest[100], 0);
  EXPECT_EQ(dest[4095], 0);
}

TEST(Lznt1, MalformedInputIsRefused) {
  auto dest = Out();
  // A match before anything was produced, and one reaching before the chunk.
  EXPECT_EQ(Decompress(dest, {0x04, 0xB0, 0x01, 0x00, 0x00, 0x00, 0x00}), -1);
  EXPECT_EQ(Decompress(dest, {0x05, 0xB0, 0x02, 'a', 0x00, 0x10, 0x00, 0x00}), -1);
  // A match running past the chunk's 4096 bytes.
  EXPECT_EQ(Decompress(dest, {0x05, 0xB0, 0x02, 'a', 0xFF, 0x0F, 0x00, 0x00}), -1);
  // A chunk longer than the source, a source too short for a chunk, no room for a chunk.
  EXPECT_EQ(Decompress(dest, {0x40, 0xB0, 0x00, 'a', 'b', 'c'}), -1);
  EXPECT_EQ(Decompress(dest, {0x02, 0xB0, 0x00, 'a'}), -1);
  auto small = Out(4095);
  EXPECT_EQ(Decompress(small, RepeatChunk('x')), -1);
  // A zero header, or a lone zero byte, ends the data at once.
  EXPECT_EQ(Decompress(dest, {0x00, 0x00, 0x05, 0xB0}), 0);
  EXPECT_EQ(Decompress(dest, {0x00}), 0);
  // A full destination ends it too.
  auto one = Out(4096);
  auto twoChunks = RepeatChunk('x');
  const auto y = RepeatChunk('y');
  twoChunks.insert(twoChunks.end(), y.begin(), y.end());
  EXPECT_EQ(Decompress(one, twoChunks), 4096);
}

TEST(Lznt1, FirstChunkHeaderTellsACompressedPiece) {
  const std::vector<std::uint8_t> compressed = {0x03, 0xB0}, stored = {0xFF, 0x3F};
  EXPECT_TRUE(IsCompressedChunk(compressed.data(), 2));
  EXPECT_FALSE(IsCompressedChunk(stored.data(), 2));
  EXPECT_FALSE(IsCompressedChunk(compressed.data(), 1));
}

}  // namespace
}  // namespace kestrine

namespace kestrine {
namespace {

TEST(Lznt1, ChunksDecompressedAloneInAnyOrderGiveWhatTheWholeGives) {
  // A repeated chunk, a stored one, and one that ends early, which ends the data.
  std::vector<std::uint8_t> piece = RepeatChunk('x');
  piece.insert(piece.end(), {0xFF, 0x3F});
  for (int i = 0; i < 4096; ++i) piece.push_back(static_cast<std::uint8_t>(i * 7));
  piece.insert(piece.end(), {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20, 0x00, 0x00});
  std::vector<std::uint8_t> whole(16384, 0), alone(16384, 0);
  ASSERT_EQ(Decompress(whole, piece), 8192 + 12);
  const std::vector<std::size_t> chunks = FindLznt1Chunks(piece.data(), piece.size(), alone.size());
  ASSERT_EQ(chunks, (std::vector<std::size_t>{0, 6, 6 + 4098}));
  for (std::size_t i = 4; i-- > 0;) {
    const TLznt1ChunkEnd end = DecompressLznt1Chunk(alone.data(), alone.size(), piece.data(), piece.size(), chunks, i);
    EXPECT_EQ(end, i == 2 ? TLznt1ChunkEnd::Early : TLznt1ChunkEnd::Whole) << i;
  }
  EXPECT_EQ(alone, whole);

  // Damage inside a chunk shows when that chunk is decompressed; damaged headers leave no chunks.
  std::vector<std::uint8_t> damaged = RepeatChunk('x');
  damaged.insert(damaged.end(), {0x04, 0xB0, 0x01, 0x00, 0x00, 0x00, 0x00});
  const std::vector<std::size_t> found = FindLznt1Chunks(damaged.data(), damaged.size(), alone.size());
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(DecompressLznt1Chunk(alone.data(), alone.size(), damaged.data(), damaged.size(), found, 1),
            TLznt1ChunkEnd::Malformed);
  damaged[damaged.size() - 7] = 0x40;  // longer than the piece
  EXPECT_TRUE(FindLznt1Chunks(damaged.data(), damaged.size(), alone.size()).empty());
}

}  // namespace
}  // namespace kestrine
