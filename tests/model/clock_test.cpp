#include "model/clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

namespace tessel {
namespace {

constexpr double kMs = 1.0 / 86400000.0;

void ExpectParts(const DateTimeParts& p, int y, int mo, int d, int h, int mi, int s, int ms,
                 double stamp) {
  EXPECT_EQ(p.Year, y) << stamp;
  EXPECT_EQ(p.Month, mo) << stamp;
  EXPECT_EQ(p.Day, d) << stamp;
  EXPECT_EQ(p.Hour, h) << stamp;
  EXPECT_EQ(p.Minute, mi) << stamp;
  EXPECT_EQ(p.Second, s) << stamp;
  EXPECT_EQ(p.Millisecond, ms) << stamp;
}

TEST(TimeStamp, KnownValuesBothWays) {
  struct Case {
    int y, mo, d, h, mi, s;
    double stamp;
  };
  const Case cases[] = {
      {1899, 12, 30, 0, 0, 0, 0.0},
      {1900, 1, 1, 0, 0, 0, 2.0},
      {1900, 3, 1, 0, 0, 0, 61.0},  // 1900 has no 29 February
      {2000, 2, 29, 0, 0, 0, 36585.0},
      {2008, 12, 31, 12, 0, 0, 39813.5},
      {2024, 3, 31, 23, 59, 59, 45382.0 + 86399.0 / 86400.0},
      {1899, 12, 29, 6, 0, 0, -1.25},  // before the epoch the fraction still counts forward
      {1899, 12, 29, 0, 0, 0, -1.0},
      {1800, 1, 1, 18, 0, 0, -36522.75},
      {9999, 12, 31, 0, 0, 0, 2958465.0},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(EncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s), c.stamp, kMs / 10) << c.stamp;
    ExpectParts(DecodeDateTime(c.stamp), c.y, c.mo, c.d, c.h, c.mi, c.s, 0, c.stamp);
  }
}

TEST(TimeStamp, RoundingCarriesIntoSecondsMinutesAndDays) {
  // Half a millisecond short of the next unit rounds up into it.
  const double almostMidnight = EncodeDateTime(2024, 12, 31, 23, 59, 59, 999) + 0.6 * kMs;
  ExpectParts(DecodeDateTime(almostMidnight), 2025, 1, 1, 0, 0, 0, 0, almostMidnight);
  EXPECT_EQ(FormatDateTime(almostMidnight), "2025-01-01 00:00:00");

  const double almostMinute = EncodeDateTime(2024, 2, 29, 10, 14, 59, 999) + 0.6 * kMs;
  ExpectParts(DecodeDateTime(almostMinute), 2024, 2, 29, 10, 15, 0, 0, almostMinute);

  // Milliseconds are dropped by the formats, not rounded into the second.
  const double lateInSecond = EncodeDateTime(2024, 2, 29, 10, 14, 59, 999);
  EXPECT_EQ(FormatDateTime(lateInSecond), "2024-02-29 10:14:59");
  EXPECT_EQ(FormatTime(lateInSecond), "10:14:59");

  // Before the epoch, a time of day that rounds to 24:00 is the next calendar day.
  const double beforeEpoch = -1.0 - (1.0 - 0.4 * kMs);
  ExpectParts(DecodeDateTime(beforeEpoch), 1899, 12, 30, 0, 0, 0, 0, beforeEpoch);
}

TEST(TimeStamp, RoundTripsToTheMillisecond) {
  const int samples[][7] = {
      {2024, 3, 31, 23, 59, 59, 999}, {1999, 12, 31, 0, 0, 0, 1},      {2038, 1, 19, 3, 14, 7, 500},
      {1850, 6, 15, 13, 45, 30, 250}, {1899, 12, 30, 23, 59, 59, 999}, {2100, 2, 28, 12, 0, 0, 0},
  };
  for (const auto& s : samples) {
    const double stamp = EncodeDateTime(s[0], s[1], s[2], s[3], s[4], s[5], s[6]);
    ExpectParts(DecodeDateTime(stamp), s[0], s[1], s[2], s[3], s[4], s[5], s[6], stamp);
  }
}

TEST(TimeStamp, FormatsPadWithZeros) {
  EXPECT_EQ(FormatDateTime(EncodeDateTime(2024, 1, 2, 3, 4, 5)), "2024-01-02 03:04:05");
  EXPECT_EQ(FormatDateTime(EncodeDateTime(999, 9, 9)), "0999-09-09 00:00:00");
  EXPECT_EQ(FormatTime(39813.5), "12:00:00");
  EXPECT_EQ(FormatDateTime(0), "1899-12-30 00:00:00");
}

TEST(TimeStamp, DamagedValuesDecodeToTheEpoch) {
  for (double bad : {std::numeric_limits<double>::quiet_NaN(),
                     std::numeric_limits<double>::infinity(), -1e300, 1e300})
    EXPECT_EQ(FormatDateTime(bad), "1899-12-30 00:00:00");
}

// Runs the check in a zone eight hours east of UTC, so that local time cannot pass for UTC.
TEST(TimeStamp, SystemClockIsLocalTime) {
  const char* oldTz = std::getenv("TZ");
  const std::string saved = oldTz ? oldTz : "";
  setenv("TZ", "TST-8", 1);
  tzset();
  auto utc = [](std::time_t t) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                          tm.tm_sec);
  };
  const std::time_t before = std::time(nullptr);
  const double now = SystemClock().Now();
  const std::time_t after = std::time(nullptr) + 1;
  if (oldTz)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
  EXPECT_GE(now, utc(before) + 8.0 / 24);
  EXPECT_LE(now, utc(after) + 8.0 / 24);
}

TEST(TimeStamp, ManualClockAdvancesBySeconds) {
  ManualClock clock(39813.5);
  clock.AdvanceSeconds(90);
  EXPECT_EQ(FormatDateTime(clock.Now()), "2008-12-31 12:01:30");
}

}  // namespace
}  // namespace tessel
