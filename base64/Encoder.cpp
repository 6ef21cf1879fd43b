// SPDX-License-Identifier: Apache-2.0
#include "base64/Encoder.h"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

namespace corvane::tallowin {
namespace {

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';

// The two characters of every 12-bit value, so that a group of three bytes
// takes two lookups.
constexpr auto kPairs = [] {
  std::array<std::array<char, 2>, 4096> pairs{};
  for (size_t value = 0; value < pairs.size(); ++value) {
    pairs[value] = {kAlphabet[value >> 6], kAlphabet[value & 63]};
  }
  return pairs;
}();

char* EncodeGroups(const unsigned char* input, size_t groups, char* output) {
  for (size_t i = 0; i < groups; ++i, input += 3, output += 4) {
    uint32_t value = static_cast<uint32_t>(input[0]) << 16 |
                     static_cast<uint32_t>(input[1]) << 8 | input[2];
    std::memcpy(output, kPairs[value >> 12].data(), 2);
    std::memcpy(output + 2, kPairs[value & 4095].data(), 2);
  }
  return output;
}

void EncodeLinePortable(const unsigned char* input, char* output) {
  EncodeGroups(input, kLineInput / 3, output);
}

void EncodeLinesPortable(const unsigned char* input, size_t count,
                         char* output) {
  EncodeLinesWith(EncodeLinePortable, input, count, output);
}

const EncoderPath kPortable{"portable", EncodeLinesPortable, EncodeTail};

}  // namespace

char* EncodeTail(const unsigned char* input, size_t count, char* output) {
  size_t groups = count / 3;
  output = EncodeGroups(input, groups, output);
  size_t rest = count - groups * 3;
  if (rest == 0) return output;
  // The last one or two bytes, completed with zero bytes, then padded.
  unsigned char last[3] = {input[groups * 3], 0, 0};
  if (rest == 2) last[1] = input[groups * 3 + 1];
  EncodeGroups(last, 1, output);
  output[3] = kPad;
  if (rest == 1) output[2] = kPad;
  return output + 4;
}

void EncodeLinesStreamed(const EncoderPath& path, const unsigned char* input,
                         size_t count, char* output) {
#if defined(__x86_64__)
  constexpr size_t kBlockLines = 48;
  constexpr size_t kBlockInput = kBlockLines * kLineInput;
  constexpr size_t kBlockOutput = kBlockLines * kLineWithBreak;
  if (count < kStreamFrom) return path.lines(input, count, output);
  if (path.streamed != nullptr) return path.streamed(input, count, output);
  // stage[i] is the byte for line + i, where `line` is 64-byte aligned:
  // the bytes before the text's start in its first line are not ours.
  alignas(64) char stage[kBlockOutput + 128];
  const size_t head = reinterpret_cast<uintptr_t>(output) & 63;
  char* line = output - head;
  size_t filled = head;
  size_t from = head == 0 ? 0 : 64;
  // The last lines (with the paths' reading ahead) go by `path` itself.
  while (count > kBlockInput + 2 * kLineInput + 64) {
    // The input four blocks on, asked for now: with the stores bypassing
    // the cache the reads are what is left to wait for.
    for (size_t p = 0; p < kBlockInput; p += 64) {
      _mm_prefetch(reinterpret_cast<const char*>(input) + 4 * kBlockInput + p,
                   _MM_HINT_T0);
    }
    // Four bytes more, so that the block's last line ends in CR LF and a
    // path that reads a few bytes ahead takes it its fast way; their two
    // groups are written over by the next block.
    path.lines(input, kBlockInput + 4, stage + filled);
    input += kBlockInput;
    count -= kBlockInput;
    filled += kBlockOutput;
    const size_t whole = filled & ~size_t{63};
    if (from == 64) std::memcpy(line + head, stage + head, 64 - head);
    for (size_t i = from; i < whole; i += 16) {
      _mm_stream_si128(reinterpret_cast<__m128i*>(line + i),
                       _mm_load_si128(reinterpret_cast<__m128i*>(stage + i)));
    }
    from = 0;
    line += whole;
    filled -= whole;
    std::memcpy(stage, stage + whole, filled);
  }
  _mm_sfence();
  const size_t skip = from == 64 ? head : 0;  // no block was made
  std::memcpy(line + skip, stage + skip, filled - skip);
  path.lines(input, count, line + filled);
#else
  path.lines(input, count, output);
#endif
}

char* EncodeUnbrokenStreamed(const EncoderPath& path,
                             const unsigned char* input, size_t count,
                             char* output) {
  if (count / 3 * 4 < kStreamFrom || path.unbroken_streamed == nullptr) {
    return path.unbroken(input, count, output);
  }
  return path.unbroken_streamed(input, count, output);
}

const EncoderPath& PortablePath() { return kPortable; }

const EncoderPath& SelectedPath() {
  static const EncoderPath& selected = Avx512Path() != nullptr ? *Avx512Path()
                                       : Avx2Path() != nullptr ? *Avx2Path()
                                                               : PortablePath();
  return selected;
}

}  // namespace corvane::tallowin
