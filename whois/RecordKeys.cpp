// SPDX-License-Identifier: Apache-2.0
#include "whois/RecordKeys.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
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
    {"registration service provided by", {kRegistrar}},
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
    {"record created on", {kCreated}},
    {"record last updated on", {kUpdated}},
    {"record expires on", {kExpiry}},
    {"database last updated on", {kDatabaseUpdated}},
    {"date registered", {kCreated}},
    {"registered date", {kCreated}},
    {"date last updated", {kUpdated}},
    {"domain record last updated", {kUpdated}},
    {"domain expires", {kExpiry}},
    {"domain servers in listed order", {kNameServer}},
    {"server name", {kHostRecord}},
    {"state", {kState}},
    {"holder", {kContactHandle, C::kRegistrant}},
    {"registrant contact", {kContactAddress, C::kRegistrant}},
    {"administrative contact(s)", {kContactAddress, C::kAdministrative}},
    {"technical contact(s)", {kContactAddress, C::kTechnical}},
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
    {"registrant contact", {kContactAddress, C::kRegistrant}},
    {"admin contact", {kContactAddress, C::kAdministrative}},
    {"tech contact", {kContactAddress, C::kTechnical}},
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

// A hash of the key's length and its first and last four bytes: cheap, as
// it runs once for every line of a reply, and the keys differ there.
uint32_t KeyHash(std::string_view key) {
  uint32_t head = 0;
  uint32_t tail = 0;
  size_t count = std::min<size_t>(key.size(), 4);
  std::memcpy(&head, key.data(), count);
  std::memcpy(&tail, key.data() + key.size() - count, count);
  uint64_t mixed =
      ((static_cast<uint64_t>(head) << 32) | tail) * 0x9E3779B97F4A7C15ull;
  return static_cast<uint32_t>(mixed >> 32) ^
         static_cast<uint32_t>(key.size() * 0x85EBCA6Bu);
}

// Every key with its meaning in an open-addressing table, looked up once
// per reply line.
class KeyTable {
 public:
  KeyTable() {
    for (const KeyRow& row : kKeys) Insert(row.key, row.meaning);
    for (const KeyRow& prefix : kContactPrefixes) {
      for (const KeyRow& attribute : kContactAttributes) {
        composed_.push_back(std::string(prefix.key) + " " +
                            std::string(attribute.key));
      }
    }
    size_t next = 0;
    for (const KeyRow& prefix : kContactPrefixes) {
      for (const KeyRow& attribute : kContactAttributes) {
        Insert(composed_[next++],
               {attribute.meaning.slot, prefix.meaning.contact});
      }
    }
  }

  const RecordKey* Find(std::string_view key) const {
    for (size_t at = KeyHash(key) & kMask;; at = (at + 1) & kMask) {
      const Slot& slot = slots_[at];
      if (slot.key.empty()) return nullptr;
      if (slot.key == key) return &slot.meaning;
    }
  }

 private:
  static constexpr size_t kSize = 1024;  // well above the number of keys
  static constexpr size_t kMask = kSize - 1;
  struct Slot {
    std::string_view key;
    RecordKey meaning{KeySlot::kDomainName};
  };

  void Insert(std::string_view key, RecordKey meaning) {
    size_t at = KeyHash(key) & kMask;
    while (!slots_[at].key.empty() && slots_[at].key != key) {
      at = (at + 1) & kMask;
    }
    if (slots_[at].key.empty()) slots_[at] = {key, meaning};
  }

  std::vector<std::string> composed_;  // storage of the composed keys
  std::array<Slot, kSize> slots_{};
};

}  // namespace

const RecordKey* FindRecordKey(std::string_view lower_key) {
  if (lower_key.empty()) return nullptr;
  static const KeyTable keys;
  return keys.Find(lower_key);
}

}  // namespace corvane::namewell
