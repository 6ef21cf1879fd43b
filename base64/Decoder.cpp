// SPDX-License-Identifier: Apache-2.0
#include "base64/Decoder.h"

#include <array>

#include "base64/Tallowin.h"

namespace corvane::tallowin {
namespace {

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each alphabet character; 0xFF for every other byte.
constexpr auto kValues = [] {
  std::array<uint8_t, 256> values{};
  values.fill(0xFF);
  for (uint8_t i = 0; i < 64; ++i) {
    values[static_cast<unsigned char>(kAlphabet[i])] = i;
  }
  return values;
}();

DecodeResult Failed(int code, size_t at) { return {code, at}; }

DecodeResult DecodePortable(const char* text, size_t length,
                            unsigned char* output) {
  return DecodeWith(DecodeRunPortable, text, length, output);
}

const DecoderPath kPortable{"portable", DecodePortable};

}  // namespace

bool DecodeRunPortable(const char* text, size_t chars, unsigned char* output,
                       bool /*spill*/) {
  auto in = reinterpret_cast<const unsigned char*>(text);
  for (size_t i = 0; i < chars; i += 4, in += 4, output += 3) {
    uint32_t a = kValues[in[0]], b = kValues[in[1]], c = kValues[in[2]],
             d = kValues[in[3]];
    if (((a | b | c | d) & 0x80) != 0) return false;
    uint32_t value = a << 18 | b << 12 | c << 6 | d;
    output[0] = static_cast<unsigned char>(value >> 16);
    output[1] = static_cast<unsigned char>(value >> 8);
    output[2] = static_cast<unsigned char>(value);
  }
  return true;
}

DecodeResult DecodeReference(const char* text, size_t length,
                             unsigned char* output) {
  const unsigned char* const start = output;
  size_t column = 0;    // characters since the start of the line
  bool broken = false;  // a line break has been seen
  uint32_t bits = 0;    // the values of the group so far
  int in_group = 0;     // characters of the group so far, pads included
  int pads = 0;         // "=" in the group so far
  bool ended = false;   // the padded last group is complete
  for (size_t i = 0; i < length; ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      // The one break there is: CR LF after exactly 72 characters, with
      // more text after it.
      if (c == '\r' && column == kLineOutput && i + 2 < length &&
          text[i + 1] == '\n') {
        broken = true;
        column = 0;
        ++i;
        continue;
      }
      return Failed(BASE64_DECODE_BAD_LINE_BREAK, i);
    }
    // Once lines are broken, none is longer than 72 characters.
    if (broken && column == kLineOutput) {
      return Failed(BASE64_DECODE_BAD_LINE_BREAK, i);
    }
    ++column;
    uint8_t value = kValues[static_cast<unsigned char>(c)];
    if (value == 0xFF && c != '=') {
      return Failed(BASE64_DECODE_BAD_CHARACTER, i);
    }
    if (ended) return Failed(BASE64_DECODE_BAD_PADDING, i);
    if (c == '=') {
      // Padding completes the last group from its third or fourth place;
      // the bits it leaves unused must be zero.
      if (in_group < 2) return Failed(BASE64_DECODE_BAD_PADDING, i);
      if (pads == 0 && (bits & (in_group == 2 ? 15u : 3u)) != 0) {
        return Failed(BASE64_DECODE_BAD_PADDING, i);
      }
      ++pads;
      if (++in_group == 4) {
        bits >>= pads == 2 ? 4 : 2;
        if (pads == 1) *output++ = static_cast<unsigned char>(bits >> 8);
        *output++ = static_cast<unsigned char>(bits);
        ended = true;
      }
      continue;
    }
    if (pads > 0) return Failed(BASE64_DECODE_BAD_PADDING, i);
    bits = bits << 6 | value;
    if (++in_group == 4) {
      *output++ = static_cast<unsigned char>(bits >> 16);
      *output++ = static_cast<unsigned char>(bits >> 8);
      *output++ = static_cast<unsigned char>(bits);
      bits = 0;
      in_group = 0;
    }
  }
  if (in_group != 0 && !ended) {
    return Failed(BASE64_DECODE_BAD_PADDING, length);
  }
  return {static_cast<int64_t>(output - start), 0};
}

DecodeResult DecodeStreamed(const DecoderPath& path, const char* text,
                            size_t length, unsigned char* output) {
  if (length / 4 * 3 < kStreamFrom || path.streamed == nullptr) {
    return path.decode(text, length, output);
  }
  return path.streamed(text, length, output);
}

const DecoderPath& PortableDecoder() { return kPortable; }

const DecoderPath& SelectedDecoder() {
  static const DecoderPath& selected =
      Avx512Decoder() != nullptr ? *Avx512Decoder()
      : Avx2Decoder() != nullptr ? *Avx2Decoder()
                                 : PortableDecoder();
  return selected;
}

}  // namespace corvane::tallowin
