// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary server replies to the SMTP reply routines of the socket
// layer: the reply code is -1 or three digits, the last line lies inside
// the reply, and a complete reply ends with a line end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "net/modNetwork.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view reply(reinterpret_cast<const char*>(data), size);
  int16_t code = corvane::net::GetReplyCode(reply);
  if (code != -1 && (code < 0 || code > 999)) std::abort();
  std::string_view last = corvane::net::LastReplyLine(reply);
  if (!last.empty() &&
      (last.data() < reply.data() ||
       last.data() + last.size() > reply.data() + reply.size())) {
    std::abort();
  }
  if (corvane::net::ReplyComplete(reply) && !reply.ends_with('\n')) {
    std::abort();
  }
  return 0;
}
