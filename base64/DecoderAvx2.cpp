// SPDX-License-Identifier: Apache-2.0
// The AVX2 decoding path: 32 characters become 24 bytes per step. Each
// character is checked against the alphabet by two nibble-indexed table
// shuffles whose bit masks meet only for bytes outside it, mapped to its
// value by adding an offset chosen by its high nibble, and the 6-bit values
// are packed with two multiply-adds and a shuffle.
#include "base64/Decoder.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <utility>

#define TALLOWIN_AVX2 __attribute__((target("avx2")))

namespace corvane::tallowin {
namespace {

// The values of 32 characters in `*values`; false when one of them is
// outside the alphabet.
TALLOWIN_AVX2 inline bool Values(__m256i in, __m256i* values) {
  // Bit masks by low nibble and by high nibble: a byte is in the alphabet
  // exactly when the masks of its two nibbles share no bit.
  const __m256i by_low = _mm256_setr_epi8(
      0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
      0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
      0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m256i by_high = _mm256_setr_epi8(
      0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
      0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,
      0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  // The offset from character to value by high nibble; '/' (the one
  // character whose range it shares with '+') takes index 1.
  const __m256i offsets = _mm256_setr_epi8(
      0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4,
      -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i slash = _mm256_set1_epi8('/');
  const __m256i high = _mm256_and_si256(_mm256_srli_epi32(in, 4), nibble);
  const __m256i low = _mm256_and_si256(in, nibble);
  const __m256i low_mask = _mm256_shuffle_epi8(by_low, low);
  const __m256i high_mask = _mm256_shuffle_epi8(by_high, high);
  if (!_mm256_testz_si256(low_mask, high_mask)) return false;
  const __m256i is_slash = _mm256_cmpeq_epi8(in, slash);
  const __m256i offset =
      _mm256_shuffle_epi8(offsets, _mm256_add_epi8(is_slash, high));
  *values = _mm256_add_epi8(in, offset);
  return true;
}

// The 24 bytes of 32 values, in the low 24 bytes.
TALLOWIN_AVX2 inline __m256i Pack(__m256i values) {
  // Pairs of 6-bit values into 12 bits, pairs of those into 24 bits.
  const __m256i pairs =
      _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
  const __m256i words = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
  const __m256i lanes = _mm256_shuffle_epi8(
      words,
      _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1,
                       2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
  return _mm256_permutevar8x32_epi32(lanes,
                                     _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
}

TALLOWIN_AVX2 inline __m256i Load(const char* text) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text));
}

// 32 characters into 24 bytes, storing 32 (the last 8 are garbage that
// the caller overwrites).
TALLOWIN_AVX2 inline bool DecodeWide(const char* text, unsigned char* output) {
  __m256i values;
  if (!Values(Load(text), &values)) return false;
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(output), Pack(values));
  return true;
}

// 32 characters into exactly 24 bytes.
TALLOWIN_AVX2 inline bool DecodeExact(const char* text, unsigned char* output) {
  __m256i values;
  if (!Values(Load(text), &values)) return false;
  const __m256i bytes = Pack(values);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(output),
                   _mm256_castsi256_si128(bytes));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(output + 16),
                   _mm256_extracti128_si256(bytes, 1));
  return true;
}

TALLOWIN_AVX2 bool DecodeRunAvx2(const char* text, size_t chars,
                                 unsigned char* output, bool spill) {
  if (chars == kLineOutput && spill) {
    return DecodeWide(text, output) && DecodeWide(text + 32, output + 24) &&
           DecodeWide(text + 40, output + 30);
  }
  if (chars == kLineOutput) {
    // A full line: characters 0-31, 32-63 and 40-71, the last step
    // writing two groups again.
    return DecodeWide(text, output) && DecodeExact(text + 32, output + 24) &&
           DecodeExact(text + 40, output + 30);
  }
  // Wide stores while 8 more bytes of this run follow each.
  for (; chars >= 48; chars -= 32, text += 32, output += 24) {
    if (!DecodeWide(text, output)) return false;
  }
  if (chars >= 32) {
    if (!DecodeExact(text, output)) return false;
    chars -= 32;
    text += 32;
    output += 24;
  }
  return DecodeRunPortable(text, chars, output);
}

// Four lines with their CR LF (296 characters, 216 bytes) are nine steps
// of 32 characters, where a line at a time takes three. Three of the
// steps straddle a line's end: their characters after it are taken from a
// second load two places on, past the CR LF.
constexpr size_t kRunLines = 4;
constexpr size_t kRunText = kRunLines * kLineWithBreak;
constexpr size_t kRunBytes = kRunLines * kLineInput;

// Step `kStep` of a run: the run's characters 32 kStep to 32 kStep + 31,
// into 24 bytes and 8 more that the next step writes over.
template <size_t kStep>
TALLOWIN_AVX2 inline bool DecodeRunStep(const char* text,
                                        unsigned char* output) {
  constexpr size_t kFirst = 32 * kStep;
  constexpr size_t kColumn = kFirst % kLineOutput;
  constexpr size_t kAt = kFirst / kLineOutput * kLineWithBreak + kColumn;
  constexpr size_t kBefore = std::min<size_t>(kLineOutput - kColumn, 32);
  __m256i in = Load(text + kAt);
  if constexpr (kBefore < 32) {
    static_assert(kBefore % 4 == 0);
    constexpr int kAfter = 0xFF & (0xFF << (kBefore / 4));
    in = _mm256_blend_epi32(in, Load(text + kAt + 2), kAfter);
  }
  __m256i values;
  if (!Values(in, &values)) return false;
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(output + 24 * kStep),
                      Pack(values));
  return true;
}

// Four lines, each followed by CR LF; false on any other character.
// Writes 8 bytes past the run's.
template <size_t... kSteps>
TALLOWIN_AVX2 inline bool DecodeRun(const char* text, unsigned char* output,
                                    std::index_sequence<kSteps...>) {
  for (size_t line = 1; line <= kRunLines; ++line) {
    uint16_t pair = 0;
    std::memcpy(&pair, text + line * kLineWithBreak - 2, 2);
    if (pair != ('\r' | '\n' << 8)) return false;
  }
  return (DecodeRunStep<kSteps>(text, output) && ...);
}

TALLOWIN_AVX2 DecodeResult DecodeAvx2(const char* text, size_t length,
                                      unsigned char* output) {
  // Runs of four lines while a full line follows them (so that what a run
  // writes past its bytes is written over); the rest line by line. Any
  // fault is named by the reference decoder on the whole text.
  size_t done = 0;
  const bool lines = length > kLineWithBreak && text[kLineOutput] == '\r';
  if (lines) {
    for (; length - done > kRunText + kLineWithBreak; done += kRunText) {
      if (!DecodeRun(text + done, output + done / kRunText * kRunBytes,
                     std::make_index_sequence<kRunBytes / 24>())) {
        return DecodeReference(text, length, output);
      }
    }
  }
  return DecodeRest(DecodeRunAvx2, lines, text, length, done,
                    done / kRunText * kRunBytes, output);
}

const DecoderPath kAvx2{"avx2", DecodeAvx2};

}  // namespace

const DecoderPath* Avx2Decoder() {
  static const bool supported = __builtin_cpu_supports("avx2");
  return supported ? &kAvx2 : nullptr;
}

}  // namespace corvane::tallowin

#else

namespace corvane::tallowin {
const DecoderPath* Avx2Decoder() { return nullptr; }
}  // namespace corvane::tallowin

#endif
