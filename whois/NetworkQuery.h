// SPDX-License-Identifier: Apache-2.0
// Queries for IP addresses and AS numbers: telling them from domain names,
// the line a regional registry's whois server expects, and the network
// fields of such a server's reply.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "whois/ReplyParser.h"

namespace corvane::namewell {

// The whois server asked first for an address or AS number when none is
// set; its referrals lead to the other regional registries.
inline constexpr char kNetworkWhoisServer[] = "whois.arin.net";

enum class QueryKind { kName, kIpv4, kIpv6, kAsn };

struct NetworkQuery {
  QueryKind kind = QueryKind::kName;
  std::string text;     // the address (with any "/length") or the number
  uint32_t number = 0;  // the AS number
};

// What `query` asks for: an IPv4 or IPv6 address, optionally with a prefix
// length ("192.0.2.0/24"), an AS number written "AS64496" (any case), else
// a name. Never fails.
NetworkQuery ClassifyQuery(std::string_view query);

// The line sent to `server` for `query`: ARIN's server takes "n + ADDRESS"
// and "a + NUMBER"; others take the query as it is. Never fails.
std::string WhoisLineFor(std::string_view server, const NetworkQuery& query,
                         std::string_view text);

// Fills the empty network fields of `record` from a regional registry's
// reply: the range ("NetRange", "inetnum", "inet6num", "ASNumber",
// "aut-num"; the last one, the most specific), the name ("NetName",
// "netname", "ASName", "as-name"; the last), the first "Country", and the
// first abuse address ("OrgAbuseEmail", "abuse-mailbox", or the "Abuse
// contact for ... is 'ADDRESS'" remark). Never fails.
void ReadNetworkFields(std::string_view reply, WhoisRecord& record);

}  // namespace corvane::namewell
