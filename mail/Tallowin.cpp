// SPDX-License-Identifier: Apache-2.0
#include "mail/Tallowin.h"

#include <cstdint>
#include <limits>

#include "mail/modGlobal.h"

namespace corvane::penrill {

tallowin::Binding& Tallowin() {
  // The folder of the library (or program) that holds the mail code.
  static tallowin::Binding binding(
      platform::DirectoryOf(
          platform::ModulePath(reinterpret_cast<const void*>(&Tallowin))),
      tallowin::kLibraryFileName, kPenrillSource);
  return binding;
}

void AppendBase64(std::string_view bytes, std::string& out) {
  if (bytes.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    throw Failure(kOverflow, std::string(kPenrillSource),
                  StandardErrorText(kOverflow));
  }
  auto encode = Tallowin().Base64Encode();
  auto count = static_cast<int32_t>(bytes.size());
  size_t start = out.size();
  out.resize(start + static_cast<size_t>(GetEncodedLength(count)));
  encode(reinterpret_cast<const unsigned char*>(bytes.data()), count,
         out.data() + start);
}

}  // namespace corvane::penrill
