#pragma once
// The matches of a cleanup search as rows the user checks, and wiping or deleting them row by row.

#include <cstddef>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cleanup/disk_cleanup.h"
#include "cleanup/wipe_ports.h"

namespace kestrine {

struct TCleanupRow {
  TCleanupMatch Match;
  bool Checked = false;
  std::string Problem;  // why the last wipe or deletion of this row failed; empty when none did
};

struct TCleanupFailure {
  std::string Path;
  std::string Reason;
};

// The file whose wipe was cancelled: kept, partly overwritten, not deleted.
struct TCleanupCancel {
  std::string Path;
  int PassesDone = 0;
  int Passes = 0;
};

struct TCleanupActionReport {
  std::size_t Done = 0;               // files acted on successfully
  std::vector<std::size_t> Finished;  // rows to take out of the list, highest first
  std::vector<TCleanupFailure> Failures;
  bool Stopped = false;  // some checked files were never begun
  std::optional<TCleanupCancel> Cancelled;
};

using TCleanupAction = std::function<TCleanupOutcome(const TCleanupMatch& Match)>;
// Asked before each file is begun: true begins no more.
using TCleanupStop = std::function<bool()>;

// Distinct files among the checked rows: a file that two masks listed counts once.
std::size_t CountCheckedFiles(const std::vector<TCleanupRow>& Rows);

// Acts on the checked rows from the last to the first. A file listed twice is acted on once, and its
// other row shares the outcome. A failed or cancelled row stays, with its problem set. Once stopped
// (by Stop, or by a cancelled outcome) the rows of files not yet begun are left as they are.
TCleanupActionReport ActOnCheckedRows(std::vector<TCleanupRow>& Rows, const TCleanupAction& Action,
                                      const TCleanupStop& Stop = {});

// Wipes and deletes the checked rows as ActOnCheckedRows does, telling Watch how far it is; a cancel
// takes effect at the next write.
TCleanupActionReport WipeCheckedRows(std::vector<TCleanupRow>& Rows, int Passes, TWipeWatch& Watch);
// The same for the one row Row, whether checked or not.
TCleanupActionReport ActOnRow(std::vector<TCleanupRow>& Rows, std::size_t Row, const TCleanupAction& Action);

// Drops the rows given highest first, in one pass.
void EraseRows(std::vector<TCleanupRow>& Rows, const std::vector<std::size_t>& Descending);

// One "path: reason" line per failure, at most MaxLines of them, then how many more there are.
std::string FailureLines(const std::vector<TCleanupFailure>& Failures, std::size_t MaxLines);

// The last-write time as the results show it: local, to two seconds like a FAT time stamp.
std::optional<std::tm> CleanupLocalTime(TFileTime Modified);

}  // namespace kestrine
