// SPDX-License-Identifier: Apache-2.0
#include "whois/RdapReply.h"

#include <simdjson.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <vector>

#include "frame/Text.h"
#include "whois/KeyValueReply.h"

namespace corvane::namewell {
namespace {

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::element_type;
using simdjson::dom::object;

// Answers that nest deeper are not read: the fields lie far above this.
constexpr size_t kDeepest = 128;
// Entities looked at, nested ones included.
constexpr size_t kMostEntities = 10000;
// Answers up to this size are read with the thread's parser, whose buffers
// stay warm between answers; larger ones get a parser of their own, so a
// rare large answer does not keep its memory.
constexpr size_t kWarmParserBytes = 1 << 20;

using Lines = std::vector<std::string_view>;

// The member `key` of `value` when `value` is an object that has it.
bool Member(element value, std::string_view key, element& found) {
  object members;
  if (value.get(members) != simdjson::SUCCESS) return false;
  return members.at_key(key).get(found) == simdjson::SUCCESS;
}

// The text member `key` of `value`; false when it is missing or no text.
bool TextMember(element value, std::string_view key, std::string_view& text) {
  element found;
  return Member(value, key, found) && found.get(text) == simdjson::SUCCESS;
}

// The array member `key` of `value`; false when it is none.
bool ArrayMember(element value, std::string_view key, array& items) {
  element found;
  return Member(value, key, found) && found.get(items) == simdjson::SUCCESS;
}

std::string Joined(const Lines& lines, std::string_view separator = "\n") {
  std::string text;
  for (std::string_view line : lines) {
    if (!text.empty()) text.append(separator);
    text.append(line);
  }
  return text;
}

void AddText(std::string_view text, Lines& lines) {
  // "REDACTED FOR PRIVACY" and its kin stand for no data.
  if (!TrimSpaces(text).empty() && !IsPlaceholder(text)) lines.push_back(text);
}

// Each text of an array; other items left out.
void AddTexts(array items, Lines& lines) {
  std::string_view text;
  for (element item : items) {
    if (item.get(text) == simdjson::SUCCESS) AddText(text, lines);
  }
}

// A text value, or each text of an array of texts; empty ones left out.
void AddTexts(element value, Lines& lines) {
  std::string_view text;
  array items;
  if (value.get(text) == simdjson::SUCCESS) {
    AddText(text, lines);
  } else if (value.get(items) == simdjson::SUCCESS) {
    AddTexts(items, lines);
  }
}

// An "adr" property: its components in order (post office box, extended
// address, street lines, locality, region, postal code, country), or its
// "label" parameter when the components are empty.
void AddAddress(array property, Lines& lines) {
  size_t before = lines.size();
  array components;
  if (property.size() > 3 &&
      property.at(3).get(components) == simdjson::SUCCESS) {
    for (element component : components) AddTexts(component, lines);
  }
  if (lines.size() == before) {
    std::string_view label;
    if (TextMember(property.at(1).value_unsafe(), "label", label) &&
        !TrimSpaces(label).empty()) {
      lines.push_back(label);
    }
  }
}

// The jCard properties of an entity ("vcardArray": ["vcard", [...]]).
bool CardProperties(element entity, array& properties) {
  array card;
  if (!ArrayMember(entity, "vcardArray", card) || card.size() < 2) return false;
  return card.at(1).get(properties) == simdjson::SUCCESS;
}

// The values of the card's properties named `name`, in card order.
void AddProperty(array properties, std::string_view name, Lines& lines) {
  for (element value : properties) {
    array property;
    if (value.get(property) != simdjson::SUCCESS || property.size() < 4) {
      continue;
    }
    std::string_view property_name;
    if (property.at(0).get(property_name) != simdjson::SUCCESS ||
        !EqualsIgnoringCase(property_name, name)) {
      continue;
    }
    if (name == "adr") {
      AddAddress(property, lines);
      continue;
    }
    size_t index = 0;
    for (element part : property) {
      if (index++ >= 3) AddTexts(part, lines);
    }
  }
}

// A contact's text block: name, organisation and address, and for all but
// the registrant telephone and e-mail lines, as whois contact blocks are.
std::string ContactBlock(element entity, bool with_details) {
  array properties;
  if (!CardProperties(entity, properties)) return {};
  Lines lines;
  for (std::string_view name : {"fn", "org", "adr"}) {
    AddProperty(properties, name, lines);
  }
  if (with_details) {
    for (std::string_view name : {"tel", "email"}) {
      AddProperty(properties, name, lines);
    }
  }
  return Joined(lines);
}

std::string CardName(element entity) {
  array properties;
  if (!CardProperties(entity, properties)) return {};
  Lines lines;
  AddProperty(properties, "fn", lines);
  if (lines.empty()) AddProperty(properties, "org", lines);
  return lines.empty() ? std::string() : std::string(lines.front());
}

void TakeRole(element entity, std::string_view role, WhoisRecord& record) {
  struct RoleField {
    std::string_view role;
    std::string WhoisRecord::*field;
    bool with_details;
  };
  static constexpr RoleField kRoles[] = {
      {"registrant", &WhoisRecord::registrant, false},
      {"administrative", &WhoisRecord::administrative_contact, true},
      {"technical", &WhoisRecord::technical_contact, true},
      {"billing", &WhoisRecord::billing_contact, true},
  };
  if (EqualsIgnoringCase(role, "registrar")) {
    if (record.registrar.empty()) record.registrar = CardName(entity);
    return;
  }
  if (EqualsIgnoringCase(role, "abuse")) {
    array properties;
    Lines lines;
    if (record.abuse_email.empty() && CardProperties(entity, properties)) {
      AddProperty(properties, "email", lines);
      if (!lines.empty()) record.abuse_email = lines.front();
    }
    return;
  }
  for (const RoleField& known : kRoles) {
    if (!EqualsIgnoringCase(role, known.role)) continue;
    std::string& field = record.*known.field;
    if (field.empty()) field = ContactBlock(entity, known.with_details);
  }
}

// Entities by their roles, breadth first, so the domain's own entities
// come before those nested in them; the first one of a role counts.
void ReadEntities(element answer, WhoisRecord& record) {
  std::vector<element> pending;
  array entities;
  if (ArrayMember(answer, "entities", entities)) {
    for (element entity : entities) pending.push_back(entity);
  }
  for (size_t next = 0; next < pending.size() && next < kMostEntities; ++next) {
    element entity = pending[next];
    array roles;
    if (ArrayMember(entity, "roles", roles)) {
      for (element role : roles) {
        std::string_view text;
        if (role.get(text) == simdjson::SUCCESS) {
          TakeRole(entity, text, record);
        }
      }
    }
    array nested;
    if (ArrayMember(entity, "entities", nested)) {
      for (element inner : nested) {
        if (pending.size() >= kMostEntities) break;
        pending.push_back(inner);
      }
    }
  }
}

void ReadEvents(element answer, WhoisRecord& record) {
  static constexpr std::pair<std::string_view, std::string WhoisRecord::*>
      kEvents[] = {
          {"registration", &WhoisRecord::record_created},
          {"last changed", &WhoisRecord::record_updated},
          {"expiration", &WhoisRecord::expiry_time},
          {"last update of rdap database", &WhoisRecord::database_updated},
      };
  array events;
  if (!ArrayMember(answer, "events", events)) return;
  for (element event : events) {
    std::string_view action;
    std::string_view date;
    if (!TextMember(event, "eventAction", action) ||
        !TextMember(event, "eventDate", date)) {
      continue;
    }
    for (const auto& [wanted, field] : kEvents) {
      if (EqualsIgnoringCase(action, wanted) && (record.*field).empty()) {
        record.*field = date;
      }
    }
  }
}

// "ldhName", or "ldhName (unicodeName)" when the Unicode form differs, or
// the Unicode form alone.
std::string NameOf(element object) {
  std::string_view ldh;
  std::string_view unicode;
  bool has_ldh = TextMember(object, "ldhName", ldh) && !ldh.empty();
  bool has_unicode = TextMember(object, "unicodeName", unicode);
  if (has_ldh) {
    if (!has_unicode || unicode.empty() || EqualsIgnoringCase(ldh, unicode)) {
      return std::string(ldh);
    }
    return std::string(ldh) + " (" + std::string(unicode) + ")";
  }
  return std::string(unicode);
}

void ReadNameServers(element answer, WhoisRecord& record) {
  array servers;
  if (!ArrayMember(answer, "nameservers", servers)) return;
  Lines lines;
  for (element server : servers) {
    std::string_view name;
    if (!TextMember(server, "ldhName", name) || name.empty()) {
      if (!TextMember(server, "unicodeName", name)) name = {};
    }
    if (!name.empty()) lines.push_back(name);
  }
  record.domain_servers = Joined(lines);
}

void ReadStatus(element answer, WhoisRecord& record) {
  Lines lines;
  array status;
  if (ArrayMember(answer, "status", status)) AddTexts(status, lines);
  record.domain_status = Joined(lines);
}

std::string RelatedLink(element answer) {
  array links;
  if (!ArrayMember(answer, "links", links)) return {};
  for (element link : links) {
    std::string_view rel;
    std::string_view type;
    std::string_view href;
    if (TextMember(link, "rel", rel) && EqualsIgnoringCase(rel, "related") &&
        TextMember(link, "type", type) && TextMember(link, "href", href) &&
        !href.empty() &&
        EqualsIgnoringCase(type.substr(0, 21), "application/rdap+json")) {
      return std::string(href);
    }
  }
  return {};
}

// "start - end" of an IP network's addresses or an autnum's numbers; the
// one value when both are the same, empty when the answer has neither.
std::string RangeOf(element answer, std::string_view start_key,
                    std::string_view end_key) {
  element start;
  element end;
  auto text = [](element value) {
    std::string_view written;
    uint64_t number = 0;
    if (value.get(written) == simdjson::SUCCESS) return std::string(written);
    if (value.get(number) == simdjson::SUCCESS) return std::to_string(number);
    return std::string();
  };
  std::string first = Member(answer, start_key, start) ? text(start) : "";
  std::string last = Member(answer, end_key, end) ? text(end) : "";
  if (first.empty() || first == last) return last;
  if (last.empty()) return first;
  return first + " - " + last;
}

// The fields of an "ip network" or "autnum" answer.
void ReadNetwork(element answer, WhoisRecord& record) {
  record.network_range = RangeOf(answer, "startAddress", "endAddress");
  if (record.network_range.empty()) {
    record.network_range = RangeOf(answer, "startAutnum", "endAutnum");
  }
  std::string_view text;
  if (TextMember(answer, "name", text)) record.network_name = text;
  if (TextMember(answer, "country", text)) record.country = text;
}

// The error object's members; false when the answer is none.
bool ReadError(element answer, RdapReply& reply) {
  element code;
  if (!Member(answer, "errorCode", code)) return false;
  reply.error_object = true;
  if (code.type() == element_type::UINT64) {
    reply.error_code = static_cast<long>(
        std::min<uint64_t>(code.get_uint64().value_unsafe(), LONG_MAX));
  } else if (code.type() == element_type::INT64) {
    reply.error_code = static_cast<long>(code.get_int64().value_unsafe());
  }
  std::string_view title;
  if (TextMember(answer, "title", title)) reply.error_title = title;
  Lines lines;
  array description;
  if (ArrayMember(answer, "description", description)) {
    AddTexts(description, lines);
  }
  reply.error_description = Joined(lines, " ");
  return true;
}

// The names of the members the answer says it redacted (RFC 9537:
// "redacted" entries with a name's "type" or "description"), one a line.
std::string RedactedNames(element answer) {
  array redacted;
  if (!ArrayMember(answer, "redacted", redacted)) return {};
  Lines lines;
  for (element entry : redacted) {
    element name;
    if (!Member(entry, "name", name) || !name.is_object()) continue;
    std::string_view text;
    if (!TextMember(name, "type", text) &&
        !TextMember(name, "description", text)) {
      continue;
    }
    if (!TrimSpaces(text).empty()) lines.push_back(text);
  }
  return Joined(lines);
}

// A parser bound to kDeepest levels; nullptr when its memory cannot be had.
std::unique_ptr<simdjson::dom::parser> BoundedParser() {
  auto parser = std::make_unique<simdjson::dom::parser>();
  if (parser->allocate(4096, kDeepest) != simdjson::SUCCESS) return nullptr;
  return parser;
}

// The fields of the answer's document; `document` is its root object.
void ReadDocument(element document, RdapReply& reply) {
  reply.readable = true;
  if (ReadError(document, reply)) return;
  WhoisRecord& record = reply.record;
  record.record_found = true;
  record.domain_name = NameOf(document);
  ReadEntities(document, record);
  ReadEvents(document, record);
  ReadNameServers(document, record);
  ReadStatus(document, record);
  ReadNetwork(document, record);
  reply.related = RelatedLink(document);
  record.redacted_fields = RedactedNames(document);
}

}  // namespace

RdapReply ReadRdapReply(std::string_view answer) {
  RdapReply reply;
  thread_local std::unique_ptr<simdjson::dom::parser> warm = BoundedParser();
  std::unique_ptr<simdjson::dom::parser> own;
  simdjson::dom::parser* parser = warm.get();
  if (answer.size() > kWarmParserBytes || !parser) {
    own = BoundedParser();
    parser = own.get();
  }
  if (!parser) return reply;
  // The whole document is checked (UTF-8, syntax, depth) before any field
  // is read; strings are read in place from the parser's buffers.
  element document;
  if (parser->parse(answer.data(), answer.size()).get(document) !=
          simdjson::SUCCESS ||
      !document.is_object()) {
    return reply;
  }
  ReadDocument(document, reply);
  return reply;
}

}  // namespace corvane::namewell
