// SPDX-License-Identifier: Apache-2.0
#include "whois/ReplyParser.h"

#include <array>
#include <iterator>
#include <utility>

#include "frame/Text.h"

namespace corvane::namewell {
namespace {

// The reply's first characters, where the "No match" and host-form markers
// are looked for.
constexpr size_t kHeadLength = 256;

constexpr std::string_view kEmptyLine = "\n\n";
constexpr std::string_view kLineEnd = "\n";
constexpr std::string_view kDateEnd = ".\n";
constexpr std::string_view kTechnical = "Technical Contact";
constexpr std::string_view kZone = "Zone Contact";
constexpr std::string_view kBilling = "Billing Contact";

// Walks the reply from one marker to the next, in the order the fields
// stand in it.
class ReplyCursor {
 public:
  explicit ReplyCursor(std::string_view reply) : reply_(reply) {}

  // The text between the markers; false when one is missing.
  bool Cut(std::string& content, std::string_view start_marker,
           std::string_view end_marker) {
    return GetContentBetweenTags(content, reply_, position_, start_marker,
                                 end_marker);
  }

  // Cuts a contact block that begins at the position and leaves the
  // position on its end marker, where the next heading starts.
  bool CutBlock(std::string& block, std::string_view end_marker) {
    if (!Cut(block, {}, end_marker)) return false;
    position_ -= end_marker.size();
    return true;
  }

  // A dated line's date, spaces and carriage returns trimmed (no field holds
  // a CR); the field stays as it is when the heading is missing.
  void CutDate(std::string& field, std::string_view heading) {
    std::string date;
    if (Cut(date, heading, kDateEnd)) field = TrimOf(date, " \r");
  }

  // Where `marker` next occurs at or after the position; npos when never.
  size_t NextOccurrence(std::string_view marker) const {
    return reply_.find(marker, position_);
  }

