// SPDX-License-Identifier: Apache-2.0
#include "base64/Encoder.h"

#include <array>
#include <cstdint>
#include <cstring>

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

const EncoderPath& PortablePath() { return kPortable; }

const EncoderPath& SelectedPath() {
  static const EncoderPath& selected = Avx512Path() != nullptr ? *Avx512Path()
                                       : Avx2Path() != nullptr ? *Avx2Path()
                                                               : PortablePath();
  return selected;
}

}  // namespace corvane::tallowin
