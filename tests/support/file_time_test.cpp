#include "support/file_time.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <tuple>
#include <random>

#include "tests/support/test_support.h"

namespace kestrine {
namespace {

std::string Strftime(const char* Format, const std::tm& t) {
  char buf[128];
  return std::string(buf, std::strftime(buf, sizeof buf, Format, &t));
}

// The texts as strftime alone wrote them, before the numeric formats were written by hand.
std::optional<std::string> StrftimeLocalText(TFileTime Value) {
  const TUnixTime u = FileTimeToUnix(Value);
  const auto t = static_cast<std::time_t>(u.Seconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return std::nullopt;
  std::string text = Strftime("%x", local);
  if (!(u.Nanoseconds == 0 && local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0))
    text += " " + Strftime("%X", local);
  return text;
}

std::optional<std::string> StrftimeIsoUtc(TFileTime Value) {
  if (Value == 0) return std::nullopt;
  const TUnixTime u = FileTimeToUnix(Value);
  const auto t = static_cast<std::time_t>(u.Seconds);
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

// Times of every kind a volume holds: any tick of the FILETIME range, whole seconds, local
// midnights, and the hours around this zone's changes of offset.
std::vector<TFileTime> SampleTimes() {
  std::mt19937_64 random(20261209);
  std::vector<TFileTime> times = {0, 1, kFileTimeTicksPerSecond, UnixToFileTime(0), UnixToFileTime(253402300799),
                                  UnixToFileTime(253402300800), 0x7FFFFFFFFFFFFFFFull};
  std::uniform_int_distribution<std::int64_t> seconds(-kFileTimeUnixEpochSeconds, 4'102'444'800);  // up to 2100
  for (int i = 0; i < 20000; ++i) {
    const std::int64_t s = seconds(random);
    times.push_back(UnixToFileTime(s, static_cast<std::int64_t>(random() % 10'000'000) * 100));
    times.push_back(UnixToFileTime(s));
    times.push_back(UnixToFileTime(s - s % 86400));  // midnight UTC
    times.push_back(UnixToFileTime(s - s % 3600));   // whole hours: offsets change on them
    times.push_back(random());                       // beyond year 9999 too
  }
  // Every quarter hour of two years, so each change of offset falls among them.
  for (std::int64_t s = 1'711'929'600 - 366 * 86400; s < 1'711'929'600 + 366 * 86400; s += 900)
    times.push_back(UnixToFileTime(s));
  return times;
}

TEST(FileTimeText, LocalTextIsStrftimesInEveryZone) {
  const auto times = SampleTimes();
  for (const char* zone : {"UTC", "Europe/Berlin", "America/New_York", "Australia/Lord_Howe", "Asia/Kolkata"}) {
    const test::TScopedZone scoped(zone);
    for (TFileTime t : times) ASSERT_EQ(FileTimeToLocalText(t), StrftimeLocalText(t)) << zone << " " << t;
  }
}

// The fields strftime may read, whatever the locale's formats are.
void ExpectSameTm(const std::tm& A, const std::tm& B, std::int64_t Seconds, const char* Zone) {
  const auto fields = [](const std::tm& t) {
    return std::tuple(t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_wday, t.tm_yday,
                      t.tm_isdst, t.tm_gmtoff, std::string(t.tm_zone ? t.tm_zone : ""));
  };
  ASSERT_EQ(fields(A), fields(B)) << Zone << " " << Seconds;
}

TEST(FileTimeText, ListingTextsAreTheSingleTextsInAnyOrder) {
  auto times = SampleTimes();
  // Shuffled, the offset of nearly every time is looked up afresh; in order, most come from the hour
  // before, across every change of offset; repeated, from the second before.
  std::vector<TFileTime> ordered = times;
  std::sort(ordered.begin(), ordered.end());
  for (std::size_t i = 0; i < 2000; ++i) ordered.insert(ordered.begin() + static_cast<std::ptrdiff_t>(i * 50), ordered[i * 50]);
  for (const char* zone : {"UTC", "Europe/Berlin", "America/New_York", "Australia/Lord_Howe", "Asia/Kathmandu",
                           "America/St_Johns"}) {
    const test::TScopedZone scoped(zone);
    for (const auto* list : {&times, &ordered}) {
      TLocalTimeText listing;
      for (TFileTime t : *list)
        ASSERT_EQ(listing.Text(t), FileTimeToLocalText(t).value_or("")) << zone << " " << t;
    }
    TLocalTimeText listing;
    for (std::int64_t s = -kFileTimeUnixEpochSeconds; s < 4'102'444'800; s += 86'400 * 7 + 3'607) {
      const auto t = static_cast<std::time_t>(s);
      std::tm expected{};
      ASSERT_TRUE(localtime_r(&t, &expected));
      const std::optional<std::tm> local = listing.Local(s);
      ASSERT_TRUE(local);
      ExpectSameTm(*local, expected, s, zone);
    }
  }
}

TEST(FileTimeText, LocalTextFollowsTheLocale) {
  const std::string previous = std::setlocale(LC_TIME, nullptr);
  const test::TScopedZone scoped("Europe/Berlin");
  const auto times = SampleTimes();
  for (const char* locale : {"C", "C.UTF-8", "POSIX"}) {
    if (!std::setlocale(LC_TIME, locale)) continue;
    for (std::size_t i = 0; i < times.size(); i += 7)
      ASSERT_EQ(FileTimeToLocalText(times[i]), StrftimeLocalText(times[i])) << locale << " " << times[i];
  }
  std::setlocale(LC_TIME, previous.c_str());
}

TEST(FileTimeText, LocalTextOfTheCLocale) {
  const test::TScopedZone scoped("UTC");
  EXPECT_EQ(FileTimeToLocalText(UnixToFileTime(1'765'269'964)), "12/09/25 08:46:04");
  EXPECT_EQ(FileTimeToLocalText(UnixToFileTime(1'765'238'400)), "12/09/25");
  EXPECT_EQ(FileTimeToLocalText(UnixToFileTime(1'765'238'400, 100)), "12/09/25 00:00:00");
  EXPECT_EQ(FileTimeToLocalText(UnixToFileTime(-kFileTimeUnixEpochSeconds)), "01/01/01");
}

TEST(FileTimeText, IsoUtcIsStrftimes) {
  for (TFileTime t : SampleTimes()) ASSERT_EQ(FileTimeToIsoUtc(t), StrftimeIsoUtc(t)) << t;
  EXPECT_EQ(FileTimeToIsoUtc(UnixToFileTime(1'765'269'964, 1'234'500)), "2025-12-09T08:46:04.0012345Z");
  EXPECT_EQ(FileTimeToIsoUtc(1), "1601-01-01T00:00:00.0000001Z");
  EXPECT_EQ(FileTimeToIsoUtc(0), std::nullopt);
}

}  // namespace
}  // namespace kestrine
