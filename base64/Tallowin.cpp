// SPDX-License-Identifier: Apache-2.0
// The exports of libtallowin.so.
#include "base64/Tallowin.h"

#include <array>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "base64/Decoder.h"
#include "base64/Encoder.h"

using corvane::tallowin::DecodeStreamed;
using corvane::tallowin::SelectedDecoder;
using corvane::tallowin::SelectedPath;

namespace {

// The library's private heap for the buffers of EncodeBase64Buffer. A
// buffer given back is kept (a few, up to kKeptBytes in all) and handed out
// again to the next call it fits, so that a caller encoding piece after
// piece writes into memory already mapped instead of faulting in fresh
// pages on every call (a fresh page costs tens of times a warm one). Each
// buffer carries its capacity in a header before the text.
class PrivateHeap {
 public:
  ~PrivateHeap() {
    for (Header*& header : kept_) std::free(header);
  }

  // A buffer of at least `size` bytes; nullptr when memory is short.
  char* Take(size_t size) {
    {
      std::lock_guard lock(mutex_);
      Header** best = nullptr;
      for (Header*& header : kept_) {
        if (header != nullptr && header->capacity >= size &&
            (best == nullptr || header->capacity < (*best)->capacity)) {
          best = &header;
        }
      }
      if (best != nullptr) {
        Header* header = *best;
        *best = nullptr;
        kept_bytes_ -= header->capacity;
        return Text(header);
      }
    }
    auto* header = static_cast<Header*>(std::malloc(sizeof(Header) + size));
    if (header == nullptr) return nullptr;
    header->capacity = size;
    return Text(header);
  }

  // Keeps the buffer in a free slot, or in place of the smallest kept one
  // when it is larger (the larger serves more calls), as far as kKeptBytes
  // allows; frees what is not kept.
  void GiveBack(char* text) {
    if (text == nullptr) return;
    auto* header = reinterpret_cast<Header*>(text - sizeof(Header));
    {
      std::lock_guard lock(mutex_);
      Header** slot = &kept_[0];
      for (Header*& kept : kept_) {
        if (kept == nullptr ||
            (*slot != nullptr && kept->capacity < (*slot)->capacity)) {
          slot = &kept;
        }
      }
      size_t freed = *slot != nullptr ? (*slot)->capacity : 0;
      if (freed < header->capacity &&
          header->capacity <= kKeptBytes - (kept_bytes_ - freed)) {
        std::swap(*slot, header);
        kept_bytes_ += (*slot)->capacity - freed;
      }
    }
    std::free(header);
  }

 private:
  // 16 bytes, so that the text keeps malloc's alignment.
  struct Header {
    size_t capacity;
    size_t unused;
  };
  static constexpr size_t kKeptBytes = size_t{128} << 20;

  static char* Text(Header* header) {
    return reinterpret_cast<char*>(header) + sizeof(Header);
  }

  std::mutex mutex_;
  std::array<Header*, 2> kept_{};
  size_t kept_bytes_ = 0;
};

PrivateHeap& Heap() {
  static PrivateHeap heap;
  return heap;
}

}  // namespace

extern "C" {

void Base64Encode(const unsigned char* input, int32_t count, char* output) {
  if (count <= 0 || input == nullptr || output == nullptr) return;
  EncodeLinesStreamed(SelectedPath(), input, static_cast<size_t>(count),
                      output);
}

char* EncodeBase64Buffer(const unsigned char* input, int32_t count) {
  if (count < 0 || (count > 0 && input == nullptr)) return nullptr;
  // Computed in 64 bits so that no count overflows the size.
  size_t size = static_cast<size_t>(count) * 4 / 3 + 4;
  char* buffer = Heap().Take(size);
  if (buffer == nullptr) return nullptr;
  char* end = EncodeUnbrokenStreamed(SelectedPath(), input,
                                     static_cast<size_t>(count), buffer);
  *end = '\0';
  return buffer;
}

void ReleaseBase64Buffer(char* buffer) { Heap().GiveBack(buffer); }

int32_t Base64Decode(const char* text, int32_t length, unsigned char* output,
                     int32_t* failure_offset) {
  if (length < 0 || (length > 0 && (text == nullptr || output == nullptr))) {
    if (failure_offset != nullptr) *failure_offset = 0;
    return BASE64_DECODE_BAD_ARGUMENT;
  }
  auto result = DecodeStreamed(SelectedDecoder(), text,
                               static_cast<size_t>(length), output);
  if (result.count < 0 && failure_offset != nullptr) {
    *failure_offset = static_cast<int32_t>(result.failure_at);
  }
  return static_cast<int32_t>(result.count);
}

}  // extern "C"
