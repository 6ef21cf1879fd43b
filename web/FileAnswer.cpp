// SPDX-License-Identifier: Apache-2.0
#include "web/FileAnswer.h"

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "platform/Clock.h"

namespace corvane::web {
namespace {

// The 100-ns count since 1601 of 1970-01-01.
constexpr int64_t kIntervalsTo1970 = 116444736000000000LL;
constexpr int64_t kIntervalsPerSecond = 10000000LL;
// What one call of the provider reads and hands to the connection.
constexpr size_t kPiece = 64 * 1024;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

// Whether an If-None-Match list ("*", or tags separated by commas, weak
// ones compared weakly) names `etag`.
bool ListNames(std::string_view list, std::string_view etag) {
  while (!list.empty()) {
    size_t comma = list.find(',');
    std::string_view tag = Trimmed(list.substr(0, comma));
    if (tag.starts_with("W/")) tag.remove_prefix(2);
    if (tag == "*" || tag == etag) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

// Whether the client already holds this version (RFC 9110 13.2.2: an
// If-None-Match, when sent, decides alone).
bool ClientHasIt(const httplib::Request& request, const std::string& etag,
                 const std::string& modified) {
  if (request.has_header("If-None-Match")) {
    return ListNames(request.get_header_value("If-None-Match"), etag);
  }
  return request.has_header("If-Modified-Since") &&
         request.get_header_value("If-Modified-Since") == modified;
}

// The request's ranges made explicit against `size` ("-500" and "9500-"
// become first and last bytes, a last byte beyond the end is the end),
// without those that start at or past the end; false when none is left.
// The library would answer a range past the end with a wrong length.
bool SatisfiableRanges(httplib::Ranges& ranges, uint64_t size) {
  httplib::Ranges kept;
  const auto end = static_cast<ssize_t>(size);
  for (auto [first, last] : ranges) {
    if (first < 0) {  // the last `last` bytes
      if (last <= 0 || end == 0) continue;
      first = std::max<ssize_t>(0, end - last);
      last = end - 1;
    } else {
      if (first >= end) continue;
      if (last < 0 || last >= end) last = end - 1;
    }
    kept.emplace_back(first, last);
  }
  ranges = std::move(kept);
  return !ranges.empty();
}

}  // namespace

std::string EntityTag(const FileBody& file) {
  char tag[48];
  std::snprintf(tag, sizeof tag, "\"%llx-%llx\"",
                static_cast<unsigned long long>(file.size),
                static_cast<unsigned long long>(file.last_write_time));
  return tag;
}

std::string HttpDate(int64_t unix_seconds) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed",
                                          "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr",
                                            "May", "Jun", "Jul", "Aug",
                                            "Sep", "Oct", "Nov", "Dec"};
  platform::CivilTime t = platform::UtcCivilTime(unix_seconds);
  char date[40];
  std::snprintf(date, sizeof date, "%s, %02d %s %04d %02d:%02d:%02d GMT",
                kDays[t.weekday], t.day, kMonths[t.month - 1], t.year, t.hour,
                t.minute, t.second);
  return date;
}

void SendFile(const httplib::Request& request, httplib::Response& response,
              const FileBody& file, const std::string& content_type) {
  std::string etag = EntityTag(file);
  std::string modified =
      HttpDate((file.last_write_time - kIntervalsTo1970) / kIntervalsPerSecond);
  response.set_header("ETag", etag);
  response.set_header("Last-Modified", modified);
  response.set_header("Accept-Ranges", "bytes");
  if (ClientHasIt(request, etag, modified)) {
    response.status = 304;
    return;
  }
  if (!request.ranges.empty() && request.has_header("If-Range")) {
    std::string wanted = request.get_header_value("If-Range");
    if (wanted != etag && wanted != modified) {
      // The part the client holds is of another version: the library
      // applies the request's ranges (it hands the handler a const request
      // it owns), so they go and the whole file is sent.
      const_cast<httplib::Request&>(request).ranges.clear();
    }
  }
  auto& ranges = const_cast<httplib::Request&>(request).ranges;
  if (!ranges.empty() && !SatisfiableRanges(ranges, file.size)) {
    response.status = 416;
    response.set_header("Content-Range",
                        "bytes */" + std::to_string(file.size));
    response.set_content("No part of the file lies in the range asked for.\n",
                         "text/plain; charset=utf-8");
    return;
  }
  // The library cuts the ranges from the provider; the status is ours.
  response.status = ranges.empty() ? 200 : 206;
  auto reader = file.reader;
  auto position = std::make_shared<uint64_t>(0);
  response.set_content_provider(
      file.size, content_type,
      [reader, position](size_t offset, size_t length,
                         httplib::DataSink& sink) {
        try {
          if (offset != *position) reader->Seek(offset);
          char piece[kPiece];
          size_t got = reader->Read(piece, std::min(length, kPiece));
          // A file that shrank since it was measured ends the answer short.
          if (got == 0) return false;
          *position = offset + got;
          return sink.write(piece, got);
        } catch (...) {
          return false;  // the connection closes: the answer is visibly cut
        }
      });
}

}  // namespace corvane::web
