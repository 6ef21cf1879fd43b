// SPDX-License-Identifier: Apache-2.0
// The AVX2 path: 24 input bytes become 32 characters per step (the
// pshufb-based method: split each group into four 6-bit indices with
// multiplies, then map indices to characters with one table shuffle).
#include "base64/Encoder.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <utility>

#define TALLOWIN_AVX2 __attribute__((target("avx2")))

namespace corvane::tallowin {
namespace {

// Spreads the 12 bytes at the start of each 128-bit lane into four 32-bit
// words of three bytes each, then into 6-bit indices, one per byte.
TALLOWIN_AVX2 inline __m256i Indices(__m256i in) {
  in = _mm256_shuffle_epi8(
      in, _mm256_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1, 10,
                          11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1));
  const __m256i t0 = _mm256_and_si256(in, _mm256_set1_epi32(0x0fc0fc00));
  const __m256i t1 = _mm256_mulhi_epu16(t0, _mm256_set1_epi32(0x04000040));
  const __m256i t2 = _mm256_and_si256(in, _mm256_set1_epi32(0x003f03f0));
  const __m256i t3 = _mm256_mullo_epi16(t2, _mm256_set1_epi32(0x01000010));
  return _mm256_or_si256(t1, t3);
}

// Maps each index 0..63 to its character by adding the offset of its range
// (A-Z, a-z, 0-9, '+', '/').
TALLOWIN_AVX2 inline __m256i Characters(__m256i indices) {
  const __m256i offsets = _mm256_setr_epi8(
      'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
      '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0,
      'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
      '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
  __m256i range = _mm256_subs_epu8(indices, _mm256_set1_epi8(51));
  const __m256i below_26 = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), indices);
  range =
      _mm256_or_si256(range, _mm256_and_si256(below_26, _mm256_set1_epi8(13)));
  return _mm256_add_epi8(_mm256_shuffle_epi8(offsets, range), indices);
}

// The 32 characters of 24 bytes at `input`, reading input[0, 28).
TALLOWIN_AVX2 inline __m256i EncodeAhead(const unsigned char* input) {
  return Characters(
      Indices(_mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(input + 12),
                                  reinterpret_cast<const __m128i*>(input))));
}

TALLOWIN_AVX2 inline void EncodeReadingAhead(const unsigned char* input,
                                             char* output) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(output), EncodeAhead(input));
}

// 24 bytes at `input`, reading input[-8, 24): one load, then the words
// moved so that each lane starts with its 12 bytes.
TALLOWIN_AVX2 inline void EncodeReadingBehind(const unsigned char* input,
                                              char* output) {
  __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(input - 8));
  in = _mm256_permutevar8x32_epi32(in,
                                   _mm256_setr_epi32(2, 3, 4, 4, 5, 6, 7, 7));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(output),
                      Characters(Indices(in)));
}

// One line: bytes 0-23, 24-47 and 30-53 (the last step overlaps the second
// by two groups, which it writes again unchanged); reads only the line.
TALLOWIN_AVX2 void EncodeLineAvx2(const unsigned char* input, char* output) {
  EncodeReadingAhead(input, output);
  EncodeReadingBehind(input + 24, output + 32);
  EncodeReadingBehind(input + 30, output + 40);
}

// Four lines with their CR LF (216 bytes, 296 characters) are 72 groups:
// nine steps of eight groups, where a line at a time takes three. Three
// of the steps straddle a line's end.
constexpr size_t kRunLines = 4;
constexpr size_t kRunInput = kRunLines * kLineInput;
constexpr size_t kRunOutput = kRunLines * kLineWithBreak;
constexpr size_t kLineGroups = kLineOutput / 4;

// Step `kStep` of a run: groups 8 kStep to 8 kStep + 7, reading 4 bytes
// past them. Where a line ends within the step, the characters after its
// end are stored first, two places on (past its CR LF), then the ones
// before it over the start, then the CR LF.
template <size_t kStep>
TALLOWIN_AVX2 inline void EncodeRunStep(const unsigned char* input,
                                        char* output) {
  constexpr size_t kGroup = 8 * kStep;
  constexpr size_t kColumn = kGroup % kLineGroups;
  constexpr size_t kAt = kGroup / kLineGroups * kLineWithBreak + 4 * kColumn;
  constexpr size_t kBefore = 4 * std::min<size_t>(kLineGroups - kColumn, 8);
  const __m256i text = EncodeAhead(input + 24 * kStep);
  if constexpr (kBefore == 32) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(output + kAt), text);
  } else {
    static_assert(kBefore == 8 || kBefore == 16 || kBefore == 24);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(output + kAt + 2), text);
    const __m128i low = _mm256_castsi256_si128(text);
    if constexpr (kBefore == 8) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(output + kAt), low);
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(output + kAt), low);
    }
    if constexpr (kBefore == 24) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(output + kAt + 16),
                       _mm256_extracti128_si256(text, 1));
    }
    output[kAt + kBefore] = '\r';
    output[kAt + kBefore + 1] = '\n';
  }
}

// Four lines, each ending in CR LF; reads input[0, kRunInput + 4).
template <size_t... kSteps>
TALLOWIN_AVX2 inline void EncodeRun(const unsigned char* input, char* output,
                                    std::index_sequence<kSteps...>) {
  (EncodeRunStep<kSteps>(input, output), ...);
  output[kRunOutput - 2] = '\r';
  output[kRunOutput - 1] = '\n';
}

TALLOWIN_AVX2 void EncodeLinesAvx2(const unsigned char* input, size_t count,
                                   char* output) {
  // Runs while their reads lie inside the input, so that input is left
  // after each and its last line ends in CR LF; then line by line.
  for (; count >= kRunInput + 4; count -= kRunInput) {
    EncodeRun(input, output, std::make_index_sequence<kRunInput / 24>());
    input += kRunInput;
    output += kRunOutput;
  }
  EncodeLinesWith(EncodeLineAvx2, input, count, output);
}

TALLOWIN_AVX2 char* EncodeUnbrokenAvx2(const unsigned char* input, size_t count,
                                       char* output) {
  while (count >= 28) {
    EncodeReadingAhead(input, output);
    input += 24;
    output += 32;
    count -= 24;
  }
  return EncodeTail(input, count, output);
}

const EncoderPath kAvx2{"avx2", EncodeLinesAvx2, EncodeUnbrokenAvx2};

}  // namespace

const EncoderPath* Avx2Path() {
  static const bool supported = __builtin_cpu_supports("avx2");
  return supported ? &kAvx2 : nullptr;
}

}  // namespace corvane::tallowin

#else

namespace corvane::tallowin {
const EncoderPath* Avx2Path() { return nullptr; }
}  // namespace corvane::tallowin

#endif
