// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary text to Tallowin's decoder: every path this processor
// runs gives the reference decoder's bytes or failure and offset, writes
// nothing past its room, and every text it accepts is exactly what the
// encoder writes for the decoded bytes (line-broken, or on one line).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base64/Decoder.h"
#include "base64/Encoder.h"
#include "base64/Tallowin.h"

namespace {

using namespace corvane::tallowin;

constexpr unsigned char kGuard = 0xA5;

// Decodes into a buffer of exactly the room, plus guard bytes; aborts on a
// write past the room.
std::vector<unsigned char> Decode(const DecoderPath& path, const char* text,
                                  size_t length, DecodeResult* result) {
  auto room =
      static_cast<size_t>(Base64DecodeLength(static_cast<int64_t>(length)));
  std::vector<unsigned char> output(room + 64, kGuard);
  *result = path.decode(text, length, output.data());
  for (size_t i = room; i < output.size(); ++i) {
    if (output[i] != kGuard) std::abort();
  }
  if (result->count >= 0) {
    output.resize(static_cast<size_t>(result->count));
  }
  return output;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The text on its own in the heap, so that a read past it is caught.
  std::vector<char> text(data, data + size);
  DecodeResult expected;
  DecoderPath reference{"reference", DecodeReference};
  std::vector<unsigned char> bytes =
      Decode(reference, text.data(), size, &expected);
  for (const DecoderPath* path :
       {&PortableDecoder(), Avx2Decoder(), Avx512Decoder()}) {
    if (path == nullptr) continue;
    DecodeResult got;
    std::vector<unsigned char> decoded = Decode(*path, text.data(), size, &got);
    if (!(got == expected)) std::abort();
    if (got.count >= 0 && decoded != bytes) std::abort();
  }
  if (expected.count < 0) return 0;
  // Accepted text is canonical: it is what the encoder writes.
  std::string lines(static_cast<size_t>(Base64EncodeLength(expected.count)),
                    '\0');
  if (!bytes.empty())
    PortablePath().lines(bytes.data(), bytes.size(), lines.data());
  std::string unbroken(bytes.size() / 3 * 4 + 4, '\0');
  unbroken.resize(static_cast<size_t>(
      PortablePath().unbroken(bytes.data(), bytes.size(), unbroken.data()) -
      unbroken.data()));
  std::string_view given(text.data(), size);
  if (given != lines && given != unbroken) std::abort();
  return 0;
}
