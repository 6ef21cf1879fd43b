// SPDX-License-Identifier: Apache-2.0
#include "mail/DataWriter.h"

#include <algorithm>
#include <cstring>

namespace corvane::penrill {

DataWriter::DataWriter(Flush flush) : flush_(std::move(flush)) {
  buffer_.reserve(kBufferSize);
}

void DataWriter::Put(std::string_view bytes) {
  if (buffer_.size() + bytes.size() > kBufferSize) {
    Finish();
    if (bytes.size() >= kBufferSize) {
      flush_(bytes);  // large enough to go as it is, without a copy
      return;
    }
  }
  buffer_ += bytes;
}

void DataWriter::Finish(std::string_view end) {
  buffer_ += end;
  if (buffer_.empty()) return;
  flush_(buffer_);
  buffer_.clear();
}

void DataWriter::Append(std::string_view text) {
  if (text.empty()) return;
  const char* data = text.data();
  const size_t size = text.size();
  auto find = [&](char c, size_t from) {
    const void* hit = std::memchr(data + from, c, size - from);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - data)
               : size;
  };
  // The next CR and the next LF at or after `at` (size when none), each
  // searched again only once passed, so that the text is read once.
  size_t next_cr = find('\r', 0);
  size_t next_lf = find('\n', 0);
  size_t at = 0;
  while (at < size) {
    if (after_cr_) {
      after_cr_ = false;
      if (data[at] == '\n') {
        ++at;
        continue;
      }
    }
    if (line_start_ && data[at] == '.') Put(".");
    line_start_ = false;
    if (next_cr < at) next_cr = find('\r', at);
    if (next_lf < at) next_lf = find('\n', at);
    size_t end = std::min(next_cr, next_lf);
    Put(text.substr(at, end - at));
    if (end == size) break;
    Put("\r\n");
    line_start_ = true;
    after_cr_ = data[end] == '\r';
    at = end + 1;
  }
}

void DataWriter::AppendBase64Lines(std::string_view text) {
  if (text.empty()) return;
  after_cr_ = false;
  Put(text);
  line_start_ = text.back() == '\n';
}

std::string DataText(std::string_view text) {
  std::string wire;
  wire.reserve(text.size() + text.size() / 64 + 2);
  DataWriter writer([&](std::string_view piece) { wire += piece; });
  writer.Append(text);
  writer.Finish();
  return wire;
}

}  // namespace corvane::penrill
