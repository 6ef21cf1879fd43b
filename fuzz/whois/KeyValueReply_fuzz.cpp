// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary replies to the key-value reader and the referral reader:
// no crash, no read outside the reply, every line of every field is reply
// text not ending in CR, and a referral names a server the reply holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "whois/KeyValueReply.h"

namespace {

void CheckLinesFromReply(std::string_view reply, std::string_view field) {
  size_t start = 0;
  while (start < field.size()) {
    size_t end = field.find('\n', start);
    if (end == std::string_view::npos) end = field.size();
    std::string_view line = field.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') std::abort();
    if (reply.find(line) == std::string_view::npos) std::abort();
    start = end + 1;
  }
}

bool IsServerCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view reply(reinterpret_cast<const char*>(data), size);
  corvane::namewell::ParsedReply parsed = corvane::namewell::ReadReply(reply);
  const auto& r = parsed.record;
  for (const std::string* field :
       {&r.registrant, &r.domain_name, &r.administrative_contact,
        &r.technical_contact, &r.zone_contact, &r.billing_contact,
        &r.record_updated, &r.record_created, &r.database_updated,
        &r.domain_servers, &r.registrar, &r.expiry_time, &r.domain_status}) {
    CheckLinesFromReply(reply, *field);
  }
  if (!r.record_found && !(r.domain_name.empty() && r.registrar.empty())) {
    std::abort();
  }
  const std::string& server = parsed.referral.server;
  if (reply.find(server) == std::string_view::npos) std::abort();
  for (char c : server) {
    if (!IsServerCharacter(c)) std::abort();
  }
  return 0;
}
