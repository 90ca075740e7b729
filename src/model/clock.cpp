#include "model/clock.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace tessel {

namespace {

constexpr int64_t kMsPerDay = 86400000;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
constexpr int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// A constant, not a value computed at start-up: stamps encoded while other files' globals are
// initialised must already count from 1899-12-30.
constexpr int64_t kEpochDays = DaysFromCivil(1899, 12, 30);
static_assert(kEpochDays == -25569);

}  // namespace

int64_t MonotonicNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double SystemClock::Now() const {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t secs = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&secs, &local);
  const int ms =
      static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec, ms < 0 ? ms + 1000 : ms);
}

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                      int millisecond) {
  const double days = static_cast<double>(DaysFromCivil(year, month, day) - kEpochDays);
  const double time = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / kMsPerDay;
  // Before the epoch the whole part counts back while the fraction still counts forward into the
  // day, so the time of day is subtracted.
  return days < 0 ? days - time : days + time;
}

DateTimeParts DecodeDateTime(double stamp) {
  // A damaged record may hold anything; keep the arithmetic defined (about +-27000 years).
  if (!std::isfinite(stamp) || std::fabs(stamp) > 1e7) return DateTimeParts{};
  const double whole = std::trunc(stamp);
  int64_t days = static_cast<int64_t>(whole);
  int64_t ms = std::llround(std::fabs(stamp - whole) * kMsPerDay);
  // Rounding may reach midnight: that is the start of the next calendar day.
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    ++days;
  }
  DateTimeParts p;
  CivilFromDays(days + kEpochDays, p.Year, p.Month, p.Day);
  p.Hour = static_cast<int>(ms / 3600000);
  p.Minute = static_cast<int>(ms / 60000 % 60);
  p.Second = static_cast<int>(ms / 1000 % 60);
  p.Millisecond = static_cast<int>(ms % 1000);
  return p;
}

std::string FormatDateTime(double stamp) {
  const DateTimeParts p = DecodeDateTime(stamp);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour,
                p.Minute, p.Second);
  return buf;
}

std::string FormatTime(double stamp) {
  const DateTimeParts p = DecodeDateTime(stamp);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.Hour, p.Minute, p.Second);
  return buf;
}

}  // namespace tessel
