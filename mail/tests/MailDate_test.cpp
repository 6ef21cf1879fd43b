// SPDX-License-Identifier: Apache-2.0
#include "mail/MailDate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace corvane::penrill {
namespace {

// Sets TZ for the test's duration and restores it afterwards.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (previous_) {
      setenv("TZ", previous_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> previous_;
};

constexpr std::time_t kSundayEvening = 1796580309;  // 2026-12-06 18:05:09Z
constexpr std::time_t kLastSecondOfJanuary = 1801439999;  // 2027-01-31Z

TEST(FormatMailDate, WritesEnglishNamesA24HourClockAndTheZone) {
  {
    ZoneGuard zone("CET-1");
    EXPECT_EQ(FormatMailDate(kSundayEvening), "Sun, 6 Dec 2026 19:05:09 +0100");
  }
  {
    ZoneGuard zone("UTC0");
    EXPECT_EQ(FormatMailDate(kSundayEvening), "Sun, 6 Dec 2026 18:05:09 +0000");
    EXPECT_EQ(FormatMailDate(kLastSecondOfJanuary),
              "Sun, 31 Jan 2027 23:59:59 +0000");
  }
}

TEST(FormatMailDate, ZonesWestOfGreenwichAndHalfHours) {
  {
    ZoneGuard zone("XST+3:30");
    EXPECT_EQ(FormatMailDate(kSundayEvening), "Sun, 6 Dec 2026 14:35:09 -0330");
  }
  {
    ZoneGuard zone("IST-5:30");
    // Crosses midnight into Monday.
    EXPECT_EQ(FormatMailDate(kLastSecondOfJanuary),
              "Mon, 1 Feb 2027 05:29:59 +0530");
  }
}

}  // namespace
}  // namespace corvane::penrill
