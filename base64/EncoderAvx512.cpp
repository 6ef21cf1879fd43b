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

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>

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

// Line by line, for the lines the periods below leave.
TALLOWIN_AVX512 void EncodeLineByLine(const unsigned char* input, size_t count,
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

// The line-broken text repeats its layout every 32 lines (a period of 37
// whole vectors). Each output vector is made from one load with three
// permutes, its CR LF merged into the last, and written with one store:
// half the stores of two overlapping vectors per line, and none of them
// partly over the one before.
constexpr size_t kWindows = kPeriodOutput / 64;
static_assert(kWindows * 64 == kPeriodOutput);

// One output vector of a period.
struct Window {
  // For each byte of each 64-bit lane, the input byte (from `from`) placed
  // there: each group of three bytes a lane needs, last byte first, so that
  // every character's six bits lie together in the lane.
  alignas(64) std::array<uint8_t, 64> spread;
  // For each output byte, the bit offset of its six bits in its lane.
  alignas(64) std::array<uint8_t, 64> shifts;
  // CR and LF where the lines end; characters everywhere else.
  alignas(64) std::array<uint8_t, 64> breaks;
  uint64_t characters;  // the output bytes that are characters
  uint32_t from;        // the first input byte read, from the period's start
};

struct Layout {
  std::array<Window, kWindows> windows;
  size_t reads;  // input bytes a period reads from its start
};

// The layout of a period that starts at a line's start (every line has the
// same layout, so any line can start one). Evaluated while compiling: a
// lane that needed more than eight input bytes would stop the build.
constexpr Layout MakeLayout() {
  // The input byte each slot of a group needs first and last, counted in
  // the lane's order (the group's last byte first).
  constexpr size_t kFirst[4] = {2, 1, 0, 0};
  constexpr size_t kLast[4] = {2, 2, 1, 0};
  Layout layout{};
  for (size_t v = 0; v < kWindows; ++v) {
    Window& w = layout.windows[v];
    const size_t start = 64 * v;
    // A window begins with at most the CR LF before its first character.
    size_t first = start;
    if (first % kLineWithBreak >= kLineOutput)
      first += kLineWithBreak - first % kLineWithBreak;
    first = first / kLineWithBreak * kLineOutput + first % kLineWithBreak;
    w.from = static_cast<uint32_t>(first / 4 * 3);
    for (size_t lane = 0; lane < 64; lane += 8) {
      size_t used = 0;  // lane bytes taken
      size_t group = ~size_t{0};
      size_t origin = 0;  // bit offset of the group's last byte, plus 16
      for (size_t j = lane; j < lane + 8; ++j) {
        const size_t column = (start + j) % kLineWithBreak;
        if (column >= kLineOutput) {
          w.breaks[j] = column == kLineOutput ? '\r' : '\n';
          continue;
        }
        w.characters |= uint64_t{1} << j;
        const size_t character =
            (start + j) / kLineWithBreak * kLineOutput + column;
        const size_t slot = character % 4;
        if (character / 4 != group) {
          group = character / 4;
          // The slots of this group in the lane run from `slot` to the
          // last character of the lane in the same group.
          size_t last_slot = slot;
          for (size_t k = j + 1; k < lane + 8 && last_slot < 3; ++k) {
            if ((start + k) % kLineWithBreak >= kLineOutput) break;
            ++last_slot;
          }
          const size_t low = kFirst[last_slot];
          const size_t high = kLast[slot];
          origin = 8 * used + 16 - 8 * low;
          for (size_t e = low; e <= high; ++e, ++used) {
            w.spread[lane + used] =
                static_cast<uint8_t>(group * 3 + 2 - e - w.from);
          }
        }
        // Slot s of a group holds bits 18 - 6s to 23 - 6s of the group's
        // value, whose last byte begins at `origin` - 16.
        w.shifts[j] = static_cast<uint8_t>(origin + 2 - 6 * slot);
      }
      if (used > 8) std::abort();  // not a constant: the build fails
    }
    layout.reads = std::max<size_t>(layout.reads, w.from + 64);
  }
  return layout;
}

constexpr Layout kLayout = MakeLayout();

// One period: 37 vectors, written with non-temporal stores
// when `kStream` (`output` then on a 64-byte boundary).
template <bool kStream>
TALLOWIN_AVX512 inline void EncodePeriod(const unsigned char* input,
                                         char* output) {
  const __m512i alphabet = _mm512_load_si512(kAlphabet);
  for (const Window& w : kLayout.windows) {
    const __m512i words =
        _mm512_maskz_permutexvar_epi8(kAll, _mm512_load_si512(w.spread.data()),
                                      _mm512_loadu_si512(input + w.from));
    const __m512i indices = _mm512_maskz_multishift_epi64_epi8(
        kAll, _mm512_load_si512(w.shifts.data()), words);
    const __m512i text = _mm512_mask_permutexvar_epi8(
        _mm512_load_si512(w.breaks.data()), w.characters, indices, alphabet);
    if constexpr (kStream) {
      _mm512_stream_si512(reinterpret_cast<__m512i*>(output), text);
    } else {
      _mm512_storeu_si512(output, text);
    }
    output += 64;
  }
}

// Whole periods while a period's reads lie inside the input (so input is
// left after it and its last line ends in CR LF), then line by line.
static_assert(kLayout.reads > kPeriodInput);
template <bool kStream>
TALLOWIN_AVX512 inline void EncodeByPeriods(const unsigned char* input,
                                            size_t count, char* output) {
  for (; count >= kLayout.reads; count -= kPeriodInput) {
    if constexpr (kStream) {
      // The input four periods on, asked for now: with the stores
      // bypassing the cache the reads are what is left to wait for.
      for (size_t p = 0; p < kPeriodInput; p += 64) {
        _mm_prefetch(
            reinterpret_cast<const char*>(input) + 4 * kPeriodInput + p,
            _MM_HINT_T0);
      }
    }
    EncodePeriod<kStream>(input, output);
    input += kPeriodInput;
    output += kPeriodOutput;
  }
  if constexpr (kStream) _mm_sfence();
  EncodeLineByLine(input, count, output);
}

TALLOWIN_AVX512 void EncodeLinesAvx512(const unsigned char* input, size_t count,
                                       char* output) {
  EncodeByPeriods<false>(input, count, output);
}

// The same text with non-temporal stores, each to a whole cache line: the
// first lines go the usual way until a line starts on a 64-byte boundary
// (lines are 74 bytes, so one of the first 32 does when the output's
// address is even; an odd one keeps the usual stores throughout).
TALLOWIN_AVX512 void EncodeLinesStreamedAvx512(const unsigned char* input,
                                               size_t count, char* output) {
  size_t lines = 0;
  while (lines < kPeriodLines &&
         (reinterpret_cast<uintptr_t>(output) + lines * kLineWithBreak) % 64 !=
             0) {
    ++lines;
  }
  if (lines == kPeriodLines || count <= (lines + 1) * kLineInput) {
    return EncodeLinesAvx512(input, count, output);
  }
  for (size_t i = 0; i < lines; ++i) {
    EncodeLineMasked(input, output);
    output[kLineOutput] = '\r';
    output[kLineOutput + 1] = '\n';
    input += kLineInput;
    output += kLineWithBreak;
    count -= kLineInput;
  }
  EncodeByPeriods<true>(input, count, output);
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

// The same text with non-temporal stores, each to a whole cache line: the
// first groups go the usual way until the output reaches a 64-byte
// boundary (an output whose address is not a multiple of 4 never does and
// keeps the usual stores).
TALLOWIN_AVX512 char* EncodeUnbrokenStreamedAvx512(const unsigned char* input,
                                                   size_t count, char* output) {
  const size_t misaligned = reinterpret_cast<uintptr_t>(output) % 64;
  const size_t head = misaligned == 0 ? 0 : (64 - misaligned) / 4 * 3;
  if (misaligned % 4 != 0 || count < head + 64) {
    return EncodeUnbrokenAvx512(input, count, output);
  }
  output = EncodeTail(input, head, output);
  input += head;
  count -= head;
  for (; count >= 64; count -= 48, input += 48, output += 64) {
    // As for lines: the input is asked for well ahead.
    _mm_prefetch(reinterpret_cast<const char*>(input) + 4 * kPeriodInput,
                 _MM_HINT_T0);
    _mm512_stream_si512(reinterpret_cast<__m512i*>(output),
                        EncodeReadingAhead(input));
  }
  _mm_sfence();
  return EncodeUnbrokenAvx512(input, count, output);
}

const EncoderPath kAvx512{"avx512vbmi", EncodeLinesAvx512, EncodeUnbrokenAvx512,
                          EncodeLinesStreamedAvx512,
                          EncodeUnbrokenStreamedAvx512};

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
