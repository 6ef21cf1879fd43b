// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary contact texts to the e-mail routines: no crash, no read
// outside the text, and every address found lies in the text, within the
// window around its "@", and passes the check.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "whois/EmailAddresses.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto& address : corvane::namewell::ExtractEmail(text)) {
    if (text.find(address) == std::string_view::npos) std::abort();
    if (address.size() > 63 + 1 + 63) std::abort();
    if (!corvane::namewell::ValidateEmail(address)) std::abort();
  }
  corvane::namewell::ValidateEmail(text);
  return 0;
}
