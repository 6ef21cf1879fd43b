// SPDX-License-Identifier: Apache-2.0
#include "whois/RdapReply.h"

#include <climits>
#include <nlohmann/json.hpp>
#include <vector>

#include "frame/Text.h"
#include "whois/KeyValueReply.h"

namespace corvane::namewell {
namespace {

using nlohmann::json;

// Answers that nest deeper are not read: the fields lie far above this,
// and a document is only built for answers within it.
constexpr int kDeepest = 128;
// Entities looked at, nested ones included.
constexpr size_t kMostEntities = 10000;

using Lines = std::vector<std::string_view>;

// The text member `key` of `object`; nullptr when it is missing or no text.
const std::string* TextMember(const json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return nullptr;
  return &found->get_ref<const std::string&>();
}

// The array member `key` of `object`; nullptr when it is none.
const json* ArrayMember(const json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  auto found = object.find(key);
  return found != object.end() && found->is_array() ? &*found : nullptr;
}

bool IsText(const std::string* text, std::string_view wanted) {
  return text && EqualsIgnoringCase(*text, wanted);
}

std::string Joined(const Lines& lines, std::string_view separator = "\n") {
  std::string text;
  for (std::string_view line : lines) {
    if (!text.empty()) text.append(separator);
    text.append(line);
  }
  return text;
}

// A text value, or each text of an array of texts; empty ones left out.
void AddTexts(const json& value, Lines& lines) {
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    // "REDACTED FOR PRIVACY" and its kin stand for no data.
    if (!TrimSpaces(text).empty() && !IsPlaceholder(text)) {
      lines.push_back(text);
    }
    return;
  }
  if (!value.is_array()) return;
  for (const json& item : value) {
    if (item.is_string()) AddTexts(item, lines);
  }
}

// An "adr" property: its components in order (post office box, extended
// address, street lines, locality, region, postal code, country), or its
// "label" parameter when the components are empty.
void AddAddress(const json& property, Lines& lines) {
  size_t before = lines.size();
  if (property.size() > 3 && property[3].is_array()) {
    for (const json& component : property[3]) AddTexts(component, lines);
  }
  if (lines.size() == before) {
    const std::string* label = TextMember(property[1], "label");
    if (label && !TrimSpaces(*label).empty()) lines.push_back(*label);
  }
}

// The jCard properties of an entity ("vcardArray": ["vcard", [...]]).
const json* CardProperties(const json& entity) {
  const json* card = ArrayMember(entity, "vcardArray");
  if (!card || card->size() < 2 || !(*card)[1].is_array()) return nullptr;
  return &(*card)[1];
}

// The values of the card's properties named `name`, in card order.
void AddProperty(const json& properties, std::string_view name, Lines& lines) {
  for (const json& property : properties) {
    if (!property.is_array() || property.size() < 4) continue;
    if (!property[0].is_string() ||
        !EqualsIgnoringCase(property[0].get_ref<const std::string&>(), name)) {
      continue;
    }
    if (name == "adr") {
      AddAddress(property, lines);
      continue;
    }
    for (size_t i = 3; i < property.size(); ++i) AddTexts(property[i], lines);
  }
}

// A contact's text block: name, organisation and address, and for all but
// the registrant telephone and e-mail lines, as whois contact blocks are.
std::string ContactBlock(const json& entity, bool with_details) {
  const json* properties = CardProperties(entity);
  if (!properties) return {};
  Lines lines;
  for (std::string_view name : {"fn", "org", "adr"}) {
    AddProperty(*properties, name, lines);
  }
  if (with_details) {
    for (std::string_view name : {"tel", "email"}) {
      AddProperty(*properties, name, lines);
    }
  }
  return Joined(lines);
}

std::string CardName(const json& entity) {
  const json* properties = CardProperties(entity);
  if (!properties) return {};
  Lines lines;
  AddProperty(*properties, "fn", lines);
  if (lines.empty()) AddProperty(*properties, "org", lines);
  return lines.empty() ? std::string() : std::string(lines.front());
}

void TakeRole(const json& entity, std::string_view role, WhoisRecord& record) {
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
  for (const RoleField& known : kRoles) {
    if (!EqualsIgnoringCase(role, known.role)) continue;
    std::string& field = record.*known.field;
    if (field.empty()) field = ContactBlock(entity, known.with_details);
  }
}

// Entities by their roles, breadth first, so the domain's own entities
// come before those nested in them; the first one of a role counts.
void ReadEntities(const json& answer, WhoisRecord& record) {
  std::vector<const json*> pending;
  if (const json* entities = ArrayMember(answer, "entities")) {
    for (const json& entity : *entities) pending.push_back(&entity);
  }
  for (size_t next = 0; next < pending.size() && next < kMostEntities; ++next) {
    const json& entity = *pending[next];
    if (const json* roles = ArrayMember(entity, "roles")) {
      for (const json& role : *roles) {
        if (role.is_string()) {
          TakeRole(entity, role.get_ref<const std::string&>(), record);
        }
      }
    }
    if (const json* nested = ArrayMember(entity, "entities")) {
      for (const json& inner : *nested) {
        if (pending.size() >= kMostEntities) break;
        pending.push_back(&inner);
      }
    }
  }
}

void ReadEvents(const json& answer, WhoisRecord& record) {
  static constexpr std::pair<std::string_view, std::string WhoisRecord::*>
      kEvents[] = {
          {"registration", &WhoisRecord::record_created},
          {"last changed", &WhoisRecord::record_updated},
          {"expiration", &WhoisRecord::expiry_time},
          {"last update of rdap database", &WhoisRecord::database_updated},
      };
  const json* events = ArrayMember(answer, "events");
  if (!events) return;
  for (const json& event : *events) {
    const std::string* action = TextMember(event, "eventAction");
    const std::string* date = TextMember(event, "eventDate");
    if (!action || !date) continue;
    for (const auto& [wanted, field] : kEvents) {
      if (EqualsIgnoringCase(*action, wanted) && (record.*field).empty()) {
        record.*field = *date;
      }
    }
  }
}

// "ldhName", or "ldhName (unicodeName)" when the Unicode form differs, or
// the Unicode form alone.
std::string NameOf(const json& object) {
  const std::string* ldh = TextMember(object, "ldhName");
  const std::string* unicode = TextMember(object, "unicodeName");
  if (ldh && !ldh->empty()) {
    if (!unicode || unicode->empty() || EqualsIgnoringCase(*ldh, *unicode)) {
      return *ldh;
    }
    return *ldh + " (" + *unicode + ")";
  }
  return unicode ? *unicode : std::string();
}

void ReadNameServers(const json& answer, WhoisRecord& record) {
  const json* servers = ArrayMember(answer, "nameservers");
  if (!servers) return;
  Lines lines;
  for (const json& server : *servers) {
    const std::string* ldh = TextMember(server, "ldhName");
    if (!ldh || ldh->empty()) ldh = TextMember(server, "unicodeName");
    if (ldh && !ldh->empty()) lines.push_back(*ldh);
  }
  record.domain_servers = Joined(lines);
}

void ReadStatus(const json& answer, WhoisRecord& record) {
  Lines lines;
  if (const json* status = ArrayMember(answer, "status")) {
    AddTexts(*status, lines);
  }
  record.domain_status = Joined(lines);
}

std::string RelatedLink(const json& answer) {
  const json* links = ArrayMember(answer, "links");
  if (!links) return {};
  for (const json& link : *links) {
    const std::string* type = TextMember(link, "type");
    const std::string* href = TextMember(link, "href");
    if (IsText(TextMember(link, "rel"), "related") && type && href &&
        !href->empty() &&
        EqualsIgnoringCase(type->substr(0, 21), "application/rdap+json")) {
      return *href;
    }
  }
  return {};
}

// The error object's members; false when the answer is none.
bool ReadError(const json& answer, RdapReply& reply) {
  auto code = answer.find("errorCode");
  if (code == answer.end()) return false;
  reply.error_object = true;
  if (code->is_number_unsigned()) {
    reply.error_code =
        static_cast<long>(std::min<uint64_t>(code->get<uint64_t>(), LONG_MAX));
  } else if (code->is_number_integer()) {
    reply.error_code = code->get<long>();
  }
  if (const std::string* title = TextMember(answer, "title")) {
    reply.error_title = *title;
  }
  Lines lines;
  if (const json* description = ArrayMember(answer, "description")) {
    AddTexts(*description, lines);
  }
  reply.error_description = Joined(lines, " ");
  return true;
}

// Whether the arrays and objects of `text` nest at most kDeepest levels
// (brackets within strings do not count); a linear scan before parsing.
bool NestsWithinBound(std::string_view text) {
  int depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kDeepest) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

// The names of the members the answer says it redacted (RFC 9537:
// "redacted" entries with a name's "type" or "description"), one a line.
std::string RedactedNames(const json& answer) {
  const json* redacted = ArrayMember(answer, "redacted");
  if (!redacted) return {};
  Lines lines;
  for (const json& entry : *redacted) {
    if (!entry.is_object()) continue;
    auto name = entry.find("name");
    if (name == entry.end() || !name->is_object()) continue;
    const std::string* text = TextMember(*name, "type");
    if (!text) text = TextMember(*name, "description");
    if (text && !TrimSpaces(*text).empty()) lines.push_back(*text);
  }
  return Joined(lines);
}

}  // namespace

RdapReply ReadRdapReply(std::string_view answer) {
  RdapReply reply;
  if (!NestsWithinBound(answer)) return reply;
  json document = json::parse(answer.begin(), answer.end(), nullptr, false);
  if (document.is_discarded() || !document.is_object()) return reply;
  reply.readable = true;
  if (ReadError(document, reply)) return reply;
  WhoisRecord& record = reply.record;
  record.record_found = true;
  record.domain_name = NameOf(document);
  ReadEntities(document, record);
  ReadEvents(document, record);
  ReadNameServers(document, record);
  ReadStatus(document, record);
  reply.related = RelatedLink(document);
  record.redacted_fields = RedactedNames(document);
  return reply;
}

}  // namespace corvane::namewell
