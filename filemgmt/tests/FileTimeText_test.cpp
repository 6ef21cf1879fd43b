// SPDX-License-Identifier: Apache-2.0
#include "filemgmt/FileTimeText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/Failure.h"

namespace corvane::vantry {
namespace {

// Sets the process's time zone for one test.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ZoneGuard() {
    old_.empty() ? ::unsetenv("TZ") : ::setenv("TZ", old_.c_str(), 1);
    ::tzset();
  }

 private:
  std::string old_;
};

// The file time of a UTC instant given in seconds since 1970.
int64_t FileTime(int64_t unix_seconds) {
  return (unix_seconds + 11'644'473'600LL) * 10'000'000LL;
}

TEST(FileTimeTextTest, LocalTimeInUnitedStatesFormat) {
  ZoneGuard zone("EST5EDT,M3.2.0,M11.1.0");
  struct Case {
    int64_t unix_seconds;
    const char* text;
  } cases[] = {
      // 2000-02-29 05:00 UTC is midnight in New York (EST).
      {951800400, "02/29/00 12:00:00 AM"},
      {915732096, "01/07/99 01:01:36 PM"},     // 18:01:36 UTC
      {915687000, "01/07/99 12:30:00 AM"},     // half past midnight
      {-86400 * 365, "12/31/68 07:00:00 PM"},  // before 1970: EST
      // Both sides of the spring change on 2024-03-10 at 07:00 UTC.
      {1710053999, "03/10/24 01:59:59 AM"},
      {1710054000, "03/10/24 03:00:00 AM"},
      // And of the autumn one on 2024-11-03 at 06:00 UTC.
      {1730613599, "11/03/24 01:59:59 AM"},
      {1730613600, "11/03/24 01:00:00 AM"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LocalFileTimeText(FileTime(c.unix_seconds)), c.text)
        << c.unix_seconds;
  }
}

TEST(FileTimeTextTest, RoundsToTheNearestSecond) {
  ZoneGuard zone("UTC0");
  EXPECT_EQ(LocalFileTimeText(FileTime(0) + 4'999'999), "01/01/70 12:00:00 AM");
  EXPECT_EQ(LocalFileTimeText(FileTime(0) + 5'000'000), "01/01/70 12:00:01 AM");
  EXPECT_EQ(LocalFileTimeText(FileTime(43200)), "01/01/70 12:00:00 PM");
}

TEST(FileTimeTextTest, TimesTheConversionRefusesOrCannotFormat) {
  ZoneGuard zone("EST5");
  EXPECT_EQ(LocalFileTimeText(-1), std::nullopt);
  // The first hours of 1601 UTC are still 1600 in New York.
  EXPECT_EQ(LocalFileTimeText(0), std::nullopt);
  EXPECT_THROW(LocalFileTimeText(INT64_MAX), Failure);
}

}  // namespace
}  // namespace corvane::vantry
