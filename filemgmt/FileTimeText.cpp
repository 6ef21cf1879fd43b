// SPDX-License-Identifier: Apache-2.0
#include "filemgmt/FileTimeText.h"

#include <cstdio>

#include "platform/Clock.h"
#include "platform/Failure.h"

namespace corvane::vantry {
namespace {

constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kSecondsFrom1601To1970 = 11'644'473'600;

}  // namespace

std::optional<std::string> LocalFileTimeText(int64_t file_time) {
  if (file_time < 0) return std::nullopt;
  // Seconds since 1970 of the instant, then of its local value, rounded to
  // the nearest second as the date serial is formatted.
  int64_t unix_seconds = file_time / kTicksPerSecond - kSecondsFrom1601To1970;
  int64_t offset = platform::TheClock().UtcOffsetSeconds(unix_seconds);
  int64_t local_ticks = file_time + offset * kTicksPerSecond;
  if (local_ticks < 0) return std::nullopt;
  int64_t local_seconds = (local_ticks + kTicksPerSecond / 2) / kTicksPerSecond;
  platform::CivilTime civil =
      platform::UtcCivilTime(local_seconds - kSecondsFrom1601To1970);
  if (civil.year > 9999) throw StandardFailure(kOverflow);
  int hour12 = civil.hour % 12 == 0 ? 12 : civil.hour % 12;
  char text[32];
  std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d %s",
                civil.month, civil.day, civil.year % 100, hour12, civil.minute,
                civil.second, civil.hour < 12 ? "AM" : "PM");
  return std::string(text);
}

}  // namespace corvane::vantry
