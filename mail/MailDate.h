// SPDX-License-Identifier: Apache-2.0
// The Date header's value in the form the mail standard requires.
#pragma once

#include <ctime>
#include <string>

namespace corvane::penrill {

// `when` in local time (the platform clock's zone rules, the process's TZ) as
// "Sun, 6 Dec 2026 19:05:09 +0100": English names, 24-hour clock, numeric zone.
// Never fails.
std::string FormatMailDate(std::time_t when);

}  // namespace corvane::penrill
