#pragma once
// exFAT volumes written byte by byte for the engine's tests: boot region, table, bitmap, root, and
// entry sets placed where a test wants them.

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/exfat/exfat_entries.h"

namespace kestrine::test {

struct TExFatFileSpec {
  std::u16string_view Name;
  std::uint16_t Attributes = 0x20;
  TExFatData Data;
  bool Deleted = false;
  TExFatTime Modified{};
};

// One entry set: File, Stream Extension and File Name entries, with its set checksum.
std::vector<std::uint8_t> EntrySet(const TExFatFileSpec& Spec);

class TExFatVolumeBuilder {
 public:
  // Clusters of 1 << ClusterShift sectors of 512 bytes. Cluster 2 holds the bitmap, 3 the up-case
  // table, 4 the root; from 5 on the clusters are the test's.
  TExFatVolumeBuilder(std::uint32_t Clusters, std::uint8_t ClusterShift);

  std::uint32_t ClusterSize() const { return FClusterSize; }
  std::int64_t ClusterOffset(std::uint32_t Cluster) const;
  static constexpr std::uint32_t RootCluster = 4;

  void SetFat(std::uint32_t Cluster, std::uint32_t Value);
  // Links the clusters in order and ends the chain.
  void Chain(const std::vector<std::uint32_t>& Clusters);
  void SetInUse(std::uint32_t Cluster, bool InUse);
  // Entries written at directory entry Index of the folder starting at Cluster (one cluster).
  void PutEntries(std::uint32_t Cluster, std::size_t Index, const std::vector<std::uint8_t>& Entries);
  void PutBytes(std::int64_t Offset, const std::vector<std::uint8_t>& Bytes);
  // Seals the boot region with its checksum (after any change to it).
  void Seal();
  std::vector<std::uint8_t>& Bytes() { return FBytes; }

  // Written sparse: the volume's whole length, its bytes stored only where something was put.
  void WriteTo(const std::filesystem::path& Image) const;

 private:
  void Grow(std::int64_t End);

  std::uint32_t FClusters;
  std::uint32_t FClusterSize;
  std::int64_t FHeap;
  std::vector<std::uint8_t> FBytes;  // the head of the volume
  std::vector<std::pair<std::int64_t, std::vector<std::uint8_t>>> FFar;  // pieces far out
};

}  // namespace kestrine::test
