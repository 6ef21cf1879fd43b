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
#include <cstring>

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
  for (uint8_t i = 0; i < 64; ++i)
    values[static_cast<unsigned char>(alphabet[i])] = i;
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

// The values of 64 characters into 48 bytes (and 16 bytes after them).
TALLOWIN_AVX512 inline __m512i Pack(__m512i values) {
  const __m512i pairs =
      _mm512_maddubs_epi16(values, _mm512_set1_epi32(0x01400140));
  const __m512i words = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00011000));
  return _mm512_maskz_permutexvar_epi8(kAll, _mm512_load_si512(kGather.data()),
                                       words);
}

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
  const __m512i bytes = Pack(values);
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

// Line-broken text by periods of 32 lines: 36 steps of 64 characters,
// each gathered from the two vectors it lies in, skipping its CR LF, so
// that no step is partly written again.
struct Step {
  alignas(64) std::array<uint8_t, 64> gather;  // each character, from `from`
  uint32_t from;  // the first character's place, from the period's start
};

constexpr size_t kSteps = kPeriodInput / 48;
static_assert(kSteps * 48 == kPeriodInput);

constexpr auto kPeriodSteps = [] {
  // Where the character `c` of a period lies in its text.
  constexpr auto place = [](size_t c) { return c + c / kLineOutput * 2; };
  std::array<Step, kSteps> steps{};
  for (size_t s = 0; s < kSteps; ++s) {
    steps[s].from = static_cast<uint32_t>(place(64 * s));
    for (size_t j = 0; j < 64; ++j) {
      steps[s].gather[j] =
          static_cast<uint8_t>(place(64 * s + j) - steps[s].from);
    }
  }
  return steps;
}();

// Characters a period reads from its start: more than the period itself,
// so text follows it and each step may write 16 bytes past its own.
constexpr size_t kPeriodReads = kPeriodSteps.back().from + 128;
static_assert(kPeriodReads >= kPeriodOutput + 24);

// One period at `text` into 1,728 bytes; false when a line break is out of
// place or a character is outside the alphabet.
TALLOWIN_AVX512 bool DecodePeriod(const char* text, unsigned char* output) {
  uint32_t breaks = 0;
  for (size_t line = 0; line < kPeriodLines; ++line) {
    uint16_t pair;
    std::memcpy(&pair, text + line * kLineWithBreak + kLineOutput, 2);
    breaks |= pair ^ ('\r' | '\n' << 8);
  }
  const __m512i low = _mm512_load_si512(kValues.data());
  const __m512i high = _mm512_load_si512(kValues.data() + 64);
  __m512i faults = _mm512_setzero_si512();
  for (const Step& step : kPeriodSteps) {
    const __m512i in = _mm512_maskz_permutex2var_epi8(
        kAll, _mm512_loadu_si512(text + step.from),
        _mm512_load_si512(step.gather.data()),
        _mm512_loadu_si512(text + step.from + 64));
    const __m512i values = _mm512_maskz_permutex2var_epi8(kAll, low, in, high);
    faults = _mm512_ternarylogic_epi32(faults, values, in, 0xFE);  // a | b | c
    _mm512_storeu_si512(output, Pack(values));
    output += 48;
  }
  return breaks == 0 && _mm512_movepi8_mask(faults) == 0;
}

// 36 steps of text on one line, 2,304 characters, into 1,728 bytes (and 16
// bytes after them); false when a character is outside the alphabet.
constexpr size_t kBlockChars = kSteps * 64;

TALLOWIN_AVX512 bool DecodeBlock(const char* text, unsigned char* output) {
  const __m512i low = _mm512_load_si512(kValues.data());
  const __m512i high = _mm512_load_si512(kValues.data() + 64);
  __m512i faults = _mm512_setzero_si512();
  for (size_t s = 0; s < kSteps; ++s) {
    const __m512i in = _mm512_loadu_si512(text + 64 * s);
    const __m512i values = _mm512_maskz_permutex2var_epi8(kAll, low, in, high);
    faults = _mm512_ternarylogic_epi32(faults, values, in, 0xFE);  // a | b | c
    _mm512_storeu_si512(output + 48 * s, Pack(values));
  }
  return _mm512_movepi8_mask(faults) == 0;
}

