#include "whois/RecordKeys.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace corvane::namewell {
namespace {

struct KeyRow {
  std::string_view key;
  RecordKey meaning;
};

using enum KeySlot;
using C = Contact;

// Keys that stand alone. Registry and registrar formats (ICANN's registrar
// format, the .com registry, IANA) and country registries' own words.
constexpr KeyRow kKeys[] = {
    {"domain name", {kDomainName}},
    {"domain", {kDomainName}},
    {"registrar", {kRegistrar}},
    {"sponsoring registrar", {kRegistrar}},
    {"registrar name", {kRegistrar}},
    {"creation date", {kCreated}},
    {"created", {kCreated}},
    {"created on", {kCreated}},
    {"registered on", {kCreated}},
    {"registered", {kCreated}},
    {"registration date", {kCreated}},
    {"registration time", {kCreated}},
    {"domain record activated", {kCreated}},
    {"updated date", {kUpdated}},
    {"updated", {kUpdated}},
    {"last updated", {kUpdated}},
    {"last update", {kUpdated}},
    {"last-update", {kUpdated}},
    {"last modified", {kUpdated}},
    {"modified", {kUpdated}},
    {"changed", {kUpdated}},
    {"registry expiry date", {kExpiry}},
    {"registrar registration expiration date", {kExpiry}},
    {"expiry date", {kExpiry}},
    {"expiration date", {kExpiry}},
    {"expiration time", {kExpiry}},
    {"expires", {kExpiry}},
    {"expires on", {kExpiry}},
    {"expire date", {kExpiry}},
    {"paid-till", {kExpiry}},
    {"last update of whois database", {kDatabaseUpdated}},
    {"name server", {kNameServer}},
    {"name servers", {kNameServer}},
    {"nameserver", {kNameServer}},
    {"nameservers", {kNameServer}},
    {"nserver", {kNameServer}},
    {"domain nameservers", {kNameServer}},
    {"domain status", {kStatus}},
    {"status", {kStatus}},
    {"registration status", {kStatus}},
    {"refer", {kRegistryPointer}},
    {"whois", {kReferral}},
    {"whois server", {kReferral}},
    {"registrar whois server", {kReferral}},
    {"referralserver", {kReferral}},
    {"registrant", {kContactAddress, C::kRegistrant}},
    {"registrant's address", {kContactAddress, C::kRegistrant}},
    {"owner", {kContactAddress, C::kRegistrant}},
    {"holder-c", {kContactHandle, C::kRegistrant}},
    {"owner-c", {kContactHandle, C::kRegistrant}},
    {"registrant-c", {kContactHandle, C::kRegistrant}},
    {"admin-c", {kContactHandle, C::kAdministrative}},
    {"tech-c", {kContactHandle, C::kTechnical}},
    {"zone-c", {kContactHandle, C::kZone}},
    {"billing-c", {kContactHandle, C::kBilling}},
    {"administrative contact", {kContactHandle, C::kAdministrative}},
    {"technical contact", {kContactHandle, C::kTechnical}},
    {"nic-hdl", {kHandleName}},
    {"nic-hdl-br", {kHandleName}},
    {"person", {kHandleLine}},
    {"contact", {kHandleLine}},
    {"name", {kHandleLine}},
    {"org", {kHandleLine}},
    {"address", {kHandleLine}},
    {"country", {kHandleLine}},
    {"phone", {kHandleLine}},
    {"e-mail", {kHandleLine}},
};

// A contact's keys are one of these prefixes, a space and one of the
// attributes below ("Registrant Name", "Tech Email").
constexpr KeyRow kContactPrefixes[] = {
    {"registrant", {kContactAddress, C::kRegistrant}},
    {"admin", {kContactAddress, C::kAdministrative}},
    {"administrative", {kContactAddress, C::kAdministrative}},
    {"administrative contact", {kContactAddress, C::kAdministrative}},
    {"tech", {kContactAddress, C::kTechnical}},
    {"technical", {kContactAddress, C::kTechnical}},
    {"technical contact", {kContactAddress, C::kTechnical}},
    {"zone", {kContactAddress, C::kZone}},
    {"zone contact", {kContactAddress, C::kZone}},
    {"billing", {kContactAddress, C::kBilling}},
    {"billing contact", {kContactAddress, C::kBilling}},
};

constexpr KeyRow kContactAttributes[] = {
    {"name", {kContactAddress}},         {"organization", {kContactAddress}},
    {"organisation", {kContactAddress}}, {"street", {kContactAddress}},
    {"street1", {kContactAddress}},      {"street2", {kContactAddress}},
    {"street3", {kContactAddress}},      {"address", {kContactAddress}},
    {"city", {kContactAddress}},         {"state/province", {kContactAddress}},
    {"state", {kContactAddress}},        {"postal code", {kContactAddress}},
    {"postcode", {kContactAddress}},     {"country", {kContactAddress}},
    {"phone", {kContactDetail}},         {"fax", {kContactDetail}},
    {"email", {kContactDetail}},         {"e-mail", {kContactDetail}},
};

using KeyMap = std::unordered_map<std::string_view, RecordKey>;

KeyMap BuildKeyMap() {
  static std::vector<std::string> joined;  // storage of the composed keys
  KeyMap map;
  for (const KeyRow& row : kKeys) map.emplace(row.key, row.meaning);
  for (const KeyRow& prefix : kContactPrefixes) {
    for (const KeyRow& attribute : kContactAttributes) {
      joined.push_back(std::string(prefix.key) + " " +
                       std::string(attribute.key));
    }
  }
  size_t next = 0;
  for (const KeyRow& prefix : kContactPrefixes) {
    for (const KeyRow& attribute : kContactAttributes) {
      map.emplace(joined[next++],
                  RecordKey{attribute.meaning.slot, prefix.meaning.contact});
    }
  }
  return map;
}

}  // namespace

const RecordKey* FindRecordKey(std::string_view lower_key) {
  static const KeyMap keys = BuildKeyMap();
  auto found = keys.find(lower_key);
  return found == keys.end() ? nullptr : &found->second;
}

}  // namespace corvane::namewell
