// SPDX-License-Identifier: Apache-2.0
// The whois component's result properties with a JSON key and a label each,
// in the order programs show them.
#pragma once

namespace corvane::namewell {

struct WhoisField {
  const char* property;
  const char* key;
  const char* label;
};

inline constexpr WhoisField kWhoisFields[] = {
    {"GetRegistrant", "registrant", "Registrant"},
    {"GetDomainName", "domain_name", "Domain name"},
    {"GetAdministrativeContact", "administrative_contact",
     "Administrative contact"},
    {"GetAdministrativeEmail", "administrative_email", "Administrative e-mail"},
    {"GetTechnicalContact", "technical_contact", "Technical contact"},
    {"GetTechnicalEmail", "technical_email", "Technical e-mail"},
    {"GetZoneContact", "zone_contact", "Zone contact"},
    {"GetZoneEmail", "zone_email", "Zone e-mail"},
    {"GetBillingContact", "billing_contact", "Billing contact"},
    {"GetbillingEmail", "billing_email", "Billing e-mail"},
    {"GetRecordLastUpdateTime", "record_updated", "Record last updated"},
    {"GetRecordCreateTime", "record_created", "Record created"},
    {"GetDatabaseLastUpdateTime", "database_updated", "Database last updated"},
    {"GetDomainServers", "domain_servers", "Domain servers"},
    {"gethostname", "host_name", "Host name"},
    {"GetCoordinator", "coordinator", "Coordinator"},
    {"GetRegistrar", "registrar", "Registrar"},
    {"GetExpiryTime", "expiry_time", "Expiry time"},
    {"GetDomainStatus", "domain_status", "Domain status"},
    {"GetReferralChain", "referral_chain", "Servers asked"},
};

// The fields of an IP address or AS number query, shown only when one of
// them has a value.
inline constexpr WhoisField kNetworkFields[] = {
    {"GetNetworkRange", "network_range", "Network range"},
    {"GetNetworkName", "network_name", "Network name"},
    {"GetCountry", "country", "Country"},
    {"GetAbuseEmail", "abuse_email", "Abuse e-mail"},
};

}  // namespace corvane::namewell
