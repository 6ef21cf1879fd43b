// SPDX-License-Identifier: Apache-2.0
// The AVX-512 encoding path (VBMI): 48 input bytes become 64 characters per
// step. A byte permute lays each group of three bytes out as a 32-bit word
// (b1 b0 b2 b1), a multishift cuts the four 6-bit indices out of it, and a
// byte permute over the 64-character alphabet (which reads only the low six
// bits of each index) gives the characters. Masked loads keep every step
// inside the input.
#include "base64/Encoder.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <array>
#include <cstdint>

#define TALLOWIN_AVX512 \
  __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi")))

namespace corvane::tallowin {
namespace {

// Every byte. The unmasked forms of the byte permutes start from an
// undefined vector, which g++ 12 reports as uninitialised; the zero-masked
// forms with every byte selected are the same instructions.
constexpr __mmask64 kAll = ~__mmask64{0};

alignas(64) constexpr char kAlphabet[65] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// For each group i of a step, the input bytes 3i+1, 3i, 3i+2, 3i+1 after
// `start`.
constexpr std::array<uint8_t, 64> Spread(uint8_t start) {
  std::array<uint8_t, 64> spread{};
  for (uint8_t i = 0; i < 16; ++i) {
    spread[4 * i] = static_cast<uint8_t>(start + 3 * i + 1);
    spread[4 * i + 1] = static_cast<uint8_t>(start + 3 * i);
    spread[4 * i + 2] = static_cast<uint8_t>(start + 3 * i + 2);
    spread[4 * i + 3] = static_cast<uint8_t>(start + 3 * i + 1);
  }
  return spread;
}
alignas(64) constexpr auto kSpread = Spread(0);
// The second step of a line, bytes 6-53 of the same 64 bytes.
alignas(64) constexpr auto kSpreadFrom6 = Spread(6);

constexpr __mmask64 kStepInput = (__mmask64{1} << 48) - 1;

// The bit offsets of the four indices in each word: 10, 4, 22 and 16.
constexpr int64_t kShifts = 0x3036242a1016040a;

// 48 bytes of `in` (those `spread` picks) into 64 characters.
TALLOWIN_AVX512 inline __m512i EncodeBytes(
    __m512i in, const std::array<uint8_t, 64>& spread = kSpread) {
  const __m512i words =
      _mm512_maskz_permutexvar_epi8(kAll, _mm512_load_si512(spread.data()), in);
  const __m512i indices = _mm512_maskz_multishift_epi64_epi8(
      kAll, _mm512_set1_epi64(kShifts), words);
  return _mm512_maskz_permutexvar_epi8(kAll, indices,
                                       _mm512_load_si512(kAlphabet));
}

// 48 bytes at `input` (only they are read) into 64 characters.
TALLOWIN_AVX512 inline __m512i EncodeStep(const unsigned char* input) {
  return EncodeBytes(_mm512_maskz_loadu_epi8(kStepInput, input));
}

// The same, reading input[0, 64).
TALLOWIN_AVX512 inline __m512i EncodeReadingAhead(const unsigned char* input) {
  return EncodeBytes(_mm512_loadu_si512(input));
}

// One line from 64 bytes: bytes 0-47, then bytes 6-53 (writing eight
// characters again).
TALLOWIN_AVX512 inline void EncodeLineFrom(__m512i in, char* output) {
  _mm512_storeu_si512(output, EncodeBytes(in));
  _mm512_storeu_si512(output + 8, EncodeBytes(in, kSpreadFrom6));
}

// One line, reading only its 54 bytes (masked loads are slow when the
// input is not in the cache, so only the last lines take this way).
TALLOWIN_AVX512 void EncodeLineMasked(const unsigned char* input,
                                      char* output) {
  constexpr __mmask64 kLine = (__mmask64{1} << kLineInput) - 1;
  EncodeLineFrom(_mm512_maskz_loadu_epi8(kLine, input), output);
}

TALLOWIN_AVX512 void EncodeLinesAvx512(const unsigned char* input, size_t count,
                                       char* output) {
  // Whole loads while 64 bytes are there to read.
  for (; count >= 64; count -= kLineInput, input += kLineInput) {
    EncodeLineFrom(_mm512_loadu_si512(input), output);
    output += kLineOutput;
    output[0] = '\r';
    output[1] = '\n';
    output += 2;
  }
  EncodeLinesWith(EncodeLineMasked, input, count, output);
}

TALLOWIN_AVX512 char* EncodeUnbrokenAvx512(const unsigned char* input,
                                           size_t count, char* output) {
  for (; count >= 64; count -= 48, input += 48, output += 64) {
    _mm512_storeu_si512(output, EncodeReadingAhead(input));
  }
  for (; count >= 48; count -= 48, input += 48, output += 64) {
    _mm512_storeu_si512(output, EncodeStep(input));
  }
  return EncodeTail(input, count, output);
}

const EncoderPath kAvx512{"avx512vbmi", EncodeLinesAvx512,
                          EncodeUnbrokenAvx512};

}  // namespace

const EncoderPath* Avx512Path() {
  static const bool supported = __builtin_cpu_supports("avx512f") &&
                                __builtin_cpu_supports("avx512bw") &&
                                __builtin_cpu_supports("avx512vl") &&
                                __builtin_cpu_supports("avx512vbmi");
  return supported ? &kAvx512 : nullptr;
}

}  // namespace corvane::tallowin

#else

namespace corvane::tallowin {
const EncoderPath* Avx512Path() { return nullptr; }
}  // namespace corvane::tallowin

#endif
