#pragma once
// FILETIME values (100-ns units since 1601-01-01 UTC) and their text form.

#include <cstdint>
#include <ctime>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace kestrine {

using TFileTime = std::uint64_t;

inline constexpr TFileTime kFileTimeTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
inline constexpr std::int64_t kFileTimeUnixEpochSeconds = 11'644'473'600;

// DOS date and time as stored in FAT directory entries: local wall-clock time, turned into UTC with
// the zone rules in force at that moment. TenMs adds 10 ms units (0..199) to the 2 s resolution.
// Invalid fields (month 0, day 0, ...) give nullopt.
std::optional<TFileTime> DosDateTimeToFileTime(std::uint16_t Date, std::uint16_t Time, std::uint8_t TenMs = 0);
// The same fields as the wall clock of a zone OffsetMinutes east of UTC, whatever the local zone.
std::optional<TFileTime> DosDateTimeAtOffsetToFileTime(std::uint16_t Date, std::uint16_t Time, std::uint8_t TenMs,
                                                       int OffsetMinutes);

// Unix seconds and nanoseconds of a FILETIME.
struct TUnixTime {
  std::int64_t Seconds = 0;
  std::int64_t Nanoseconds = 0;
};
TUnixTime FileTimeToUnix(TFileTime Value);
TFileTime UnixToFileTime(std::int64_t Seconds, std::int64_t Nanoseconds = 0);

// "short date, blank, long time" in the user's locale; the time part is left out at exact midnight.
std::string FormatLocalDateTime(const std::tm& Local, bool WholeSecond);
void AppendLocalDateTime(std::string& Out, const std::tm& Local, bool WholeSecond);

// A FILETIME shown in local time; nullopt when it cannot be converted.
std::optional<std::string> FileTimeToLocalText(TFileTime Value);
// The same appended to Out; false, with nothing appended, when it cannot be converted.
bool AppendLocalText(std::string& Out, TFileTime Value);

// Local texts of many FILETIMEs, as a listing writes them: the zone's offset is looked up once an
// hour of UTC rather than once a time, and a second the same as the one before is not written anew.
// The texts are FileTimeToLocalText's. One a thread.
class TLocalTimeText {
 public:
  // Valid until the next call; empty when Value cannot be converted.
  std::string_view Text(TFileTime Value);
  // The local time of Unix Seconds, as localtime_r gives it.
  std::optional<std::tm> Local(std::int64_t Seconds);

 private:
  std::int64_t FHour = std::numeric_limits<std::int64_t>::min();  // UTC hour whose offset is known
  std::tm FHourStart{};                                           // local time at its start
  bool FSteady = false;                                           // one offset all through it
  std::optional<std::string> FText;                               // of the last second asked
  std::int64_t FSecond = 0;
  bool FWhole = false;
};

// ISO 8601 UTC ("2026-12-09T08:46:04Z", fractions kept when present); nullopt for 0.
std::optional<std::string> FileTimeToIsoUtc(TFileTime Value);
// The same appended to Out; false, with nothing appended, for 0.
bool AppendIsoUtc(std::string& Out, TFileTime Value);

}  // namespace kestrine
