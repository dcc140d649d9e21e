#pragma once
// Date-times of the result filter: days since 1899-12-30 as a double, the fraction being the
// time of day, in local time. The value is continuous, also before 1899.

#include <cstdint>
#include <optional>

#include "support/file_time.h"

namespace kestrine {

using TDateTime = double;

struct TCivilDate {
  int Year = 1899;
  int Month = 12;  // 1..12
  int Day = 30;    // 1..31
  bool operator==(const TCivilDate&) const = default;
};

// A real calendar day of the years -32767..32767.
bool IsValidDate(const TCivilDate& Date);
// Midnight of Date; Date must be valid.
TDateTime EncodeDate(const TCivilDate& Date);
TDateTime EncodeDateTime(const TCivilDate& Date, int Hour, int Minute, int Second, int Millisecond);

// Date (valid) moved back by Months (>= 0) calendar months, its day clamped to the length of the target month.
// Nothing goes back beyond 0001-01-01 (no volume holds a time before 1601).
TCivilDate MonthsBefore(const TCivilDate& Date, std::int64_t Months);

// Today's date in local time.
TCivilDate LocalToday();

// A FILETIME as a local date-time, cut to whole milliseconds; nullopt when it cannot be converted.
std::optional<TDateTime> FileTimeToLocalDateTime(TFileTime Value);

// From <= Value <= To, where values less than one millisecond apart count as equal.
bool DateTimeInRange(TDateTime Value, TDateTime From, TDateTime To);

}  // namespace kestrine
