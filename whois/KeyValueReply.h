// SPDX-License-Identifier: Apache-2.0
// Reads the whois replies of today's registries and registrars: "Key: Value"
// lines, "[Key] Value" lines, keys whose value stands on the indented lines
// below them, contacts named by handle, "not found" answers in their usual
// wordings, and the server a reply refers the query to.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "whois/ReplyParser.h"

namespace corvane::namewell {

// The next server a reply names; `server` is empty when it names none.
struct Referral {
  std::string server;  // host or host:port
  // The reply only points onwards (IANA's "refer:"); its own fields
  // describe the top-level domain, not the name asked for.
  bool pointer_only = false;
};

// A reply that says the server limits the rate of queries instead of
// answering.
struct Throttle {
  bool throttled = false;
  std::string notice;        // the reply's line that says so
  int32_t wait_seconds = 0;  // the wait it asks for; 0 when it names none
};

// What the key-value lines of one reply hold.
struct KeyValueReply {
  bool not_found = false;
  WhoisRecord fields;  // record_found unused
  Referral referral;
};

// Whether `reply` is a rate-limit answer ("Query rate limit exceeded",
// "WHOIS LIMIT EXCEEDED", "access denied ... try again later", ...) rather
// than a record, with the wait it names; never fails.
Throttle FindThrottle(std::string_view reply);

// Whether a value stands in for data that is withheld or kept elsewhere
// ("REDACTED FOR PRIVACY", "Please query the RDDS service of the
// Registrar of Record ...", "No registrar listed. ...", "-"); such a value
// fills no field.
bool IsPlaceholder(std::string_view value);

// The key-value reading of `reply`; never fails.
KeyValueReply ReadKeyValues(std::string_view reply);

// One reply read whole: the line-oriented record format first, then every
// field it left empty from the key-value lines; a "not found" answer gives
// record_found false and every field empty. Never fails.
struct ParsedReply {
  WhoisRecord record;
  Referral referral;
  Throttle throttle;  // a throttled reply has no record
};
ParsedReply ReadReply(std::string_view reply);

}  // namespace corvane::namewell
