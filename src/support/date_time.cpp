#include "support/date_time.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace kestrine {
namespace {

namespace chr = std::chrono;

constexpr double kMillisecondsPerDay = 86'400'000.0;
constexpr double kOneMillisecond = 1.0 / kMillisecondsPerDay;

chr::year_month_day ToYmd(const TCivilDate& Date) {
  return chr::year{Date.Year} / chr::month{static_cast<unsigned>(Date.Month)} / chr::day{static_cast<unsigned>(Date.Day)};
}

// Days from 1970-01-01 to 1899-12-30.
const std::int64_t kEpochDays = chr::sys_days{chr::year{1899} / chr::December / 30}.time_since_epoch().count();

bool EarlierByOneMs(TDateTime A, TDateTime B) { return B - A >= kOneMillisecond; }

}  // namespace

bool IsValidDate(const TCivilDate& Date) {
  return Date.Year >= -32767 && Date.Year <= 32767 && Date.Month >= 1 && Date.Month <= 12 && Date.Day >= 1 && Date.Day <= 31 && ToYmd(Date).ok();
}

TDateTime EncodeDate(const TCivilDate& Date) {
  return static_cast<double>(chr::sys_days{ToYmd(Date)}.time_since_epoch().count() - kEpochDays);
}

TDateTime EncodeDateTime(const TCivilDate& Date, int Hour, int Minute, int Second, int Millisecond) {
  const double ms = ((Hour * 60.0 + Minute) * 60.0 + Second) * 1000.0 + Millisecond;
  return EncodeDate(Date) + ms / kMillisecondsPerDay;
}

TCivilDate MonthsBefore(const TCivilDate& Date, std::int64_t Months) {
  const std::int64_t start = static_cast<std::int64_t>(Date.Year) * 12 + (Date.Month - 1);
  if (Months > start - 12) return {1, 1, 1};
  const std::int64_t index = start - std::max<std::int64_t>(Months, 0);
  const std::int64_t year = index / 12;
  const int month = static_cast<int>(index - year * 12) + 1;
  const auto last = chr::year_month_day_last{chr::year{static_cast<int>(year)} /
                                             chr::month{static_cast<unsigned>(month)} / chr::last};
  const int lastDay = static_cast<int>(static_cast<unsigned>(last.day()));
  return {static_cast<int>(year), month, Date.Day < lastDay ? Date.Day : lastDay};
}

TCivilDate LocalToday() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return {1970, 1, 1};
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

std::optional<TDateTime> FileTimeToLocalDateTime(TFileTime Value) {
  const TUnixTime u = FileTimeToUnix(Value);
  const std::time_t t = static_cast<std::time_t>(u.Seconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return std::nullopt;
  const TCivilDate date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
  if (!IsValidDate(date)) return std::nullopt;
  return EncodeDateTime(date, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(u.Nanoseconds / 1'000'000));
}

bool DateTimeInRange(TDateTime Value, TDateTime From, TDateTime To) {
  return !EarlierByOneMs(Value, From) && !EarlierByOneMs(To, Value);
}

}  // namespace kestrine
