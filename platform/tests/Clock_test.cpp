// SPDX-License-Identifier: Apache-2.0
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace corvane::platform {
namespace {

// Sets TZ for one test and restores it afterwards.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old, had_ = true;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    had_ ? setenv("TZ", saved_.c_str(), 1) : unsetenv("TZ");
    tzset();
  }

 private:
  std::string saved_;
  bool had_ = false;
};

void ExpectSame(const CivilTime& civil, const std::tm& tm, int64_t when) {
  SCOPED_TRACE(when);
  EXPECT_EQ(civil.year, tm.tm_year + 1900);
  EXPECT_EQ(civil.month, tm.tm_mon + 1);
  EXPECT_EQ(civil.day, tm.tm_mday);
  EXPECT_EQ(civil.hour, tm.tm_hour);
  EXPECT_EQ(civil.minute, tm.tm_min);
  EXPECT_EQ(civil.second, tm.tm_sec);
  EXPECT_EQ(civil.weekday, tm.tm_wday);
}

// Instants around the epoch, leap days, centuries and far from 1970.
constexpr int64_t kInstants[] = {
    0,          -1,         86399,       -86401,       951782400,
    951868799,  4107542400, -2208988800, -11644473600, 1798761599,
    1711846799, 1711846800, 1729990799,  1729990800,   -631152001};

TEST(Clock, UtcCivilTimeAgreesWithTheCLibrary) {
  for (int64_t when : kInstants) {
    std::time_t t = when;
    std::tm tm{};
    gmtime_r(&t, &tm);
    ExpectSame(UtcCivilTime(when), tm, when);
  }
}

TEST(Clock, LocalCivilTimeFollowsTheZoneRulesOnBothSidesOfAChange) {
  for (const char* zone :
       {"Europe/Berlin", "America/New_York", "Asia/Kolkata", "UTC"}) {
    ZoneGuard guard(zone);
    SCOPED_TRACE(zone);
    for (int64_t when : kInstants) {
      std::time_t t = when;
      std::tm tm{};
      localtime_r(&t, &tm);
      CivilTime civil = LocalCivilTime(when);
      ExpectSame(civil, tm, when);
      EXPECT_EQ(civil.utc_offset_seconds, tm.tm_gmtoff);
    }
  }
}

TEST(Clock, AnInstalledClockIsUsedUntilItsGuardEnds) {
  FixedClock fixed(1765047909, 3600);
  {
    ScopedClock guard(fixed);
    CivilTime now = LocalNow();
    EXPECT_EQ(now.year, 2025);
    EXPECT_EQ(now.hour, 20);
    EXPECT_EQ(now.utc_offset_seconds, 3600);
  }
  EXPECT_NE(&TheClock(), &fixed);
}

}  // namespace
}  // namespace corvane::platform
