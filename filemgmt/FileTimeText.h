// SPDX-License-Identifier: Apache-2.0
// File times as the page reads them: a 100-ns count since 1601-01-01 UTC
// turned into local time (the process's TZ rules at that instant) and
// written "mm/dd/yy hh:mm:ss AM" as English (United States) settings do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvane::vantry {

// The text of a file time; nullopt when the time or its local value is
// before 1601 (the platform refuses it). Throws Failure 6 "Overflow" for a
// local time after the year 9999.
std::optional<std::string> LocalFileTimeText(int64_t file_time);

}  // namespace corvane::vantry
