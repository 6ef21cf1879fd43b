// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary program answers to the reading of a CGI answer's header
// lines on the console's Gateway page: the body left over is the answer's
// tail, and no header name holds a line feed or a colon.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "web/GatewayPage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view answer(reinterpret_cast<const char*>(data), size);
  std::string_view body = "unset";
  auto headers = corvane::web::CgiAnswerHeaders(answer, body);
  if (body.data() < answer.data() ||
      body.data() + body.size() != answer.data() + answer.size()) {
    std::abort();
  }
  for (const auto& [name, value] : headers) {
    if (name.find_first_of("\n:") != std::string_view::npos) std::abort();
    if (value.find('\n') != std::string_view::npos) std::abort();
  }
  return 0;
}
