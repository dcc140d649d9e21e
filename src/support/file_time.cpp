#include "support/file_time.h"

#include <langinfo.h>

#include <charconv>
#include <chrono>
#include <cstdio>

namespace kestrine {
namespace {

std::string Strftime(const char* format, const std::tm& t) {
  char buf[128];
  const std::size_t n = std::strftime(buf, sizeof buf, format, &t);
  return std::string(buf, n);
}

char* TwoDigits(char* At, int Value) {
  At[0] = static_cast<char>('0' + Value / 10);
  At[1] = static_cast<char>('0' + Value % 10);
  return At + 2;
}

// strftime costs more than a scan's row: the numeric formats of the common locales (the C one among
// them) are written here, and false leaves anything else to strftime.
bool FormatNumeric(const char* Format, const std::tm& t, char*& At, char* End) {
  for (const char* f = Format; *f; ++f) {
    if (End - At < 12) return false;  // room for the longest conversion, a year
    if (*f != '%') {
      *At++ = *f;
      continue;
    }
    switch (*++f) {
      case 'd': At = TwoDigits(At, t.tm_mday); break;
      case 'm': At = TwoDigits(At, t.tm_mon + 1); break;
      case 'y': At = TwoDigits(At, (t.tm_year % 100 + 100) % 100); break;
      case 'Y':
        // Every FILETIME falls in a year of at least four digits, which needs no padding.
        if (t.tm_year + 1900 < 1000) return false;
        At = std::to_chars(At, End, t.tm_year + 1900).ptr;
        break;
      case 'H': At = TwoDigits(At, t.tm_hour); break;
      case 'M': At = TwoDigits(At, t.tm_min); break;
      case 'S': At = TwoDigits(At, t.tm_sec); break;
      case 'T': if (!FormatNumeric("%H:%M:%S", t, At, End)) return false; break;
      case 'D': if (!FormatNumeric("%m/%d/%y", t, At, End)) return false; break;
      case '%': *At++ = '%'; break;
      default: return false;
    }
  }
  return true;
}

// What strftime writes for Conversion, which stands for Format.
void AppendFormat(std::string& Out, const char* Format, const char* Conversion, const std::tm& t) {
  char buf[128];
  char* at = buf;
  if (FormatNumeric(Format, t, at, buf + sizeof buf))
    Out.append(buf, static_cast<std::size_t>(at - buf));
  else
    Out += Strftime(Conversion, t);
}

// Unix seconds as a date and time of the proleptic Gregorian calendar.
struct TCivilTime {
  std::int64_t Year;
  int Month, Day, Hour, Minute, Second;  // Month 1..12, Day 1..31
  int WeekDay, YearDay;                  // as in std::tm: from Sunday, from 1 January
};

// A / B rounded down.
std::int64_t FloorDiv(std::int64_t A, std::int64_t B) { return (A >= 0 ? A : A - B + 1) / B; }

TCivilTime CivilTime(std::int64_t Seconds) {
  namespace chr = std::chrono;
  // The calendar repeats every 400 years, weekdays too. Whole cycles are taken out first: a
  // year_month_day reaches year 32767, and FILETIMEs run to year 60056.
  constexpr std::int64_t kCycleDays = 146'097;
  const std::int64_t days = FloorDiv(Seconds, 86'400), second = Seconds - days * 86'400;
  const std::int64_t cycles = FloorDiv(days, kCycleDays);
  const chr::sys_days date{chr::days{days - cycles * kCycleDays}};
  const chr::year_month_day ymd{date};
  TCivilTime c{};
  c.Year = static_cast<int>(ymd.year()) + cycles * 400;
  c.Month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  c.Day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  c.Hour = static_cast<int>(second / 3600);
  c.Minute = static_cast<int>(second / 60 % 60);
  c.Second = static_cast<int>(second % 60);
  c.WeekDay = static_cast<int>(chr::weekday{date}.c_encoding());
  c.YearDay = static_cast<int>((date - chr::sys_days{ymd.year() / chr::January / 1}).count());
  return c;
}

}  // namespace

namespace {

struct TDosFields {
  unsigned Year, Month, Day, Hours, Minutes, Seconds;
};

std::optional<TDosFields> DecodeDos(std::uint16_t Date, std::uint16_t Time) {
  const unsigned date = Date, time = Time;
  const TDosFields f{1980 + (date >> 9), (date >> 5) & 0x0F, date & 0x1F, time >> 11, (time >> 5) & 0x3F, (time & 0x1F) * 2};
  if (f.Day == 0 || f.Month == 0 || f.Month > 12 || f.Seconds > 59 || f.Minutes > 59 || f.Hours > 23)
    return std::nullopt;
  return f;
}

TFileTime WithTenMs(std::int64_t UnixSeconds, std::uint8_t TenMs) {
  // Beyond 1.99 s the byte is damage, not a finer time.
  const unsigned tenMs = TenMs < 200 ? TenMs : 0;
  return UnixToFileTime(UnixSeconds + tenMs / 100, static_cast<std::int64_t>(tenMs % 100) * 10'000'000);
}

}  // namespace

std::optional<TFileTime> DosDateTimeToFileTime(std::uint16_t Date, std::uint16_t Time, std::uint8_t TenMs) {
  const auto f = DecodeDos(Date, Time);
  if (!f) return std::nullopt;
  // FAT keeps the wall clock of the writer's zone; the rules in force on that day give its offset.
  std::tm local{};
  local.tm_year = static_cast<int>(f->Year) - 1900;
  local.tm_mon = static_cast<int>(f->Month) - 1;
  local.tm_mday = static_cast<int>(f->Day);
  local.tm_hour = static_cast<int>(f->Hours);
  local.tm_min = static_cast<int>(f->Minutes);
  local.tm_sec = static_cast<int>(f->Seconds);
  local.tm_isdst = -1;
  const std::time_t utc = std::mktime(&local);
  if (utc == static_cast<std::time_t>(-1)) return std::nullopt;
  return WithTenMs(static_cast<std::int64_t>(utc), TenMs);
}

std::optional<TFileTime> DosDateTimeAtOffsetToFileTime(std::uint16_t Date, std::uint16_t Time, std::uint8_t TenMs,
                                                       int OffsetMinutes) {
  const auto f = DecodeDos(Date, Time);
  if (!f) return std::nullopt;
  namespace chr = std::chrono;
  // Day 31 of a 30-day month is damage, as mktime would otherwise roll it into the next month.
  const chr::year_month_day date{chr::year{static_cast<int>(f->Year)}, chr::month{f->Month}, chr::day{f->Day}};
  if (!date.ok()) return std::nullopt;
  const std::int64_t days = chr::sys_days{date}.time_since_epoch().count();
  const std::int64_t wall = days * 86'400 + f->Hours * 3600 + f->Minutes * 60 + f->Seconds;
  return WithTenMs(wall - std::int64_t{OffsetMinutes} * 60, TenMs);
}

TUnixTime FileTimeToUnix(TFileTime Value) {
  const auto ticks = static_cast<std::int64_t>(Value / kFileTimeTicksPerSecond);
  const auto rest = static_cast<std::int64_t>(Value % kFileTimeTicksPerSecond);
  return {ticks - kFileTimeUnixEpochSeconds, rest * 100};
}

TFileTime UnixToFileTime(std::int64_t Seconds, std::int64_t Nanoseconds) {
  const std::int64_t s = Seconds + kFileTimeUnixEpochSeconds;
  if (s < 0) return 0;
  return static_cast<TFileTime>(s) * kFileTimeTicksPerSecond + static_cast<TFileTime>(Nanoseconds / 100);
}

void AppendLocalDateTime(std::string& Out, const std::tm& Local, bool WholeSecond) {
  // %x and %X are the locale's D_FMT and T_FMT.
  AppendFormat(Out, nl_langinfo(D_FMT), "%x", Local);
  const bool midnight = WholeSecond && Local.tm_hour == 0 && Local.tm_min == 0 && Local.tm_sec == 0;
  if (midnight) return;
  Out += ' ';
  AppendFormat(Out, nl_langinfo(T_FMT), "%X", Local);
}

std::string FormatLocalDateTime(const std::tm& Local, bool WholeSecond) {
  std::string text;
  AppendLocalDateTime(text, Local, WholeSecond);
  return text;
}

bool AppendLocalText(std::string& Out, TFileTime Value) {
  const TUnixTime u = FileTimeToUnix(Value);
  const std::time_t t = static_cast<std::time_t>(u.Seconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return false;
  AppendLocalDateTime(Out, local, u.Nanoseconds == 0);
  return true;
}

std::optional<std::tm> TLocalTimeText::Local(std::int64_t Seconds) {
  const std::int64_t hour = (Seconds >= 0 ? Seconds : Seconds - 3599) / 3600;
  if (hour != FHour) {
    FHour = hour;
    // Zones change their offset at most a few times a year: one that is the same at both ends of
    // an hour holds all through it.
    const auto start = static_cast<std::time_t>(hour * 3600), end = start + 3599;
    std::tm last{};
    FSteady = localtime_r(&start, &FHourStart) && localtime_r(&end, &last) &&
              FHourStart.tm_gmtoff == last.tm_gmtoff && FHourStart.tm_isdst == last.tm_isdst;
  }
  std::tm local{};
  if (!FSteady) {
    const auto t = static_cast<std::time_t>(Seconds);
    if (!localtime_r(&t, &local)) return std::nullopt;
    return local;
  }
  const TCivilTime c = CivilTime(Seconds + FHourStart.tm_gmtoff);
  local = FHourStart;  // the zone's fields
  local.tm_year = static_cast<int>(c.Year - 1900);
  local.tm_mon = c.Month - 1;
  local.tm_mday = c.Day;
  local.tm_hour = c.Hour;
  local.tm_min = c.Minute;
  local.tm_sec = c.Second;
  local.tm_wday = c.WeekDay;
  local.tm_yday = c.YearDay;
  return local;
}

std::string_view TLocalTimeText::Text(TFileTime Value) {
  const TUnixTime u = FileTimeToUnix(Value);
  const bool whole = u.Nanoseconds == 0;
  if (!FText || u.Seconds != FSecond || whole != FWhole) {
    FText.reset();
    const std::optional<std::tm> local = Local(u.Seconds);
    if (!local) return {};
    FText.emplace();
    AppendLocalDateTime(*FText, *local, whole);
    FSecond = u.Seconds;
    FWhole = whole;
  }
  return *FText;
}

std::optional<std::string> FileTimeToLocalText(TFileTime Value) {
  std::string text;
  if (!AppendLocalText(text, Value)) return std::nullopt;
  return text;
}

bool AppendIsoUtc(std::string& Out, TFileTime Value) {
  if (Value == 0) return false;
  const TUnixTime u = FileTimeToUnix(Value);
  const TCivilTime c = CivilTime(u.Seconds);
  char buf[48];
  char* at = std::to_chars(buf, buf + 20, c.Year).ptr;
  *at++ = '-';
  at = TwoDigits(at, c.Month);
  *at++ = '-';
  at = TwoDigits(at, c.Day);
  *at++ = 'T';
  at = TwoDigits(at, c.Hour);
  *at++ = ':';
  at = TwoDigits(at, c.Minute);
  *at++ = ':';
  at = TwoDigits(at, c.Second);
  if (u.Nanoseconds != 0) {
    // Seven digits of 100 ns ticks, zero-padded.
    *at = '.';
    for (std::int64_t ticks = u.Nanoseconds / 100, i = 7; i > 0; --i, ticks /= 10)
      at[i] = static_cast<char>('0' + ticks % 10);
    at += 8;
  }
  *at++ = 'Z';
  Out.append(buf, static_cast<std::size_t>(at - buf));
  return true;
}

std::optional<std::string> FileTimeToIsoUtc(TFileTime Value) {
  std::string text;
  if (!AppendIsoUtc(text, Value)) return std::nullopt;
  return text;
}

}  // namespace kestrine
