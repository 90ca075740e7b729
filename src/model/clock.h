// Time stamps: doubles counting local days since 1899-12-30 00:00, the fraction being the time of
// day. The core never reads the clock itself; it asks a Clock.
#pragma once

#include <cstdint>
#include <string>

namespace tessel {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual double Now() const = 0;  // local time as a time stamp
};

// The machine's local time.
class SystemClock : public Clock {
 public:
  double Now() const override;
};

// A clock that tests set and advance by hand.
class ManualClock : public Clock {
 public:
  explicit ManualClock(double t = 0) : t_(t) {}
  double Now() const override { return t_; }
  void Set(double t) { t_ = t; }
  void AdvanceSeconds(double s) { t_ += s / 86400.0; }

 private:
  double t_;
};

// The machine's monotonic clock in nanoseconds: what poll ticks and deadlines are paced by.
int64_t MonotonicNanos();

struct DateTimeParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// Calendar date and time to a time stamp (proleptic Gregorian, no validation beyond arithmetic).
double EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                      int millisecond = 0);
// A time stamp back to its parts, rounded to the millisecond.
DateTimeParts DecodeDateTime(double stamp);
// "yyyy-mm-dd hh:mm:ss"
std::string FormatDateTime(double stamp);
// "hh:mm:ss"
std::string FormatTime(double stamp);

}  // namespace tessel
