// SPDX-License-Identifier: Apache-2.0
// Reads an RDAP server's JSON answer for a domain into the whois record's
// fields: names, contacts by role (their jCard name, organisation, address,
// telephone and e-mail lines), registrar, event dates, name servers,
// statuses, the registrar's own RDAP link, and error objects.
#pragma once

#include <string>
#include <string_view>

#include "whois/ReplyParser.h"

namespace corvane::namewell {

struct RdapReply {
  // The answer is a JSON object nesting at most 128 levels deep; nothing
  // else is read.
  bool readable = false;
  // The fields (record_found set for a readable answer that is no error
  // object). Every line of every field is text of the answer; the domain
  // name may read "ldhName (unicodeName)".
  WhoisRecord record;
  // The registrar's RDAP URL for the domain (a "related" link of type
  // application/rdap+json); empty when the answer has none.
  std::string related;
  // The answer is an error object (it has "errorCode"): its code (0 when
  // it is no integer), title and description lines joined by spaces.
  bool error_object = false;
  long error_code = 0;
  std::string error_title;
  std::string error_description;
};

// The reading of `answer`; never fails, whatever the JSON holds.
RdapReply ReadRdapReply(std::string_view answer);

}  // namespace corvane::namewell
