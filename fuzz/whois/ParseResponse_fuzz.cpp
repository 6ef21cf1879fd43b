// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary replies to the whois reply parser: it must not crash nor
// read outside the reply, and every field it fills is cut from the reply
// as read (the CRs that end its lines removed).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "whois/ReplyParser.h"

namespace {

// A filled field holds reply text only (blanks at its ends trimmed).
void CheckCutFromReply(std::string_view reply, const std::string& field) {
  if (!field.empty() && reply.find(field) == std::string_view::npos) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view received(reinterpret_cast<const char*>(data), size);
  auto record = corvane::namewell::ParseResponse(received);
  const std::string reply = corvane::namewell::WithLineFeedEnds(received);
  for (const std::string* field :
       {&record.registrant, &record.domain_name, &record.administrative_contact,
        &record.technical_contact, &record.zone_contact,
        &record.billing_contact, &record.record_updated, &record.record_created,
        &record.database_updated, &record.domain_servers, &record.host_name,
        &record.coordinator}) {
    CheckCutFromReply(reply, *field);
  }
  if (!record.record_found && !record.registrant.empty()) std::abort();
  return 0;
}
