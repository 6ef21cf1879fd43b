// SPDX-License-Identifier: Apache-2.0
// The Base64 encoders behind Tallowin's exports: a portable path and
// vectorised paths, chosen at run time from the processor's features. Every
// path writes the same bytes; the tests hold them to that.
#pragma once

#include <cstddef>

namespace corvane::tallowin {

// Input bytes per line of the line-broken text (72 characters).
inline constexpr size_t kLineInput = 54;
inline constexpr size_t kLineOutput = 72;
// Characters of a full line with its line break (CR LF).
inline constexpr size_t kLineWithBreak = kLineOutput + 2;
// 32 lines with their CR LF: 1,728 bytes as 2,368 characters, a multiple
// of 64 on both sides, so that the vectorised paths can repeat one layout.
inline constexpr size_t kPeriodLines = 32;
inline constexpr size_t kPeriodInput = kPeriodLines * kLineInput;
inline constexpr size_t kPeriodOutput = kPeriodLines * kLineWithBreak;
// Outputs from this size go to memory with non-temporal stores; a smaller
// one is likely read again soon from the cache.
inline constexpr size_t kStreamFrom = size_t{4} << 20;

// One way of encoding. Neither function fails or allocates.
struct EncoderPath {
  const char* name;
  // Writes the Base64 text of `count` bytes with CR LF after every 72
  // characters except at the end.
  void (*lines)(const unsigned char* input, size_t count, char* output);
  // Writes the Base64 text on one line; returns the end of what it wrote.
  char* (*unbroken)(const unsigned char* input, size_t count, char* output);
  // The same text as `lines`, written with non-temporal stores; nullptr
  // when the path has no such way of its own.
  void (*streamed)(const unsigned char* input, size_t count,
                   char* output) = nullptr;
  // The same text as `unbroken`, written with non-temporal stores; nullptr
  // when the path has no such way.
  char* (*unbroken_streamed)(const unsigned char* input, size_t count,
                             char* output) = nullptr;
};

const EncoderPath& PortablePath();
// The AVX2 and AVX-512 (VBMI) paths; nullptr when the processor (or the
// build's target) lacks them.
const EncoderPath* Avx2Path();
const EncoderPath* Avx512Path();
// The fastest path this processor runs, chosen once.
const EncoderPath& SelectedPath();

// The line-broken text of `count` bytes by `path`, as `path.lines` writes
// it. A large text goes to `output` with non-temporal stores, so that its
// memory is written without being read first: by `path.streamed`, or else
// a block of lines at a time made in a buffer that stays in the cache.
void EncodeLinesStreamed(const EncoderPath& path, const unsigned char* input,
                         size_t count, char* output);

// The text of `count` bytes on one line by `path`, as `path.unbroken`
// writes it; a large text by `path.unbroken_streamed` where the path has
// it. Returns the end of what it wrote.
char* EncodeUnbrokenStreamed(const EncoderPath& path,
                             const unsigned char* input, size_t count,
                             char* output);

// Portable: the text of `count` bytes on one line, whole groups first, then
// the padded final group; returns the end of what it wrote.
char* EncodeTail(const unsigned char* input, size_t count, char* output);

// The line layout every path shares: `full_line` encodes exactly 54 bytes
// into 72 characters; the last line, full or not, goes through EncodeTail
// so that the text never ends with a line break.
template <class FullLine>
inline void EncodeLinesWith(FullLine full_line, const unsigned char* input,
                            size_t count, char* output) {
  while (count > kLineInput) {
    full_line(input, output);
    output += kLineOutput;
    output[0] = '\r';
    output[1] = '\n';
    output += 2;
    input += kLineInput;
    count -= kLineInput;
  }
  EncodeTail(input, count, output);
}

}  // namespace corvane::tallowin
