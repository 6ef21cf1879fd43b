// SPDX-License-Identifier: Apache-2.0
// The mail component's binding to the Tallowin Base64 library: loaded by
// file name at the first Base64 body or attachment of the process, first
// from the folder of the mail component's own library, then through the
// loader's search path.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base64/TallowinBinding.h"
#include "mail/MessageSink.h"

namespace corvane::penrill {

// The process's binding, loading the library beside the mail component.
tallowin::Binding& Tallowin();

// Appends Tallowin's line-broken Base64 text of `bytes` to `out`, written
// straight into `out`. Throws Failure: 53 "File not found: libtallowin.so"
// or 453 when the library or its export is missing, 6 for more than
// 2147483647 bytes.
void AppendBase64(std::string_view bytes, std::string& out);

// Throws Failure 6 (Overflow) when a run of `count` bytes is more than
// Tallowin encodes in one call (2147483647), as AppendBase64 does.
void CheckBase64Count(uint64_t count);

// Encodes a run of bytes handed over a piece at a time and writes the text
// to a sink piece by piece: the same text AppendBase64 makes of the whole
// run, in one reused buffer instead of a string the size of the run.
class Base64Writer {
 public:
  // Input bytes per piece: whole lines of 54 bytes, 216 KiB.
  static constexpr size_t kPieceSize = size_t{54} * 4096;

  // Throws Failure 53 or 453 when Tallowin cannot be loaded.
  explicit Base64Writer(MessageSink& sink);
  // Encodes the next piece of the run: kPieceSize bytes, fewer only for
  // the last. Throws what the sink throws.
  void Write(std::string_view piece);

 private:
  MessageSink& sink_;
  tallowin::Base64EncodeFunction encode_;
  std::string text_;
  bool started_ = false;
};

// Writes AppendBase64's text of `bytes` to `sink` in pieces; throws as
// AppendBase64 does and what the sink throws.
void WriteBase64(std::string_view bytes, MessageSink& sink);

}  // namespace corvane::penrill
