// SPDX-License-Identifier: Apache-2.0
// The AVX-512 decoding path (VBMI): 64 characters become 48 bytes per step.
// One two-table byte permute maps every character below 128 to its value or
// to a byte with the high bit set; characters of 128 and above have it set
// themselves. Two multiply-adds pack the values, a byte permute gathers the
// bytes, and masked loads and stores bound every step exactly.
#include "base64/Decoder.h"

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

// The value of each character 0-127; 0x80 outside the alphabet.
alignas(64) constexpr auto kValues = [] {
  constexpr char alphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::array<uint8_t, 128> values{};
  values.fill(0x80);
  for (uint8_t i = 0; i < 64; ++i) values[static_cast<size_t>(alphabet[i])] = i;
  return values;
}();

// For each of the 48 bytes of a step, where it lies in the 32-bit words
// that the multiply-adds leave (three bytes of each word, high first).
alignas(64) constexpr auto kGather = [] {
  std::array<uint8_t, 64> gather{};
  for (uint8_t i = 0; i < 48; ++i) {
    gather[i] = static_cast<uint8_t>(i / 3 * 4 + 2 - i % 3);
  }
  return gather;
}();

// `chars` characters (a multiple of 4, at most 64) at `text` into
// chars / 4 * 3 bytes; false when one of them is outside the alphabet.
TALLOWIN_AVX512 inline bool DecodeStep(const char* text, __mmask64 load,
                                       __mmask64 store, unsigned char* output) {
  const __m512i low = _mm512_load_si512(kValues.data());
  const __m512i high = _mm512_load_si512(kValues.data() + 64);
  const __m512i in = load == kAll ? _mm512_loadu_si512(text)
                                  : _mm512_maskz_loadu_epi8(load, text);
  const __m512i values = _mm512_maskz_permutex2var_epi8(kAll, low, in, high);
  if ((_mm512_movepi8_mask(_mm512_or_si512(values, in)) & load) != 0) {
    return false;
  }
  const __m512i pairs =
      _mm512_maddubs_epi16(values, _mm512_set1_epi32(0x01400140));
  const __m512i words = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00011000));
  const __m512i bytes = _mm512_maskz_permutexvar_epi8(
      kAll, _mm512_load_si512(kGather.data()), words);
  if (store == kAll) {
    _mm512_storeu_si512(output, bytes);
  } else {
    _mm512_mask_storeu_epi8(output, store, bytes);
  }
  return true;
}

constexpr __mmask64 Mask(size_t count) {
  return count >= 64 ? kAll : (__mmask64{1} << count) - 1;
}

TALLOWIN_AVX512 bool DecodeRunAvx512(const char* text, size_t chars,
                                     unsigned char* output, bool spill) {
  // Masked stores are slow when the output is not in the cache: whole
  // stores wherever the bytes after them are written later anyway.
  if (chars == kLineOutput && spill) {
    return DecodeStep(text, kAll, kAll, output) &&
           DecodeStep(text + 8, kAll, kAll, output + 6);
  }
  if (chars == kLineOutput) {
    // A full line: characters 0-63 and 8-71, the second step writing six
    // groups again.
    return DecodeStep(text, kAll, Mask(48), output) &&
           DecodeStep(text + 8, kAll, Mask(48), output + 6);
  }
  // Whole stores while 16 more bytes of this run follow each.
  for (; chars >= 88; chars -= 64, text += 64, output += 48) {
    if (!DecodeStep(text, kAll, kAll, output)) return false;
  }
  for (; chars >= 64; chars -= 64, text += 64, output += 48) {
    if (!DecodeStep(text, kAll, Mask(48), output)) return false;
  }
  return chars == 0 ||
         DecodeStep(text, Mask(chars), Mask(chars / 4 * 3), output);
}

TALLOWIN_AVX512 DecodeResult DecodeAvx512(const char* text, size_t length,
                                          unsigned char* output) {
  return DecodeWith(DecodeRunAvx512, text, length, output);
}

const DecoderPath kAvx512{"avx512vbmi", DecodeAvx512};

}  // namespace

const DecoderPath* Avx512Decoder() {
  static const bool supported = __builtin_cpu_supports("avx512f") &&
                                __builtin_cpu_supports("avx512bw") &&
                                __builtin_cpu_supports("avx512vl") &&
                                __builtin_cpu_supports("avx512vbmi");
  return supported ? &kAvx512 : nullptr;
}

}  // namespace corvane::tallowin

#else

namespace corvane::tallowin {
const DecoderPath* Avx512Decoder() { return nullptr; }
}  // namespace corvane::tallowin

#endif
