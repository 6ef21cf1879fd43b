#include "mail/MailDate.h"

#include <cstdio>
#include <cstdlib>

namespace corvane::penrill {

std::string FormatMailDate(std::time_t when) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed",
                                          "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr",
                                            "May", "Jun", "Jul", "Aug",
                                            "Sep", "Oct", "Nov", "Dec"};
  std::tm local{};
  localtime_r(&when, &local);
  long offset_minutes = local.tm_gmtoff / 60;
  char sign = offset_minutes < 0 ? '-' : '+';
  offset_minutes = std::labs(offset_minutes);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[local.tm_wday], local.tm_mday, kMonths[local.tm_mon],
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                sign, offset_minutes / 60, offset_minutes % 60);
  return text;
}

}  // namespace corvane::penrill
