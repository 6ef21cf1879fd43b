// SPDX-License-Identifier: Apache-2.0
#include "mail/MailDate.h"

#include <cstdio>
#include <cstdlib>

#include "platform/Clock.h"

namespace corvane::penrill {

std::string FormatMailDate(std::time_t when) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed",
                                          "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr",
                                            "May", "Jun", "Jul", "Aug",
                                            "Sep", "Oct", "Nov", "Dec"};
  platform::CivilTime local = platform::LocalCivilTime(when);
  long offset_minutes = local.utc_offset_seconds / 60;
  char sign = offset_minutes < 0 ? '-' : '+';
  offset_minutes = std::labs(offset_minutes);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[local.weekday], local.day, kMonths[local.month - 1],
                local.year, local.hour, local.minute, local.second, sign,
                offset_minutes / 60, offset_minutes % 60);
  return text;
}

}  // namespace corvane::penrill