// `blocks` blocks of `chars` characters each (decoded by `block` into
// 1,728 bytes, a whole number of cache lines) at `output`. Each block is
// decoded into a buffer that stays in the cache, at the place its bytes
// take in their cache lines, and the whole lines go on with non-temporal
// stores; the first line, when `output` starts inside it, and the bytes
// after the last whole line with ordinary ones. False when a block fails
// (the bytes written so far lie before that block's).
template <class Block>
TALLOWIN_AVX512 inline bool StreamBlocks(Block block, size_t chars,
                                         const char* text, size_t blocks,
                                         unsigned char* output) {
  static_assert(kPeriodInput % 64 == 0);
  // stage[i] is the byte for line + i; a block writes 16 bytes past its own.
  alignas(64) unsigned char stage[kPeriodInput + 128];
  const size_t head = reinterpret_cast<uintptr_t>(output) % 64;
  unsigned char* line = output - head;
  for (size_t b = 0; b < blocks; ++b, text += chars, line += kPeriodInput) {
    // The text four blocks on, asked for now: with the stores bypassing
    // the cache the reads are what is left to wait for (together with the
    // non-temporal stores this took 64 MiB from ~0.65x to ~0.9x memcpy).
    for (size_t p = 0; p < chars; p += 64) {
      _mm_prefetch(text + 4 * chars + p, _MM_HINT_T0);
    }
    if (!block(text, stage + head)) {
      _mm_sfence();
      return false;
    }
    size_t from = 0;
    if (b == 0 && head != 0) {
      std::memcpy(output, stage + head, 64 - head);
      from = 64;
    }
    for (size_t i = from; i < kPeriodInput; i += 64) {
      _mm512_stream_si512(reinterpret_cast<__m512i*>(line + i),
                          _mm512_load_si512(stage + i));
    }
    // The block's bytes past its last whole line begin the next line.
    _mm512_store_si512(stage, _mm512_load_si512(stage + kPeriodInput));
  }
  _mm_sfence();
  if (blocks > 0) std::memcpy(line, stage, head);
  return true;
}

template <bool kStream>
TALLOWIN_AVX512 DecodeResult DecodeAvx512With(const char* text, size_t length,
                                              unsigned char* output) {
  size_t done = 0;  // characters decoded by periods or blocks
  const bool lines = length > kLineWithBreak && text[kLineOutput] == '\r';
  if (lines && length >= kPeriodReads) {
    const size_t periods = (length - kPeriodReads) / kPeriodOutput + 1;
    if constexpr (kStream) {
      if (!StreamBlocks(DecodePeriod, kPeriodOutput, text, periods, output)) {
        return DecodeReference(text, length, output);
      }
      done = periods * kPeriodOutput;
    } else {
      for (; done < periods * kPeriodOutput; done += kPeriodOutput) {
        if (!DecodePeriod(text + done,
                          output + done / kPeriodOutput * kPeriodInput)) {
          return DecodeReference(text, length, output);
        }
      }
    }
  } else if (kStream && !lines && length > kBlockChars) {
    // Text on one line: blocks while a group is left after them.
    const size_t blocks = (length - 1) / kBlockChars;
    if (!StreamBlocks(DecodeBlock, kBlockChars, text, blocks, output)) {
      return DecodeReference(text, length, output);
    }
    done = blocks * kBlockChars;
    return DecodeRest(DecodeRunAvx512, lines, text, length, done, done / 4 * 3,
                      output);
  }
  return DecodeRest(DecodeRunAvx512, lines, text, length, done,
                    done / kPeriodOutput * kPeriodInput, output);
}

TALLOWIN_AVX512 DecodeResult DecodeAvx512(const char* text, size_t length,
                                          unsigned char* output) {
  return DecodeAvx512With<false>(text, length, output);
}

TALLOWIN_AVX512 DecodeResult DecodeStreamedAvx512(const char* text,
                                                  size_t length,
                                                  unsigned char* output) {
  return DecodeAvx512With<true>(text, length, output);
}

const DecoderPath kAvx512{"avx512vbmi", DecodeAvx512, DecodeStreamedAvx512};

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
