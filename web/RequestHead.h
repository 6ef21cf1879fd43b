// SPDX-License-Identifier: Apache-2.0
// The bounds of a request head (the request line and the header fields, up
// to the blank line), checked while the head arrives, so that a client
// cannot make the console hold an unbounded head in memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane::web {

struct HeadLimits {
  // The longest line, the request line included, CR LF excluded.
  size_t max_line = 8192;
  // Header fields after the request line.
  size_t max_fields = 100;
  // The whole head with its line ends and the blank line.
  size_t max_bytes = 64 * 1024;
};

struct HeadScan {
  enum State { kIncomplete, kComplete, kRefused } state = kIncomplete;
  // kComplete: the length of the head, the blank line included.
  size_t length = 0;
  // kRefused: 414 (the request line is too long) or 431, and why.
  int status = 0;
  std::string reason;
};

// Follows one head as its bytes arrive; the bytes of earlier calls must
// stay at the start of the buffer. A head ends with an empty line ended by
// CR LF; other lines, empty or not, count against the bounds.
class HeadScanner {
 public:
  explicit HeadScanner(HeadLimits limits = {}) : limits_(limits) {}

  // Looks at the bytes of `buffer` not seen before. Once the answer is
  // complete or refused it stays so until Reset.
  HeadScan Scan(std::string_view buffer);
  // For the next head, which starts at the beginning of the buffer.
  void Reset();

 private:
  HeadScan Refuse(int status, std::string reason);
  HeadScan LineTooLong();

  HeadLimits limits_;
  HeadScan result_;
  size_t seen_ = 0;
  size_t line_start_ = 0;
  size_t lines_ = 0;
};

}  // namespace corvane::web
