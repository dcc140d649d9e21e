#include "workflow/recovery_summary.h"

namespace kestrine {

TRecoverySummary SummarizeRecovery(const std::vector<TRecoveryRecord>& Records) {
  TRecoverySummary summary;
  for (const TRecoveryRecord& r : Records) {
    if (r.Outcome == TRecoveryOutcome::Written) {
      ++summary.Written;
      summary.Bytes += r.Size;
      if (!r.Reasons.empty()) summary.Notes.push_back(&r);
    } else {
      (r.Outcome == TRecoveryOutcome::Partial ? summary.Partial : summary.Skipped).push_back(&r);
    }
  }
  return summary;
}

}  // namespace kestrine
