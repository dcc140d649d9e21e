#pragma once
// The search-filter dialog's rules without the dialog: its control states become a TFilter, so
// that the window and the command line build the same filter.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "support/date_time.h"
#include "filter/filter_record.h"

namespace kestrine {

// A wildcard mask in the pattern language: "*" and "?" become ".*" and ".?", "." becomes "[.]",
// a blank becomes "\s" unless only blanks lie between it and a ";" before it.
std::string ConvertMask(std::string_view Mask);

// The name mask the dialog makes of its edit text (trimmed, "*.*" when empty, wrapped in "*"
// without wildcards, converted around the last ".").
std::string BuildNameMask(std::string_view Text);

enum class TDateChoice { AllDates, Between, PreviousMonths, PreviousDays };
enum class TSizeCompare { Equal, Greater, Smaller };

inline constexpr std::int64_t kMaxFilterMonths = 2'000'000;
inline constexpr std::int64_t kMaxFilterDays = 20'000'000;

struct TFilterDialogState {
  bool UseFilter = false;  // "Use Filter" rather than "Show All Files"
  std::string NameMask = "*.*";

  TDateChoice Dates = TDateChoice::AllDates;
  TCivilDate DateBegin;
  TCivilDate DateEnd;
  std::int64_t Months = 0;  // 0..kMaxFilterMonths
  std::int64_t Days = 0;    // 0..kMaxFilterDays

  bool SizeOn = false;
  std::int64_t SizeKb = 0;  // not negative
  TSizeCompare SizeCompare = TSizeCompare::Equal;

  bool SelectedAttributes = false;
  bool Archive = false;
  bool ReadOnly = false;
  bool System = false;
  bool Hidden = false;
};

// The filter of the OK button, or one line saying which value cannot be used. "Previous" ranges
// end at 00:00 of Today. The folder restriction is the caller's to add.
std::variant<TFilter, std::string> BuildFilter(const TFilterDialogState& State, const TCivilDate& Today);

}  // namespace kestrine
