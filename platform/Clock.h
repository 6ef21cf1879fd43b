// SPDX-License-Identifier: Apache-2.0
// The platform clock: the current UTC time and the local time zone's offset
// at any instant, behind an interface that a test replaces to fix the time.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/Export.h"

namespace corvane::platform {

// A civil date and time with the offset from UTC it was taken at.
struct CORVANE_API CivilTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 4;  // 0 = Sunday
  int32_t utc_offset_seconds = 0;
};

class CORVANE_API Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since 1970-01-01 UTC. Never fails.
  virtual int64_t NowUnixSeconds() = 0;
  // East-positive offset of the process's time zone (TZ) from UTC at the
  // instant; 0 when the zone rules cannot tell. Never fails.
  virtual int32_t UtcOffsetSeconds(int64_t unix_seconds) = 0;
};

// The system clock and the C library's time-zone rules.
class CORVANE_API SystemClock : public Clock {
 public:
  int64_t NowUnixSeconds() override;
  int32_t UtcOffsetSeconds(int64_t unix_seconds) override;
};

// A clock that stands still at a given instant in a zone of fixed offset.
class CORVANE_API FixedClock : public Clock {
 public:
  FixedClock(int64_t unix_seconds, int32_t utc_offset_seconds)
      : now_(unix_seconds), offset_(utc_offset_seconds) {}
  int64_t NowUnixSeconds() override { return now_; }
  int32_t UtcOffsetSeconds(int64_t) override { return offset_; }

 private:
  int64_t now_;
  int32_t offset_;
};

// A time limit over several waits, on the monotonic clock; 0 ms means none.
class CORVANE_API Deadline {
 public:
  explicit Deadline(int timeout_ms)
      : limited_(timeout_ms > 0),
        end_(std::chrono::steady_clock::now() +
             std::chrono::milliseconds(timeout_ms)) {}

  // Milliseconds left for the next wait (0: no limit); -1 when expired.
  int Left() const {
    if (!limited_) return 0;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    end_ - std::chrono::steady_clock::now())
                    .count();
    return left > 0 ? static_cast<int>(left) : -1;
  }

 private:
  bool limited_;
  std::chrono::steady_clock::time_point end_;
};

// The clock in use (the system clock unless a test installed another).
CORVANE_API Clock& TheClock();

// Installs `replacement` until the guard ends.
class CORVANE_API ScopedClock {
 public:
  explicit ScopedClock(Clock& replacement);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Clock* previous_;
};

// The UTC civil time of an instant (any year the 64-bit count reaches,
// before 1970 included). Never fails.
CORVANE_API CivilTime UtcCivilTime(int64_t unix_seconds);

// The local civil time of an instant through TheClock()'s zone rules.
CORVANE_API CivilTime LocalCivilTime(int64_t unix_seconds);

// The local civil time now.
inline CivilTime LocalNow() {
  return LocalCivilTime(TheClock().NowUnixSeconds());
}

}  // namespace corvane::platform
