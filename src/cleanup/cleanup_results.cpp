#include "cleanup/cleanup_results.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace kestrine {

std::size_t CountCheckedFiles(const std::vector<TCleanupRow>& Rows) {
  std::unordered_set<std::string> paths;
  for (const TCleanupRow& row : Rows)
    if (row.Checked) paths.insert(row.Match.Path());
  return paths.size();
}

namespace {

// Runs Action once per file; later rows of the same file take the first outcome.
class TActing {
 public:
  TActing(std::vector<TCleanupRow>& Rows, const TCleanupAction& Action, TCleanupStop Stop = {})
      : FRows(Rows), FAction(Action), FStop(std::move(Stop)) {}

  void Row(std::size_t Index) {
    TCleanupRow& row = FRows[Index];
    const std::string path = row.Match.Path();
    auto known = FOutcomes.find(path);
    if (known == FOutcomes.end()) {
      if (Report.Stopped || (FStop && FStop())) {
        Report.Stopped = true;
        return;
      }
      known = FOutcomes.emplace(path, FAction(row.Match)).first;
      Count(path, known->second);
    }
    if (known->second.Ok) {
      Report.Finished.push_back(Index);
      row.Problem.clear();
    } else {
      row.Problem = known->second.Error;
    }
  }

  TCleanupActionReport Report;

 private:
  void Count(const std::string& Path, const TCleanupOutcome& Outcome) {
    if (Outcome.Ok) {
      ++Report.Done;
    } else if (Outcome.Cancelled) {
      Report.Stopped = true;
      Report.Cancelled = TCleanupCancel{Path, Outcome.PassesDone, Outcome.Passes};
    } else {
      Report.Failures.push_back({Path, Outcome.Error});
    }
  }

  std::vector<TCleanupRow>& FRows;
  const TCleanupAction& FAction;
  TCleanupStop FStop;
  std::unordered_map<std::string, TCleanupOutcome> FOutcomes;
};

}  // namespace

TCleanupActionReport ActOnCheckedRows(std::vector<TCleanupRow>& Rows, const TCleanupAction& Action,
                                      const TCleanupStop& Stop) {
  TActing acting(Rows, Action, Stop);
  for (std::size_t i = Rows.size(); i-- > 0;)
    if (Rows[i].Checked) acting.Row(i);
  return std::move(acting.Report);
}

TCleanupActionReport WipeCheckedRows(std::vector<TCleanupRow>& Rows, int Passes, TWipeWatch& Watch) {
  TWipeProgress where;
  where.Files = CountCheckedFiles(Rows);
  where.Passes = ClampWipePasses(Passes);
  const TWipeWriteEvent onWrite = [&](int Pass, std::int64_t Written, std::int64_t Size, bool& Cancel) {
    where.Pass = Pass;
    where.Written = Written;
    where.Size = Size;
    Watch.Progress(where);
    Cancel = Watch.CancelRequested();
  };
  const TCleanupAction wipe = [&](const TCleanupMatch& Match) {
    ++where.File;
    where.Path = Match.Path();
    where.Pass = 1;
    where.Written = 0;
    where.Size = Match.Size;
    Watch.Progress(where);
    return WipeCleanupFile(Match, Passes, onWrite);
  };
  return ActOnCheckedRows(Rows, wipe, [&] { return Watch.CancelRequested(); });
}

TCleanupActionReport ActOnRow(std::vector<TCleanupRow>& Rows, std::size_t Row, const TCleanupAction& Action) {
  TActing acting(Rows, Action);
  if (Row < Rows.size()) acting.Row(Row);
  return std::move(acting.Report);
}

void EraseRows(std::vector<TCleanupRow>& Rows, const std::vector<std::size_t>& Descending) {
  if (Descending.empty()) return;
  std::vector<bool> drop(Rows.size());
  for (std::size_t i : Descending)
    if (i < Rows.size()) drop[i] = true;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < Rows.size(); ++i)
    if (!drop[i]) {
      if (kept != i) Rows[kept] = std::move(Rows[i]);
      ++kept;
    }
  Rows.resize(kept);
}

std::string FailureLines(const std::vector<TCleanupFailure>& Failures, std::size_t MaxLines) {
  std::string text;
  const std::size_t shown = std::min(Failures.size(), MaxLines);
  for (std::size_t i = 0; i < shown; ++i) text += Failures[i].Path + ": " + Failures[i].Reason + "\n";
  if (Failures.size() > shown) text += "... and " + std::to_string(Failures.size() - shown) + " more\n";
  return text;
}

std::optional<std::tm> CleanupLocalTime(TFileTime Modified) {
  const std::time_t t = static_cast<std::time_t>(FileTimeToUnix(Modified).Seconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return std::nullopt;
  local.tm_sec &= ~1;
  return local;
}

}  // namespace kestrine
