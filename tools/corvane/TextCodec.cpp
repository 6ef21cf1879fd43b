// SPDX-License-Identifier: Apache-2.0
#include "tools/corvane/TextCodec.h"

#include <climits>
#include <cstdint>
#include <memory>
#include <new>

#include "platform/Failure.h"
#include "platform/Process.h"

namespace corvane::tool {
namespace {

int DigitValue(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

tallowin::Binding& Tallowin() {
  static tallowin::Binding library(
      platform::DirectoryOf(platform::ProgramPath()),
      tallowin::kLibraryFileName, "corvane");
  return library;
}

std::string EncodeBase64(std::string_view bytes) {
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) {
    throw Failure(kOverflow, "corvane", StandardErrorText(kOverflow));
  }
  auto encode = Tallowin().Export<tallowin::EncodeBase64BufferFunction>(
      "EncodeBase64Buffer");
  auto release = Tallowin().Export<tallowin::ReleaseBase64BufferFunction>(
      "ReleaseBase64Buffer");
  std::unique_ptr<char, tallowin::ReleaseBase64BufferFunction> text(
      encode(reinterpret_cast<const unsigned char*>(bytes.data()),
             static_cast<int32_t>(bytes.size())),
      release);
  if (!text) throw std::bad_alloc();
  return std::string(text.get());
}

std::optional<std::string> DecodeBase64(std::string_view text) {
  std::string bytes;
  uint32_t bits = 0;
  int count = 0, padding = 0;
  for (char c : text) {
    if (c == ' ' || c == '\r' || c == '\n' || c == '\t') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    int value = DigitValue(c);
    if (value < 0 || padding > 0) return std::nullopt;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    if (++count == 4) {
      bytes += static_cast<char>(bits >> 16);
      bytes += static_cast<char>(bits >> 8);
      bytes += static_cast<char>(bits);
      bits = 0;
      count = 0;
    }
  }
  if (count == 1 || padding > 2) return std::nullopt;
  if (count == 2) bytes += static_cast<char>(bits >> 4);
  if (count == 3) {
    bytes += static_cast<char>(bits >> 10);
    bytes += static_cast<char>(bits >> 2);
  }
  return bytes;
}

bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    uint8_t c = static_cast<uint8_t>(bytes[i]);
    size_t length;
    uint32_t code;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      length = 2;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + length > bytes.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      uint8_t next = static_cast<uint8_t>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

}  // namespace corvane::tool
