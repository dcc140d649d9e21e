#pragma once
// What the dump viewer reads: bytes at offsets, through a small cache of blocks, so a file of any
// size costs only the blocks on screen.

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace kestrine {
class TRecoveryStream;
}

namespace kestrine::ui {

class TByteSource {
 public:
  virtual ~TByteSource() = default;
  virtual std::int64_t Size() const = 0;
  // Bytes delivered into Buffer from Offset on; fewer than Count where the source ends or a byte
  // cannot be read.
  virtual std::int64_t ReadAt(std::int64_t Offset, void* Buffer, std::int64_t Count) = 0;
};

// A recovery stream read at offsets. The stream stays the caller's; other readers may move its
// position between two calls, so every read seeks first.
class TStreamByteSource final : public TByteSource {
 public:
  explicit TStreamByteSource(TRecoveryStream& Stream) : FStream(Stream) {}
  std::int64_t Size() const override;
  std::int64_t ReadAt(std::int64_t Offset, void* Buffer, std::int64_t Count) override;

 private:
  TRecoveryStream& FStream;
};

class TBlockCache {
 public:
  static constexpr std::int64_t BlockSize = 64 * 1024;

  explicit TBlockCache(TByteSource& Source, int MaxBlocks = 32);
  std::int64_t Size() const { return FSize; }
  // The byte at Offset; -1 past the end or where the source could not deliver it.
  int At(std::int64_t Offset);
  // Bytes from Offset into Out up to the first one that cannot be read.
  std::int64_t Read(std::int64_t Offset, std::uint8_t* Out, std::int64_t Count);

 private:
  // A source that fails at some byte is tried again this far on, so one bad cluster does not
  // hide the readable rest of its block.
  static constexpr std::int64_t RetryStep = 4096;

  struct TBlock {
    std::int64_t Index = -1;
    std::vector<std::uint8_t> Data;
    std::vector<std::pair<std::size_t, std::size_t>> Bad;  // unreadable stretches, from and to
    std::uint64_t LastUse = 0;
  };
  // Where the readable run from Inside ends (Inside itself when that byte is unreadable).
  static std::size_t ReadableEnd(const TBlock& Block, std::size_t Inside);
  const TBlock& Load(std::int64_t Index);

  TByteSource& FSource;
  std::int64_t FSize;
  int FMaxBlocks;
  std::vector<TBlock> FBlocks;
  std::size_t FLast = 0;
  std::uint64_t FClock = 0;
};

// A forward search for byte patterns (the first place where any of them occurs), done a slice at a
// time so that the window stays live and the user can stop it. It reads the source directly in
// large chunks: a search through gigabytes must not evict what the viewer shows.
class TByteSearch {
 public:
  enum class TState { Running, Found, NotFound };
  using TPattern = std::vector<std::uint8_t>;

  // IgnoreCase folds letters by the ANSI table. Empty patterns are left out.
  TByteSearch(TByteSource& Source, std::vector<TPattern> Patterns, bool IgnoreCase, std::int64_t From);
  // Scans about Budget more bytes.
  TState Step(std::int64_t Budget);
  TState State() const { return FState; }
  std::int64_t Match() const { return FMatch; }
  std::int64_t MatchLength() const { return FMatchLength; }
  std::int64_t Position() const { return FPos; }

 private:
  static constexpr std::int64_t ChunkSize = 1024 * 1024;
  bool Equal(std::uint8_t A, std::uint8_t B) const;
  bool MatchesAt(const TPattern& Pattern, std::size_t At) const;

  TByteSource& FSource;
  std::vector<TPattern> FPatterns;
  bool FIgnoreCase;
  std::int64_t FPos;
  std::int64_t FMinLength = 0;
  std::int64_t FMaxLength = 0;
  std::int64_t FMatch = -1;
  std::int64_t FMatchLength = 0;
  TState FState = TState::Running;
  std::vector<std::uint8_t> FChunk;
};

}  // namespace kestrine::ui
