#pragma once
// Mapping pairs: the run list of a non-resident attribute.

#include <cstdint>
#include <span>

#include "engine/ntfs/ntfs_records.h"

namespace kestrine {

// Longest run and highest cluster number taken from a run list; larger values are damage.
inline constexpr std::uint64_t kMaxRunClusters = std::uint64_t{1} << 48;

// Appends the runs of Pairs, the first starting at StartVcn. Decoding ends at a zero byte, a header
// whose length field is empty, a field longer than 8 bytes or running past Pairs, or a run whose
// length or cluster number leaves what a volume can hold; the runs before it stay.
void DecodeMappingPairs(std::span<const std::uint8_t> Pairs, std::int64_t StartVcn, TRunList& Runs);

}  // namespace kestrine
