#include "tests/engine/exfat/exfat_volume_builder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "engine/exfat/exfat_boot.h"
#include "tests/support/test_support.h"

namespace kestrine::test {
namespace {

constexpr std::uint32_t kSector = 512;
constexpr std::uint32_t kFatSector = 32;
constexpr std::size_t kEntry = kExFatEntrySize;

}  // namespace

std::vector<std::uint8_t> EntrySet(const TExFatFileSpec& Spec) {
  const std::size_t nameEntries = (Spec.Name.size() + 14) / 15;
  std::vector<std::uint8_t> b((2 + nameEntries) * kEntry);
  const std::uint8_t state = Spec.Deleted ? 0 : ExFatEntry::InUse;
  b[0] = (ExFatEntry::File & 0x7F) | state;
  b[1] = static_cast<std::uint8_t>(1 + nameEntries);
  PutLe16(b, 4, Spec.Attributes);
  PutLe32(b, 8, Spec.Modified.Stamp);
  PutLe32(b, 12, Spec.Modified.Stamp);
  b[20] = b[21] = Spec.Modified.TenMs;
  b[22] = b[23] = Spec.Modified.UtcOffset;
  b[kEntry] = (ExFatEntry::Stream & 0x7F) | state;
  b[kEntry + 1] = static_cast<std::uint8_t>(0x01 | (Spec.Data.NoFatChain ? 0x02 : 0));
  b[kEntry + 3] = static_cast<std::uint8_t>(Spec.Name.size());
  PutLe64(b, kEntry + 8, Spec.Data.ValidDataLength);
  PutLe32(b, kEntry + 20, Spec.Data.FirstCluster);
  PutLe64(b, kEntry + 24, Spec.Data.DataLength);
  for (std::size_t i = 0; i < nameEntries; ++i) {
    const std::size_t at = (2 + i) * kEntry;
    b[at] = (ExFatEntry::Name & 0x7F) | state;
    for (std::size_t u = 0; u < 15 && i * 15 + u < Spec.Name.size(); ++u)
      PutLe16(b, at + 2 + 2 * u, Spec.Name[i * 15 + u]);
  }
  PutLe16(b, 2, EntrySetChecksum(b));
  return b;
}

TExFatVolumeBuilder::TExFatVolumeBuilder(std::uint32_t Clusters, std::uint8_t ClusterShift)
    : FClusters(Clusters), FClusterSize(kSector << ClusterShift) {
  const std::uint32_t fatSectors = ((Clusters + 2) * 4 + kSector - 1) / kSector;
  const std::uint32_t clusterSectors = 1u << ClusterShift;
  const std::uint32_t heapSector = (kFatSector + fatSectors + clusterSectors - 1) / clusterSectors * clusterSectors;
  FHeap = std::int64_t{heapSector} * kSector;
  Grow(ClusterOffset(RootCluster + 1));
  std::copy_n("\xEB\x76\x90" "EXFAT   ", 11, FBytes.begin());
  PutLe64(FBytes, 72, heapSector + std::uint64_t{Clusters} * clusterSectors);
  PutLe32(FBytes, 80, kFatSector);
  PutLe32(FBytes, 84, fatSectors);
  PutLe32(FBytes, 88, heapSector);
  PutLe32(FBytes, 92, Clusters);
  PutLe32(FBytes, 96, RootCluster);
  PutLe16(FBytes, 104, 0x0100);
  FBytes[108] = 9;
  FBytes[109] = ClusterShift;
  FBytes[110] = 1;
  FBytes[112] = 0xFF;
  FBytes[510] = 0x55;
  FBytes[511] = 0xAA;
  SetFat(0, 0xFFFFFFF8);
  SetFat(1, 0xFFFFFFFF);
  for (std::uint32_t c = 2; c <= RootCluster; ++c) {
    SetFat(c, 0xFFFFFFFF);
    SetInUse(c, true);
  }
  std::vector<std::uint8_t> bitmap(kEntry), upcase(kEntry);
  bitmap[0] = ExFatEntry::Bitmap;
  PutLe32(bitmap, 20, 2);
  PutLe64(bitmap, 24, (Clusters + 7) / 8);
  upcase[0] = ExFatEntry::UpCase;
  PutLe32(upcase, 20, 3);
  PutLe64(upcase, 24, 2);
  bitmap.insert(bitmap.end(), upcase.begin(), upcase.end());
  PutEntries(RootCluster, 0, bitmap);
  if ((Clusters + 7) / 8 > FClusterSize) throw std::invalid_argument("the bitmap takes one cluster here");
  Seal();
}

std::int64_t TExFatVolumeBuilder::ClusterOffset(std::uint32_t Cluster) const {
  return FHeap + std::int64_t{Cluster - 2} * FClusterSize;
}

void TExFatVolumeBuilder::Grow(std::int64_t End) {
  if (End > static_cast<std::int64_t>(FBytes.size())) FBytes.resize(static_cast<std::size_t>(End));
}

void TExFatVolumeBuilder::SetFat(std::uint32_t Cluster, std::uint32_t Value) {
  PutLe32(FBytes, kFatSector * kSector + std::size_t{Cluster} * 4, Value);
}

void TExFatVolumeBuilder::Chain(const std::vector<std::uint32_t>& Clusters) {
  for (std::size_t i = 0; i < Clusters.size(); ++i)
    SetFat(Clusters[i], i + 1 < Clusters.size() ? Clusters[i + 1] : 0xFFFFFFFF);
}

void TExFatVolumeBuilder::SetInUse(std::uint32_t Cluster, bool InUse) {
  const auto at = static_cast<std::size_t>(ClusterOffset(2)) + (Cluster - 2) / 8;
  const auto bit = static_cast<std::uint8_t>(1u << ((Cluster - 2) % 8));
  FBytes[at] = InUse ? FBytes[at] | bit : FBytes[at] & ~bit;
}

void TExFatVolumeBuilder::PutEntries(std::uint32_t Cluster, std::size_t Index, const std::vector<std::uint8_t>& Entries) {
  PutBytes(ClusterOffset(Cluster) + static_cast<std::int64_t>(Index * kEntry), Entries);
}

void TExFatVolumeBuilder::PutBytes(std::int64_t Offset, const std::vector<std::uint8_t>& Bytes) {
  // Far pieces stay out of memory; the image file is sparse between them.
  if (Offset > (std::int64_t{64} << 20)) {
    FFar.emplace_back(Offset, Bytes);
    return;
  }
  Grow(Offset + static_cast<std::int64_t>(Bytes.size()));
  std::copy(Bytes.begin(), Bytes.end(), FBytes.begin() + Offset);
}

void TExFatVolumeBuilder::Seal() {
  const std::uint32_t sum = ExFatBootChecksum(std::span(FBytes).first(11 * kSector));
  for (std::uint32_t at = 11 * kSector; at < 12 * kSector; at += 4) PutLe32(FBytes, at, sum);
}

void TExFatVolumeBuilder::WriteTo(const std::filesystem::path& Image) const {
  WriteFile(Image, FBytes);
  const int fd = ::open(Image.c_str(), O_WRONLY);
  if (fd < 0) throw std::runtime_error("cannot reopen " + Image.string());
  for (const auto& [offset, bytes] : FFar)
    if (::pwrite(fd, bytes.data(), bytes.size(), offset) != static_cast<ssize_t>(bytes.size())) break;
  const std::int64_t end = ClusterOffset(FClusters + 2);
  const int truncated = ::ftruncate(fd, end);
  ::close(fd);
  if (truncated != 0) throw std::runtime_error("cannot size " + Image.string());
}

}  // namespace kestrine::test
