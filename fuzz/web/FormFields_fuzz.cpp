// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bodies to the console's form reader: a body is either
// refused as too large or read into fields, and every value it gives for a
// name is no longer than the body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "web/FormFields.h"

using corvane::web::FormFields;
using corvane::web::FormTooLarge;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view body(reinterpret_cast<const char*>(data), size);
  try {
    FormFields form = FormFields::Parse(body);
    // The names the console's pages read, and the body's first name.
    std::string first(body.substr(0, body.find_first_of("=&")));
    const std::string_view names[] = {"query", "path", "to", first};
    for (std::string_view name : names) {
      auto values = form.Values(name);
      if (form.Value(name) != (values.empty() ? "" : values.front())) {
        std::abort();
      }
      for (const auto& value : values) {
        if (value.size() > body.size()) std::abort();
      }
    }
  } catch (const FormTooLarge&) {
  }
  return 0;
}
