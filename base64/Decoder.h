// SPDX-License-Identifier: Apache-2.0
// The Base64 decoders behind Tallowin's Base64Decode: a reference decoder
// that reads one character at a time and names the first fault exactly, a
// portable path and vectorised paths, chosen at run time. Every path gives
// the same bytes and the same failure; the tests hold them to that.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base64/Encoder.h"

namespace corvane::tallowin {

// What a decoder made of a text: the byte count, or a failure (one of the
// negative BASE64_DECODE_* codes of Tallowin.h) and the offset of the first
// character at fault (the text's length when the text ends too early).
struct DecodeResult {
  int64_t count = 0;
  size_t failure_at = 0;
  friend bool operator==(const DecodeResult&, const DecodeResult&) = default;
};

// One way of decoding. Writes exactly `count` bytes on success and never
// more than (length / 4) * 3 bytes in any case; allocates nothing.
struct DecoderPath {
  const char* name;
  DecodeResult (*decode)(const char* text, size_t length,
                         unsigned char* output);
  // The same result as `decode`, the bytes of the long runs written with
  // non-temporal stores to whole cache lines; nullptr when the path has no
  // such way of its own.
  DecodeResult (*streamed)(const char* text, size_t length,
                           unsigned char* output) = nullptr;
};

// The accepted text: characters of the standard alphabet in groups of four,
// the last group padded with "=" or "==" (with zero bits under the padding),
// either on one line or in lines of exactly 72 characters joined by CR LF,
// the last line holding the rest and no line break after it.
DecodeResult DecodeReference(const char* text, size_t length,
                             unsigned char* output);

const DecoderPath& PortableDecoder();
// The AVX2 and AVX-512 (VBMI) paths; nullptr when the processor lacks them.
const DecoderPath* Avx2Decoder();
const DecoderPath* Avx512Decoder();
// The fastest path this processor runs, chosen once.
const DecoderPath& SelectedDecoder();

// `text` decoded by `path`, as `path.decode` gives it; a large output is
// written by `path.streamed` where the path has it, so that the memory of
// `output` is written without being read first.
DecodeResult DecodeStreamed(const DecoderPath& path, const char* text,
                            size_t length, unsigned char* output);

// Decodes `chars` characters (a multiple of 4, no padding, no line breaks)
// with the portable table; false when one of them is not in the alphabet.
bool DecodeRunPortable(const char* text, size_t chars, unsigned char* output,
                       bool spill = false);

// The text layout every fast path shares. `run` decodes whole groups of
// alphabet characters and returns false on anything else; when its last
// argument is true it may also write the 16 bytes after the run's. The
// full lines go
// through it, then the rest but its last group; the last group is decoded
// here with its padding. Anything out of the ordinary (a failure of `run`, a
// misplaced break, bad padding) is handed to DecodeReference, which gives
// the exact failure, so that every path fails alike.
template <class Run>
inline DecodeResult DecodeWith(Run run, const char* text, size_t length,
                               unsigned char* output) {
  if (length == 0) return {};
  const char* start = text;
  unsigned char* const output_start = output;
  size_t rest = length;
  if (length > kLineWithBreak && text[kLineOutput] == '\r') {
    // Each line but the last: 72 characters, CR LF, and more text after.
    while (rest > kLineWithBreak) {
      // Whether 16 bytes after this line's are written later in any case
      // (the rest holds 24 characters or more), so that the line may spill.
      bool spill = rest >= kLineWithBreak + 24;
      if (text[kLineOutput] != '\r' || text[kLineOutput + 1] != '\n' ||
          !run(text, kLineOutput, output, spill)) {
        return DecodeReference(start, length, output_start);
      }
      text += kLineWithBreak;
      output += kLineInput;
      rest -= kLineWithBreak;
    }
    if (rest > kLineOutput) return DecodeReference(start, length, output_start);
  }
  if (rest % 4 != 0 || !run(text, rest - 4, output, false)) {
    return DecodeReference(start, length, output_start);
  }
  output += (rest - 4) / 4 * 3;
  text += rest - 4;
  // The last group: four characters, or two or three and their padding,
  // with zero bits under the padding.
  static constexpr auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  int a = value(text[0]), b = value(text[1]);
  int c = text[2] == '=' ? -2 : value(text[2]);
  int d = text[3] == '=' ? -2 : value(text[3]);
  if (a < 0 || b < 0 || c == -1 || d == -1 || (c == -2 && d != -2)) {
    return DecodeReference(start, length, output_start);
  }
  output[0] = static_cast<unsigned char>(a << 2 | b >> 4);
  if (c == -2) {
    if ((b & 15) != 0) return DecodeReference(start, length, output_start);
    return {static_cast<int64_t>(output + 1 - output_start), 0};
  }
  output[1] = static_cast<unsigned char>((b & 15) << 4 | c >> 2);
  if (d == -2) {
    if ((c & 3) != 0) return DecodeReference(start, length, output_start);
    return {static_cast<int64_t>(output + 2 - output_start), 0};
  }
  output[2] = static_cast<unsigned char>((c & 3) << 6 | d);
  return {static_cast<int64_t>(output + 3 - output_start), 0};
}

// The rest of a text after its first `done` characters, decoded by whole
// blocks into `written` bytes: decoded by DecodeWith when it keeps the
// whole text's form (`lines`: the last line or lines again; else one
// line), since taken alone a rest of the other form would pass. Anything
// else, and any failure, is named by the reference on the whole text.
template <class Run>
inline DecodeResult DecodeRest(Run run, bool lines, const char* text,
                               size_t length, size_t done, size_t written,
                               unsigned char* output) {
  const size_t rest = length - done;
  const bool form =
      lines ? rest <= kLineOutput || text[done + kLineOutput] == '\r'
            : rest <= kLineWithBreak || text[done + kLineOutput] != '\r';
  DecodeResult result{-1, 0};
  if (form) result = DecodeWith(run, text + done, rest, output + written);
  if (result.count < 0) return DecodeReference(text, length, output);
  result.count += static_cast<int64_t>(written);
  return result;
}

}  // namespace corvane::tallowin
