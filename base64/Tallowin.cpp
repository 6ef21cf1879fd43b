// SPDX-License-Identifier: Apache-2.0
// The exports of libtallowin.so.
#include "base64/Tallowin.h"

#include <cstdlib>

#include "base64/Decoder.h"
#include "base64/Encoder.h"

using corvane::tallowin::SelectedDecoder;
using corvane::tallowin::SelectedPath;

extern "C" {

void Base64Encode(const unsigned char* input, int32_t count, char* output) {
  if (count <= 0 || input == nullptr || output == nullptr) return;
  SelectedPath().lines(input, static_cast<size_t>(count), output);
}

char* EncodeBase64Buffer(const unsigned char* input, int32_t count) {
  if (count < 0 || (count > 0 && input == nullptr)) return nullptr;
  // Computed in 64 bits so that no count overflows the size.
  size_t size = static_cast<size_t>(count) * 4 / 3 + 4;
  auto* buffer = static_cast<char*>(std::malloc(size));
  if (buffer == nullptr) return nullptr;
  char* end =
      SelectedPath().unbroken(input, static_cast<size_t>(count), buffer);
  *end = '\0';
  return buffer;
}

void ReleaseBase64Buffer(char* buffer) { std::free(buffer); }

int32_t Base64Decode(const char* text, int32_t length, unsigned char* output,
                     int32_t* failure_offset) {
  if (length < 0 || (length > 0 && (text == nullptr || output == nullptr))) {
    if (failure_offset != nullptr) *failure_offset = 0;
    return BASE64_DECODE_BAD_ARGUMENT;
  }
  auto result =
      SelectedDecoder().decode(text, static_cast<size_t>(length), output);
  if (result.count < 0 && failure_offset != nullptr) {
    *failure_offset = static_cast<int32_t>(result.failure_at);
  }
  return static_cast<int32_t>(result.count);
}

}  // extern "C"
