#include "support/file_time.h"

#include <cstdio>

namespace kestrine {
namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::string Strftime(const char* format, const std::tm& t) {
  char buf[128];
  const std::size_t n = std::strftime(buf, sizeof buf, format, &t);
  return std::string(buf, n);
}

}  // namespace

std::optional<TFileTime> DosDateTimeToFileTime(std::uint16_t Date, std::uint16_t Time) {
  const unsigned day = Date & 0x1F, month = (Date >> 5) & 0x0F, year = 1980 + (Date >> 9);
  const unsigned seconds = (Time & 0x1F) * 2, minutes = (Time >> 5) & 0x3F, hours = Time >> 11;
  if (day == 0 || month == 0 || month > 12 || seconds > 59 || minutes > 59 || hours > 23) return std::nullopt;
  const std::int64_t unixSeconds =
      DaysFromCivil(year, month, day) * 86400 + hours * 3600 + minutes * 60 + seconds;
  return UnixToFileTime(unixSeconds);
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

std::string FormatLocalDateTime(const std::tm& Local, bool WholeSecond) {
  std::string text = Strftime("%x", Local);
  const bool midnight = WholeSecond && Local.tm_hour == 0 && Local.tm_min == 0 && Local.tm_sec == 0;
  if (!midnight) text += " " + Strftime("%X", Local);
  return text;
}

std::optional<std::string> FileTimeToLocalText(TFileTime Value) {
  const TUnixTime u = FileTimeToUnix(Value);
  const std::time_t t = static_cast<std::time_t>(u.Seconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return std::nullopt;
  return FormatLocalDateTime(local, u.Nanoseconds == 0);
}

std::optional<std::string> FileTimeToIsoUtc(TFileTime Value) {
  if (Value == 0) return std::nullopt;
  const TUnixTime u = FileTimeToUnix(Value);
  const std::time_t t = static_cast<std::time_t>(u.Seconds);
  std::tm utc{};
  if (gmtime_r(&t, &utc) == nullptr) return std::nullopt;
  std::string text = Strftime("%Y-%m-%dT%H:%M:%S", utc);
  if (u.Nanoseconds != 0) {
    char frac[32];
    std::snprintf(frac, sizeof frac, ".%07lld", static_cast<long long>(u.Nanoseconds / 100));
    text += frac;
  }
  return text + "Z";
}

}  // namespace kestrine
