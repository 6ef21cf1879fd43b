// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary scripts to the interpreter of `corvane run`: deep nesting,
// long lines, bytes that are not UTF-8, values of every kind. A run ends with
// status 0 or 2 and writes one answer line per step it ran. No class is
// registered, so steps reach the host and the converters but no component;
// steps that name a file to read are left out, so that a run reads nothing
// but its input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "tools/corvane/ScriptHost.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("CORVANE_REGISTRY", "/nonexistent/corvane-fuzz.registry", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string script(reinterpret_cast<const char*>(data), size);
  if (script.find("body_file") != std::string::npos) return 0;
  std::istringstream input(script);
  std::ostringstream answers;
  std::ostringstream errors;
  corvane::tool::ScriptHost host(answers);
  int status = host.Run(input, errors);
  Check(status == 0 || status == 2);
  Check((status == 2) == !errors.str().empty());
  return 0;
}
