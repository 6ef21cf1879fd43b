// SPDX-License-Identifier: Apache-2.0
// The one table of the keys that whois replies in key-value form use for a
// record's fields ("Domain Name", "Registrant Email", "nserver", ...), with
// their common variants; keys are compared without regard to case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvane::namewell {

// What a key's value is.
enum class KeySlot : uint8_t {
  kDomainName,
  kRegistrar,
  kCreated,
  kUpdated,
  kExpiry,
  kDatabaseUpdated,
  kNameServer,
  kStatus,
  kReferral,         // the next server to ask ("whois:", "ReferralServer:")
  kRegistryPointer,  // IANA's "refer:": the answer only points onwards
  kContactAddress,   // a contact's name, organisation or address line
  kContactDetail,    // a contact's telephone, fax or e-mail line
  kContactHandle,    // a contact named by handle ("admin-c: JD1-ZZ")
  kHandleName,       // the handle a contact paragraph describes ("nic-hdl")
  kHandleLine,       // a line of such a paragraph ("person", "e-mail", ...)
  kHostRecord,       // a host's record in a list of look-alikes ("Server Name")
  kState,            // the domain's state, in the domain's own paragraph
};

// The contact a key belongs to.
enum class Contact : uint8_t {
  kNone,
  kRegistrant,
  kAdministrative,
  kTechnical,
  kZone,
  kBilling,
};
inline constexpr size_t kContactCount = 6;

struct RecordKey {
  KeySlot slot;
  Contact contact = Contact::kNone;
};

// The meaning of `lower_key` (lower-case ASCII, brackets and the colon
// removed); nullptr when the key names no field.
const RecordKey* FindRecordKey(std::string_view lower_key);

}  // namespace corvane::namewell
