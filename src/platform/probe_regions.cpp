#include "platform/probe_regions.h"

#include <algorithm>
#include <cstring>

namespace kestrine::platform {
namespace {

constexpr std::int64_t kMaxRegion = 1 << 20;
// Beyond these a boot sector describes no volume there is; nothing is read for it.
constexpr int kMaxShift = 20;
constexpr std::int64_t kMaxCluster = std::int64_t{1} << 26;
constexpr std::uint64_t kMaxMftCluster = std::uint64_t{1} << 36;

std::uint16_t Le16(const std::uint8_t* P) { return static_cast<std::uint16_t>(P[0] | (P[1] << 8)); }
std::uint32_t Le32(const std::uint8_t* P) { return Le16(P) | (static_cast<std::uint32_t>(Le16(P + 2)) << 16); }
std::uint64_t Le64(const std::uint8_t* P) { return Le32(P) | (static_cast<std::uint64_t>(Le32(P + 4)) << 32); }

std::vector<TProbeRegion> NtfsRegions(const std::uint8_t* B) {
  // Sectors per cluster above 0x80 are a power of two written as its negative exponent.
  const int shift = B[13] > 0x80 ? 256 - B[13] : 0;
  if (shift > kMaxShift) return {};
  const std::int64_t cluster = std::int64_t{Le16(B + 11)} * (shift ? std::int64_t{1} << shift : B[13]);
  const auto perRecord = static_cast<std::int8_t>(B[64]);
  if (cluster <= 0 || cluster > kMaxCluster || -perRecord > kMaxShift) return {};
  const std::int64_t record = perRecord < 0 ? std::int64_t{1} << -perRecord : perRecord * cluster;
  const std::uint64_t mft = Le64(B + 48);
  if (mft >= kMaxMftCluster) return {};
  return {{static_cast<std::int64_t>(mft) * cluster, std::clamp<std::int64_t>(4 * record, 0, kMaxRegion)}};
}

std::vector<TProbeRegion> ExfatRegions(const std::uint8_t* B) {
  if (B[108] > 12 || B[109] > 25 - B[108]) return {};
  const std::int64_t sector = std::int64_t{1} << B[108], cluster = sector << B[109];
  const std::int64_t root = Le32(B + 96);
  return {{Le32(B + 80) * sector + root * 4, 4},
          {Le32(B + 88) * sector + (root - 2) * cluster, std::min(cluster, kMaxRegion)}};
}

std::vector<TProbeRegion> FatRegions(const std::uint8_t* B) {
  const std::int64_t bytesPerSector = Le16(B + 11), reserved = Le16(B + 14), fats = B[16];
  const std::int64_t fat16 = Le16(B + 22);
  // FAT12 and FAT16 keep a fixed root folder after the tables.
  if (fat16 != 0)
    return {{(reserved + fats * fat16) * bytesPerSector, std::min(Le16(B + 17) * std::int64_t{32}, kMaxRegion)}};
  const std::int64_t root = Le32(B + 44), cluster = bytesPerSector * B[13];
  return {{reserved * bytesPerSector + root * 4, 4},
          {(reserved + fats * std::int64_t{Le32(B + 36)}) * bytesPerSector + (root - 2) * cluster,
           std::min(cluster, kMaxRegion)}};
}

}  // namespace

std::vector<TProbeRegion> ProbedRegions(std::span<const std::uint8_t, 512> BootSector) {
  const std::uint8_t* b = BootSector.data();
  if (std::memcmp(b + 3, "NTFS    ", 8) == 0) return NtfsRegions(b);
  if (std::memcmp(b + 3, "EXFAT   ", 8) == 0) return ExfatRegions(b);
  return FatRegions(b);
}

}  // namespace kestrine::platform
