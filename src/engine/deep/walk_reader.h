#pragma once
// The bytes a format walk may look at: one candidate from its first byte on, never past a bound.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/volume_source.h"

namespace kestrine {

class TWalkReader {
 public:
  virtual ~TWalkReader() = default;
  // Bytes the candidate may take at most.
  virtual std::int64_t Size() const = 0;
  // Up to Count bytes from Offset, cut at Size; empty past it or where the source fails. Valid until
  // the next call.
  virtual std::span<const std::uint8_t> Peek(std::int64_t Offset, std::size_t Count) = 0;

  // Count bytes at Offset, all of them or none.
  bool Read(std::int64_t Offset, void* Buffer, std::size_t Count);
  std::optional<std::uint8_t> U8(std::int64_t Offset);
  std::optional<std::uint16_t> Le16(std::int64_t Offset);
  std::optional<std::uint32_t> Le32(std::int64_t Offset);
  std::optional<std::uint64_t> Le64(std::int64_t Offset);
  std::optional<std::uint16_t> Be16(std::int64_t Offset);
  std::optional<std::uint32_t> Be32(std::int64_t Offset);
  std::optional<std::uint64_t> Be64(std::int64_t Offset);
  // Where Needle next starts at or after From, before Limit (and Size); nil when nowhere.
  std::optional<std::int64_t> Find(std::span<const std::uint8_t> Needle, std::int64_t From, std::int64_t Limit);

  // The largest piece Peek hands out at once.
  static constexpr std::size_t kChunk = 64 * 1024;
};

// Bytes in memory: tests and fuzzing.
class TSpanReader final : public TWalkReader {
 public:
  explicit TSpanReader(std::span<const std::uint8_t> Bytes) : FBytes(Bytes) {}
  std::int64_t Size() const override { return static_cast<std::int64_t>(FBytes.size()); }
  std::span<const std::uint8_t> Peek(std::int64_t Offset, std::size_t Count) override;

 private:
  std::span<const std::uint8_t> FBytes;
};

// Bytes of a volume source from Start on, at most Limit of them, read through one chunk kept in memory.
class TSourceReader final : public TWalkReader {
 public:
  TSourceReader(platform::TVolumeSource& Source, std::int64_t Start, std::int64_t Limit);
  std::int64_t Size() const override { return FLimit; }
  std::span<const std::uint8_t> Peek(std::int64_t Offset, std::size_t Count) override;

 private:
  platform::TVolumeSource& FSource;
  std::int64_t FStart;
  std::int64_t FLimit;
  std::vector<std::uint8_t> FChunk;
  std::int64_t FChunkAt = -1;
  std::size_t FChunkLength = 0;
};

}  // namespace kestrine
