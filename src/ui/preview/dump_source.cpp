#include "ui/preview/dump_source.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/volume/recovery_stream.h"
#include "support/ansi_chars.h"

namespace kestrine::ui {

std::int64_t TStreamByteSource::Size() const { return std::max<std::int64_t>(0, FStream.GetSize()); }

std::int64_t TStreamByteSource::ReadAt(std::int64_t Offset, void* Buffer, std::int64_t Count) {
  if (Offset < 0 || Count <= 0 || Offset >= Size()) return 0;
  Count = std::min(Count, Size() - Offset);
  if (FStream.Seek(Offset, TSeekOrigin::Beginning) != Offset) return 0;
  auto* out = static_cast<std::uint8_t*>(Buffer);
  std::int64_t total = 0;
  while (total < Count) {
    const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(Count - total, 1 << 30));
    const std::uint32_t got = FStream.Read(out + total, want);
    if (got == 0) break;
    total += std::min<std::int64_t>(got, want);
  }
  return total;
}

TBlockCache::TBlockCache(TByteSource& Source, int MaxBlocks)
    : FSource(Source), FSize(std::max<std::int64_t>(0, Source.Size())), FMaxBlocks(std::max(1, MaxBlocks)) {}

const TBlockCache::TBlock& TBlockCache::Load(std::int64_t Index) {
  ++FClock;
  if (FLast < FBlocks.size() && FBlocks[FLast].Index == Index) {
    FBlocks[FLast].LastUse = FClock;
    return FBlocks[FLast];
  }
  for (std::size_t i = 0; i < FBlocks.size(); ++i) {
    if (FBlocks[i].Index == Index) {
      FLast = i;
      FBlocks[i].LastUse = FClock;
      return FBlocks[i];
    }
  }
  std::size_t slot = FBlocks.size();
  if (static_cast<int>(FBlocks.size()) < FMaxBlocks) {
    FBlocks.emplace_back();
  } else {
    slot = 0;
    for (std::size_t i = 1; i < FBlocks.size(); ++i)
      if (FBlocks[i].LastUse < FBlocks[slot].LastUse) slot = i;
  }
  TBlock& block = FBlocks[slot];
  const std::int64_t start = Index * BlockSize;
  const std::int64_t length = std::clamp<std::int64_t>(FSize - start, 0, BlockSize);
  block.Index = Index;
  block.Data.assign(static_cast<std::size_t>(length), 0);
  block.Bad.clear();
  // What could not be read is remembered: painting must not retry a bad cluster on every frame.
  std::int64_t at = 0;
  while (at < length) {
    at += std::clamp<std::int64_t>(FSource.ReadAt(start + at, block.Data.data() + at, length - at), 0, length - at);
    if (at >= length) break;
    const std::int64_t next = std::min(length, (at / RetryStep + 1) * RetryStep);
    block.Bad.emplace_back(static_cast<std::size_t>(at), static_cast<std::size_t>(next));
    at = next;
  }
  block.LastUse = FClock;
  FLast = slot;
  return block;
}

std::size_t TBlockCache::ReadableEnd(const TBlock& Block, std::size_t Inside) {
  std::size_t end = Block.Data.size();
  for (const auto& [from, to] : Block.Bad) {
    if (Inside >= from && Inside < to) return Inside;
    if (from > Inside) end = std::min(end, from);
  }
  return end;
}

int TBlockCache::At(std::int64_t Offset) {
  if (Offset < 0 || Offset >= FSize) return -1;
  const TBlock& block = Load(Offset / BlockSize);
  const auto inside = static_cast<std::size_t>(Offset % BlockSize);
  if (inside >= block.Data.size()) return -1;
  if (!block.Bad.empty() && ReadableEnd(block, inside) == inside) return -1;
  return block.Data[inside];
}

std::int64_t TBlockCache::Read(std::int64_t Offset, std::uint8_t* Out, std::int64_t Count) {
  std::int64_t total = 0;
  while (total < Count && Offset + total < FSize && Offset + total >= 0) {
    const std::int64_t at = Offset + total;
    const TBlock& block = Load(at / BlockSize);
    const auto inside = static_cast<std::size_t>(at % BlockSize);
    const std::size_t end = ReadableEnd(block, inside);
    if (end <= inside) break;
    const auto n = std::min<std::int64_t>(Count - total, static_cast<std::int64_t>(end - inside));
    std::memcpy(Out + total, block.Data.data() + inside, static_cast<std::size_t>(n));
    total += n;
  }
  return total;
}

TByteSearch::TByteSearch(TByteSource& Source, std::vector<TPattern> Patterns, bool IgnoreCase, std::int64_t From)
    : FSource(Source), FIgnoreCase(IgnoreCase), FPos(std::max<std::int64_t>(0, From)) {
  for (TPattern& pattern : Patterns) {
    if (pattern.empty()) continue;
    if (IgnoreCase)
      for (auto& b : pattern) b = AnsiLowerByte(b);
    const auto length = static_cast<std::int64_t>(pattern.size());
    FMinLength = FPatterns.empty() ? length : std::min(FMinLength, length);
    FMaxLength = std::max(FMaxLength, length);
    FPatterns.push_back(std::move(pattern));
  }
  if (FPatterns.empty()) FState = TState::NotFound;
}

bool TByteSearch::Equal(std::uint8_t A, std::uint8_t B) const { return FIgnoreCase ? AnsiLowerByte(A) == B : A == B; }

bool TByteSearch::MatchesAt(const TPattern& Pattern, std::size_t At) const {
  if (At + Pattern.size() > FChunk.size()) return false;
  for (std::size_t k = 0; k < Pattern.size(); ++k)
    if (!Equal(FChunk[At + k], Pattern[k])) return false;
  return true;
}

TByteSearch::TState TByteSearch::Step(std::int64_t Budget) {
  const std::int64_t size = FSource.Size();
  while (FState == TState::Running && Budget > 0) {
    if (FPos + FMinLength > size) {
      FState = TState::NotFound;
      break;
    }
    // Each chunk overlaps the next by the longest pattern's length less one, so no match falls
    // between two chunks.
    const std::int64_t want = std::min(size - FPos, ChunkSize + FMaxLength - 1);
    FChunk.resize(static_cast<std::size_t>(want));
    const std::int64_t got = std::clamp<std::int64_t>(FSource.ReadAt(FPos, FChunk.data(), want), 0, want);
    FChunk.resize(static_cast<std::size_t>(got));
    // Where the bytes end (the source's end, or an unreadable byte) every pattern that fits is
    // tried; elsewhere only places where all of them fit, so the first match found is the first.
    const bool lastBytes = got < want || FPos + got >= size;
    const std::int64_t last = got - (lastBytes ? FMinLength : FMaxLength);
    for (std::int64_t i = 0; i <= last; ++i) {
      for (const TPattern& pattern : FPatterns) {
        if (!MatchesAt(pattern, static_cast<std::size_t>(i))) continue;
        FMatch = FPos + i;
        FMatchLength = static_cast<std::int64_t>(pattern.size());
        FState = TState::Found;
        return FState;
      }
    }
    std::int64_t advance = std::max<std::int64_t>(last + 1, 0);
    if (got < want) {
      // Unreadable bytes: go on behind them, from the next block, so a bad stretch costs a few reads.
      const std::int64_t bad = FPos + got;
      advance = (bad / TBlockCache::BlockSize + 1) * TBlockCache::BlockSize - FPos;
    }
    FPos += std::max<std::int64_t>(advance, 1);
    Budget -= std::max<std::int64_t>(want, 1);
  }
  return FState;
}

}  // namespace kestrine::ui