 private:
  std::string_view reply_;
  size_t position_ = 0;
};

// The contact sections in the order they stand in a reply, with the field
// each fills.
enum ContactSection : size_t {
  kAdministrative,
  kTechnicalSection,
  kZoneSection
};

struct ContactHeading {
  std::string_view heading;
  std::string WhoisRecord::*field;
};

constexpr ContactHeading kContacts[] = {
    {"Administrative Contact", &WhoisRecord::administrative_contact},
    {kTechnical, &WhoisRecord::technical_contact},
    {kZone, &WhoisRecord::zone_contact},
    {kBilling, &WhoisRecord::billing_contact},
};

// Which of the later sections share the block being read.
using SharingFlags = std::array<bool, std::size(kContacts)>;

void ParseHostForm(ReplyCursor& cursor, WhoisRecord& record) {
  std::string cut;
  if (!cursor.Cut(cut, "Hostname:", kLineEnd)) return;
  record.host_name = MyTrim(cut);
  if (!cursor.Cut(cut, "Coordinator:", kEmptyLine)) return;
  record.coordinator = MyTrim(cut);
  cursor.CutDate(record.record_updated, "Record last updated on");
  cursor.CutDate(record.database_updated, "Database last updated on");
}

// The end marker the sharing rules choose for a section's block: the next
// section's heading; when the zone contact is shared (or after the zone
// section) the billing heading if one follows, else the empty line; the
// empty line when the billing contact is shared.
std::string_view TabulatedEnd(const ReplyCursor& cursor, size_t section,
                              const SharingFlags& shared) {
  const size_t billing = std::size(kContacts) - 1;
  auto billing_or_empty_line = [&] {
    return cursor.NextOccurrence(kBilling) != std::string_view::npos
               ? kBilling
               : kEmptyLine;
  };
  if (shared[billing]) return kEmptyLine;
  if (section + 1 == billing || shared[kZoneSection]) {
    return billing_or_empty_line();
  }
  return kContacts[section + 1].heading;
}

// One contact section: its heading names the later sections that share
// its block ("Administrative Contact, Technical Contact:"). The block ends
// at whichever comes first: the marker the sharing rules choose, or a later
// contact heading that the sharing list does not name; else at the empty
// line. So a block neither runs past a heading it did not expect nor
// swallows the next contact's section. The block fills the section's field
// and those of every section still marked as sharing. False when the
// parse has to stop.
bool ParseContactSection(ReplyCursor& cursor, WhoisRecord& record,
                         size_t section, SharingFlags& shared) {
  std::string sharers;
  if (!cursor.Cut(sharers, kContacts[section].heading, ":")) return false;
  SharingFlags named{};
  for (size_t later = section + 1; later < std::size(kContacts); ++later) {
    named[later] = Contains(sharers, kContacts[later].heading);
    shared[later] = shared[later] || named[later];
  }
  std::string_view end_marker = TabulatedEnd(cursor, section, named);
  size_t earliest = cursor.NextOccurrence(end_marker);
  for (size_t later = section + 1; later < std::size(kContacts); ++later) {
    if (named[later]) continue;
    size_t at = cursor.NextOccurrence(kContacts[later].heading);
    if (at < earliest) {
      earliest = at;
      end_marker = kContacts[later].heading;
    }
  }
  if (earliest == std::string_view::npos) end_marker = kEmptyLine;
  std::string cut;
  if (!cursor.CutBlock(cut, end_marker)) return false;
  std::string block = MyTrim(cut);
  if (block.empty()) return true;
  record.*kContacts[section].field = block;
  for (size_t later = section + 1; later < std::size(kContacts); ++later) {
    if (shared[later]) record.*kContacts[later].field = block;
    shared[later] = false;
  }
  return true;
}

void ParseBillingSection(ReplyCursor& cursor, WhoisRecord& record) {
  std::string cut;
  if (!cursor.Cut(cut, "Billing Contact:", kEmptyLine)) return;
  std::string block = MyTrim(cut);
  if (!block.empty()) record.billing_contact = block;
}

// The four contact sections; false when the parse has to stop. A section
// whose contact an earlier block already filled is not looked for.
bool ParseContactSections(ReplyCursor& cursor, WhoisRecord& record) {
  SharingFlags shared{};
  for (size_t section : {kAdministrative, kTechnicalSection, kZoneSection}) {
    if (section != kAdministrative &&
        !(record.*kContacts[section].field).empty()) {
      continue;
    }
    if (!ParseContactSection(cursor, record, section, shared)) return false;
  }
  if (record.billing_contact.empty()) ParseBillingSection(cursor, record);
  return true;
}

void ParseDomainForm(ReplyCursor& cursor, WhoisRecord& record) {
  std::string cut;
  if (!cursor.Cut(cut, "Registrant:", kEmptyLine)) return;
  record.registrant = MyTrim(cut);
  if (!cursor.Cut(cut, "Domain Name:", kEmptyLine)) return;
  record.domain_name = MyTrim(cut);
  if (!ParseContactSections(cursor, record)) return;
  cursor.CutDate(record.record_updated, "Record last updated on");
  cursor.CutDate(record.record_created, "Record created on");
  cursor.CutDate(record.database_updated, "Database last updated on");
  if (cursor.Cut(cut, "Domain servers in listed order:\n\n", kEmptyLine)) {
    record.domain_servers = MyTrim(cut);
  }
}

}  // namespace

// Every text field of a record.
constexpr std::string WhoisRecord::*kTextFields[] = {
    &WhoisRecord::registrant,
    &WhoisRecord::domain_name,
    &WhoisRecord::administrative_contact,
    &WhoisRecord::technical_contact,
    &WhoisRecord::zone_contact,
    &WhoisRecord::billing_contact,
    &WhoisRecord::record_updated,
    &WhoisRecord::record_created,
    &WhoisRecord::database_updated,
    &WhoisRecord::domain_servers,
    &WhoisRecord::host_name,
    &WhoisRecord::coordinator,
    &WhoisRecord::registrar,
    &WhoisRecord::expiry_time,
    &WhoisRecord::domain_status,
    &WhoisRecord::redacted_fields,
    &WhoisRecord::network_range,
    &WhoisRecord::network_name,
    &WhoisRecord::country,
    &WhoisRecord::abuse_email,
};

void FillEmptyFields(WhoisRecord& target, WhoisRecord source) {
  for (std::string WhoisRecord::*field : kTextFields) {
    if ((target.*field).empty()) target.*field = std::move(source.*field);
  }
}

bool GetContentBetweenTags(std::string& content, std::string_view text,
                           size_t& position, std::string_view start_marker,
                           std::string_view end_marker) {
  content.clear();
  size_t start = position;
  if (!start_marker.empty()) {
    start = text.find(start_marker, position);
    if (start == std::string_view::npos) return false;
  }
  size_t first = start + start_marker.size();
  size_t end = text.find(end_marker, first);
  if (end == std::string_view::npos) return false;
  content.assign(text.substr(first, end - first));
  position = end + end_marker.size();
  return true;
}

std::string MyTrim(std::string_view text) {
  return std::string(TrimOf(text, "\n \r\t"));
}

std::string WithLineFeedEnds(std::string_view reply) {
  std::string text;
  text.reserve(reply.size());
  size_t copied = 0;  // the first byte not yet copied
  for (size_t cr = reply.find('\r'); cr != std::string_view::npos;) {
    size_t after = reply.find_first_not_of('\r', cr);
    if (after == std::string_view::npos) break;
    if (reply[after] == '\n') {
      text.append(reply.substr(copied, cr - copied));
      copied = after;
    }
    cr = reply.find('\r', after);
  }
  text.append(reply.substr(copied));
  return text;
}

WhoisRecord ParseResponse(std::string_view received) {
  // Many servers end every line with CR LF; the markers expect LF alone.
  std::string normalised;
  std::string_view reply = received;
  if (Contains(received, "\r")) {
    normalised = WithLineFeedEnds(received);
    reply = normalised;
  }
  WhoisRecord record;
  std::string_view head = reply.substr(0, kHeadLength);
  if (Contains(head, "No match")) return record;
  record.record_found = true;
  ReplyCursor cursor(reply);
  if (Contains(head, "Coordinator:")) {
    ParseHostForm(cursor, record);
  } else {
    ParseDomainForm(cursor, record);
  }
  return record;
}

}  // namespace corvane::namewell
