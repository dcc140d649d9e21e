#pragma once
// Little-endian fields of on-disk structures. Callers check that Offset + width fits the buffer.

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrine {

inline std::uint16_t ReadLe16(std::span<const std::uint8_t> B, std::size_t Offset) {
  return static_cast<std::uint16_t>(B[Offset] | (B[Offset + 1] << 8));
}
inline std::uint32_t ReadLe32(std::span<const std::uint8_t> B, std::size_t Offset) {
  return static_cast<std::uint32_t>(B[Offset]) | (static_cast<std::uint32_t>(B[Offset + 1]) << 8) |
         (static_cast<std::uint32_t>(B[Offset + 2]) << 16) | (static_cast<std::uint32_t>(B[Offset + 3]) << 24);
}
inline std::uint64_t ReadLe64(std::span<const std::uint8_t> B, std::size_t Offset) {
  return static_cast<std::uint64_t>(ReadLe32(B, Offset)) | (static_cast<std::uint64_t>(ReadLe32(B, Offset + 4)) << 32);
}

// Bounds-checked forms: false when the field does not lie inside the buffer.
template <typename T>
bool TryReadLe(std::span<const std::uint8_t> B, std::size_t Offset, T& Out) {
  if (Offset > B.size() || B.size() - Offset < sizeof(T)) return false;
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) v |= static_cast<std::uint64_t>(B[Offset + i]) << (8 * i);
  Out = static_cast<T>(v);
  return true;
}

}  // namespace kestrine
