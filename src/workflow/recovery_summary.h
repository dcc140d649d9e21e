#pragma once
// What a recovery did, sorted for the report the user reads at its end.

#include <cstdint>
#include <vector>

#include "engine/volume/workflow_ports.h"

namespace kestrine {

struct TRecoverySummary {
  std::int64_t Written = 0;  // files written whole, notes or not
  std::int64_t Bytes = 0;    // bytes of those files
  std::vector<const TRecoveryRecord*> Partial;
  std::vector<const TRecoveryRecord*> Skipped;
  std::vector<const TRecoveryRecord*> Notes;  // written whole, with something to say
};

// Points into Records, which must outlive the summary.
TRecoverySummary SummarizeRecovery(const std::vector<TRecoveryRecord>& Records);

}  // namespace kestrine
