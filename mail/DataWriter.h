// SPDX-License-Identifier: Apache-2.0
// The message text as the DATA command sends it, written a piece at a time
// into one reused buffer that is handed on whenever it fills: every line
// break as CR LF and a "." doubled at the start of a line.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "mail/MessageSink.h"

namespace corvane::penrill {

class DataWriter final : public MessageSink {
 public:
  // Bytes handed on at a time.
  static constexpr size_t kBufferSize = size_t{256} * 1024;

  using Flush = std::function<void(std::string_view)>;
  // `flush` takes each full buffer, and Base64 runs of at least a buffer's
  // size as they come; it throws to stop the writing.
  explicit DataWriter(Flush flush);

  // Writes a line break that is not CR LF (a bare CR, a bare LF) as CR LF,
  // and an extra "." before every line that begins with "." (the mail
  // transfer's transparency rule), across pieces as within one. Throws
  // what the flush throws.
  void Append(std::string_view text) override;
  // Base64 lines need neither rule: they go as they are.
  void AppendBase64Lines(std::string_view text) override;
  // Hands on what is buffered, followed by `end` as it stands (the end of
  // data line, which no rule may touch). Throws what the flush throws.
  void Finish(std::string_view end = {});

 private:
  void Put(std::string_view bytes);

  Flush flush_;
  std::string buffer_;
  bool line_start_ = true;  // the next byte begins a line
  bool after_cr_ = false;   // a CR ended the last piece: a LF next is its own
};

// The message text as DATA sends it: every line break written as CR LF (a
// bare CR or LF could let a lenient server end the data early and read the
// rest as commands) and an extra "." before every line that begins with "."
// (the mail transfer's transparency rule). Never fails.
std::string DataText(std::string_view text);

}  // namespace corvane::penrill
