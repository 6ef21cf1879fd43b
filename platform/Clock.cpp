// SPDX-License-Identifier: Apache-2.0
#include "platform/Clock.h"

#include <atomic>
#include <ctime>

namespace corvane::platform {
namespace {

std::atomic<Clock*> current_clock{nullptr};

int64_t FloorDivide(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

int64_t SystemClock::NowUnixSeconds() {
  return static_cast<int64_t>(std::time(nullptr));
}

int32_t SystemClock::UtcOffsetSeconds(int64_t unix_seconds) {
  std::time_t when = static_cast<std::time_t>(unix_seconds);
  std::tm local{};
  if (localtime_r(&when, &local) == nullptr) return 0;
  return static_cast<int32_t>(local.tm_gmtoff);
}

Clock& TheClock() {
  static SystemClock system;
  Clock* installed = current_clock.load();
  return installed ? *installed : system;
}

ScopedClock::ScopedClock(Clock& replacement)
    : previous_(current_clock.exchange(&replacement)) {}

ScopedClock::~ScopedClock() { current_clock.store(previous_); }

// Days since 1970-01-01 to the proleptic Gregorian date (the era-based
// method: 400-year eras of 146,097 days).
CivilTime UtcCivilTime(int64_t unix_seconds) {
  int64_t days = FloorDivide(unix_seconds, 86400);
  int64_t seconds_of_day = unix_seconds - days * 86400;
  CivilTime civil;
  civil.hour = static_cast<int>(seconds_of_day / 3600);
  civil.minute = static_cast<int>(seconds_of_day / 60 % 60);
  civil.second = static_cast<int>(seconds_of_day % 60);
  civil.weekday = static_cast<int>(((days % 7) + 11) % 7);

  int64_t z = days + 719468;
  int64_t era = FloorDivide(z, 146097);
  int64_t day_of_era = z - era * 146097;
  int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 -
                         day_of_era / 146096) /
                        365;
  int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  int64_t mp = (5 * day_of_year + 2) / 153;
  civil.day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
  civil.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  civil.year =
      static_cast<int>(year_of_era + era * 400 + (civil.month <= 2 ? 1 : 0));
  return civil;
}

CivilTime LocalCivilTime(int64_t unix_seconds) {
  int32_t offset = TheClock().UtcOffsetSeconds(unix_seconds);
  CivilTime civil = UtcCivilTime(unix_seconds + offset);
  civil.utc_offset_seconds = offset;
  return civil;
}

}  // namespace corvane::platform
