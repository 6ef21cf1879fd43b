// SPDX-License-Identifier: Apache-2.0
#include "web/RequestHead.h"

#include <algorithm>
#include <cstring>

namespace corvane::web {

HeadScan HeadScanner::Refuse(int status, std::string reason) {
  result_.state = HeadScan::kRefused;
  result_.status = status;
  result_.reason = std::move(reason);
  return result_;
}

HeadScan HeadScanner::LineTooLong() {
  if (lines_ == 0) {
    return Refuse(414, "The request line is longer than the console takes.");
  }
  return Refuse(431, "A header field is longer than the console takes (" +
                         std::to_string(limits_.max_line) + " bytes).");
}

HeadScan HeadScanner::Scan(std::string_view buffer) {
  if (result_.state != HeadScan::kIncomplete) return result_;
  for (; seen_ < buffer.size(); ++seen_) {
    // To the next line end within the bound, in one search.
    size_t end = std::min(buffer.size(), limits_.max_bytes);
    const void* found =
        seen_ < end ? std::memchr(buffer.data() + seen_, '\n', end - seen_)
                    : nullptr;
    if (!found) {
      seen_ = end;
      if (end < buffer.size()) {
        return Refuse(431,
                      "The request head is larger than the console takes (" +
                          std::to_string(limits_.max_bytes) + " bytes).");
      }
      break;
    }
    seen_ = static_cast<const char*>(found) - buffer.data();
    std::string_view line = buffer.substr(line_start_, seen_ - line_start_);
    line_start_ = seen_ + 1;
    if (line.size() > limits_.max_line + 1) return LineTooLong();
    if (line == "\r" && lines_ > 0) {
      result_.state = HeadScan::kComplete;
      result_.length = ++seen_;
      return result_;
    }
    if (++lines_ > limits_.max_fields + 1) {
      return Refuse(431, "The request has too many header fields (more than " +
                             std::to_string(limits_.max_fields) + ").");
    }
  }
  // The line still arriving.
  size_t open_line = seen_ - line_start_;
  if (open_line > limits_.max_line + 1) return LineTooLong();
  return result_;
}

void HeadScanner::Reset() {
  result_ = {};
  seen_ = line_start_ = lines_ = 0;
}

}  // namespace corvane::web
