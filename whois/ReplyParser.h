// SPDX-License-Identifier: Apache-2.0
// Reads a whois server's reply into its fields: the record-found flag, the
// domain form (registrant, domain name, four contacts, dates, name servers)
// or the host form (host name, coordinator, dates).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane::namewell {

// The fields of one parsed reply; a field the parser does not reach stays
// empty.
struct WhoisRecord {
  bool record_found = false;
  std::string registrant;
  std::string domain_name;
  std::string administrative_contact;
  std::string technical_contact;
  std::string zone_contact;
  std::string billing_contact;
  std::string record_updated;
  std::string record_created;
  std::string database_updated;
  std::string domain_servers;
  std::string host_name;
  std::string coordinator;
  // Filled from key-value replies only.
  std::string registrar;
  std::string expiry_time;
  std::string domain_status;
  // The keys whose values the reply withheld ("Registrant Name" for
  // "Registrant Name: REDACTED FOR PRIVACY"), one a line.
  std::string redacted_fields;
  // Filled for IP address and AS number queries: the range ("192.0.2.0 -
  // 192.0.2.255", "64496 - 64511"), the network's or AS's name, its
  // country code and the address for abuse reports.
  std::string network_range;
  std::string network_name;
  std::string country;
  std::string abuse_email;
};

// Gives every empty text field of `target` the value of the same field of
// `source` (moved from it); never fails.
void FillEmptyFields(WhoisRecord& target, WhoisRecord source);

// Cuts out the text between `start_marker` (empty: the cut begins at
// `position`) and the next `end_marker`, both searched from `position`
// (0-based). On success moves `position` past the end marker; returns false
// with `content` empty and `position` unchanged when a marker is missing.
bool GetContentBetweenTags(std::string& content, std::string_view text,
                           size_t& position, std::string_view start_marker,
                           std::string_view end_marker);

// `text` without leading and trailing spaces, CR, LF and TAB; empty text
// when nothing else is in it.
std::string MyTrim(std::string_view text);

// `reply` with the CRs that end its lines removed (CR LF, and CR CR LF,
// read as LF); other CRs stay. Never fails.
std::string WithLineFeedEnds(std::string_view reply);

// The fields of `reply` (CR LF line ends read as LF); a reply it cannot
// read gives a record with the found flag set and the fields it could not
// reach empty.
WhoisRecord ParseResponse(std::string_view reply);

}  // namespace corvane::namewell
