#include "support/file_time.h"

#include <cstdio>

namespace kestrine {
namespace {

std::string Strftime(const char* format, const std::tm& t) {
  char buf[128];
  const std::size_t n = std::strftime(buf, sizeof buf, format, &t);
  return std::string(buf, n);
}

}  // namespace

std::optional<TFileTime> DosDateTimeToFileTime(std::uint16_t Date, std::uint16_t Time, std::uint8_t TenMs) {
  const unsigned day = Date & 0x1F, month = (Date >> 5) & 0x0F, year = 1980 + (Date >> 9);
  const unsigned seconds = (Time & 0x1F) * 2, minutes = (Time >> 5) & 0x3F, hours = Time >> 11;
  if (day == 0 || month == 0 || month > 12 || seconds > 59 || minutes > 59 || hours > 23) return std::nullopt;
  // FAT keeps the wall clock of the writer's zone; the rules in force on that day give its offset.
  std::tm local{};
  local.tm_year = static_cast<int>(year) - 1900;
  local.tm_mon = static_cast<int>(month) - 1;
  local.tm_mday = static_cast<int>(day);
  local.tm_hour = static_cast<int>(hours);
  local.tm_min = static_cast<int>(minutes);
  local.tm_sec = static_cast<int>(seconds);
  local.tm_isdst = -1;
  const std::time_t utc = std::mktime(&local);
  if (utc == static_cast<std::time_t>(-1)) return std::nullopt;
  // Beyond 1.99 s the byte is damage, not a finer time.
  const unsigned tenMs = TenMs < 200 ? TenMs : 0;
  return UnixToFileTime(static_cast<std::int64_t>(utc) + tenMs / 100,
                        static_cast<std::int64_t>(tenMs % 100) * 10'000'000);
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
