#include "engine/deep/walk_reader.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace kestrine {
namespace {

template <typename T>
std::optional<T> Field(TWalkReader& Reader, std::int64_t Offset, bool Little) {
  std::uint8_t bytes[sizeof(T)];
  if (!Reader.Read(Offset, bytes, sizeof(T))) return std::nullopt;
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) v |= std::uint64_t{bytes[Little ? i : sizeof(T) - 1 - i]} << (8 * i);
  return static_cast<T>(v);
}

}  // namespace

bool TWalkReader::Read(std::int64_t Offset, void* Buffer, std::size_t Count) {
  auto* out = static_cast<std::uint8_t*>(Buffer);
  while (Count > 0) {
    const auto piece = Peek(Offset, Count);
    if (piece.empty()) return false;
    std::memcpy(out, piece.data(), piece.size());
    out += piece.size();
    Offset += static_cast<std::int64_t>(piece.size());
    Count -= piece.size();
  }
  return true;
}

std::optional<std::uint8_t> TWalkReader::U8(std::int64_t Offset) { return Field<std::uint8_t>(*this, Offset, true); }
std::optional<std::uint16_t> TWalkReader::Le16(std::int64_t Offset) {
  return Field<std::uint16_t>(*this, Offset, true);
}
std::optional<std::uint32_t> TWalkReader::Le32(std::int64_t Offset) {
  return Field<std::uint32_t>(*this, Offset, true);
}
std::optional<std::uint64_t> TWalkReader::Le64(std::int64_t Offset) {
  return Field<std::uint64_t>(*this, Offset, true);
}
std::optional<std::uint16_t> TWalkReader::Be16(std::int64_t Offset) {
  return Field<std::uint16_t>(*this, Offset, false);
}
std::optional<std::uint32_t> TWalkReader::Be32(std::int64_t Offset) {
  return Field<std::uint32_t>(*this, Offset, false);
}
std::optional<std::uint64_t> TWalkReader::Be64(std::int64_t Offset) {
  return Field<std::uint64_t>(*this, Offset, false);
}

std::optional<std::int64_t> TWalkReader::Find(std::span<const std::uint8_t> Needle, std::int64_t From,
                                              std::int64_t Limit) {
  if (Needle.empty() || Needle.size() > kChunk / 2 || From < 0) return std::nullopt;
  Limit = std::min(Limit, Size());
  const auto overlap = static_cast<std::int64_t>(Needle.size() - 1);
  while (From + static_cast<std::int64_t>(Needle.size()) <= Limit) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(kChunk, Limit - From));
    const auto piece = Peek(From, want);
    if (piece.size() < Needle.size()) return std::nullopt;
    const auto hit =
        std::search(piece.begin(), piece.end(), std::boyer_moore_horspool_searcher(Needle.begin(), Needle.end()));
    if (hit != piece.end()) return From + (hit - piece.begin());
    From += static_cast<std::int64_t>(piece.size()) - overlap;
  }
  return std::nullopt;
}

std::span<const std::uint8_t> TSpanReader::Peek(std::int64_t Offset, std::size_t Count) {
  if (Offset < 0 || Offset >= Size()) return {};
  const auto at = static_cast<std::size_t>(Offset);
  return FBytes.subspan(at, std::min({Count, FBytes.size() - at, kChunk}));
}

TSourceReader::TSourceReader(platform::TVolumeSource& Source, std::int64_t Start, std::int64_t Limit)
    : FSource(Source), FStart(Start), FLimit(std::max<std::int64_t>(0, std::min(Limit, Source.Size() - Start))) {}

std::span<const std::uint8_t> TSourceReader::Peek(std::int64_t Offset, std::size_t Count) {
  if (Offset < 0 || Offset >= FLimit) return {};
  const bool held = FChunkAt >= 0 && Offset >= FChunkAt && Offset < FChunkAt + static_cast<std::int64_t>(FChunkLength);
  if (!held) {
    FChunk.resize(kChunk);
    FChunkAt = Offset;
    const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(kChunk, FLimit - Offset));
    FChunkLength = FSource.Read(FChunk.data(), want, FStart + Offset);
    if (FChunkLength == 0) FChunkAt = -1;
  }
  if (FChunkAt < 0) return {};
  const auto skip = static_cast<std::size_t>(Offset - FChunkAt);
  return std::span<const std::uint8_t>(FChunk).subspan(skip, std::min(Count, FChunkLength - skip));
}

}  // namespace kestrine
