// SPDX-License-Identifier: Apache-2.0
#include "whois/KeyValueReply.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "frame/Text.h"
#include "whois/RecordKeys.h"

namespace corvane::namewell {
namespace {

// Longer texts before a colon are prose, not keys.
constexpr size_t kLongestKey = 64;

// Lines that say there is no such record, lower case; a line counts when it
// begins with one (after blanks and comment marks).
constexpr std::string_view kNotFoundWordings[] = {
    "no match for",     "not found",  "no data found",    "status: free",
    "no entries found", "no match!!", "domain not found",
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Without blanks (and CRs) at either end; a plain loop, as this runs for
// every line of the reply.
std::string_view TrimBlankEnds(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The single-valued fields, by KeySlot value.
constexpr std::string WhoisRecord::*kSingleFields[] = {
    &WhoisRecord::domain_name,    &WhoisRecord::registrar,
    &WhoisRecord::record_created, &WhoisRecord::record_updated,
    &WhoisRecord::expiry_time,    &WhoisRecord::database_updated,
};

constexpr std::string WhoisRecord::*kContactFields[kContactCount] = {
    nullptr,
    &WhoisRecord::registrant,
    &WhoisRecord::administrative_contact,
    &WhoisRecord::technical_contact,
    &WhoisRecord::zone_contact,
    &WhoisRecord::billing_contact,
};

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool IsNotFoundLine(std::string_view text) {
  char first = LowerAscii(text.empty() ? '\0' : text.front());
  if (first != 'n' && first != 's' && first != 'd') return false;
  for (std::string_view wording : kNotFoundWordings) {
    if (StartsWithIgnoringCase(text, wording)) return true;
  }
  return false;
}

// A status without the explanatory link registries append to it.
std::string_view StatusWord(std::string_view value) {
  size_t link = value.find(" http");
  return link == std::string_view::npos ? value
                                        : TrimBlankEnds(value.substr(0, link));
}

// A name server without the addresses written after it and without the
// final dot of a fully qualified name.
std::string_view ServerName(std::string_view value) {
  size_t end = 0;
  while (end < value.size() && !IsBlank(value[end])) ++end;
  value = value.substr(0, end);
  if (value.size() > 1 && value.back() == '.') value.remove_suffix(1);
  return TrimBlankEnds(value);
}

// A date without the full stop that ends an older reply's sentence, nor
// the blanks before it.
std::string_view DateValue(std::string_view value) {
  if (value.size() > 1 && value.back() == '.') value.remove_suffix(1);
  return TrimBlankEnds(value);
}

bool IsDateSlot(KeySlot slot) {
  return slot == KeySlot::kCreated || slot == KeySlot::kUpdated ||
         slot == KeySlot::kExpiry || slot == KeySlot::kDatabaseUpdated;
}

// Date lines of older replies written as sentences, lower case.
struct Sentence {
  std::string_view prefix;
  KeySlot slot;
};
constexpr Sentence kSentences[] = {
    {"record expires on ", KeySlot::kExpiry},
    {"record created on ", KeySlot::kCreated},
    {"record last updated on ", KeySlot::kUpdated},
    {"database last updated on ", KeySlot::kDatabaseUpdated},
    {"last updated on ", KeySlot::kDatabaseUpdated},
};

// Headings of blocks whose lines describe one thing (.it's indented
// blocks, .de's "[Tech-C]"), lower case; a heading stands alone on an
// unindented line and its block ends at the next empty line.
enum class Section : uint8_t { kNone, kContact, kRegistrar, kNameServers };
struct SectionHeading {
  std::string_view heading;
  Section section;
  Contact contact = Contact::kNone;
};
constexpr SectionHeading kSectionHeadings[] = {
    {"registrant", Section::kContact, Contact::kRegistrant},
    {"admin contact", Section::kContact, Contact::kAdministrative},
    {"technical contacts", Section::kContact, Contact::kTechnical},
    {"technical contact", Section::kContact, Contact::kTechnical},
    {"registrar", Section::kRegistrar},
    {"nameservers", Section::kNameServers},
    {"[holder]", Section::kContact, Contact::kRegistrant},
    {"[admin-c]", Section::kContact, Contact::kAdministrative},
    {"[tech-c]", Section::kContact, Contact::kTechnical},
    {"[zone-c]", Section::kContact, Contact::kZone},
};

// The keys of a contact's lines within such a block.
constexpr std::string_view kSectionContactKeys[] = {
    "name",  "organization", "organisation", "address",     "street",
    "city",  "postalcode",   "postal code",  "countrycode", "country",
    "phone", "fax",          "email",        "e-mail",
};

const SectionHeading* FindSectionHeading(std::string_view text) {
  if (text.size() > 20) return nullptr;
  for (const SectionHeading& heading : kSectionHeadings) {
    if (EqualsIgnoringCase(text, heading.heading)) return &heading;
  }
  return nullptr;
}

// Values that stand in for data; `withheld` marks those that say the data
// exists but is not shown.
struct Placeholder {
  std::string_view prefix;
  bool withheld;
};
constexpr Placeholder kPlaceholders[] = {
    {"redacted", true},
    {"data redacted", true},
    {"please query the rdds service", true},
    {"please query the whois service", true},
    {"not disclosed", true},
    {"non-public data", true},
    {"gdpr masked", true},
    {"statutory masking enabled", true},
    {"withheld for privacy", true},
    {"data protected", true},
    {"visit ",
     true},  // "Visit whois.example to send a message to this contact"
    {"no registrar listed", false},
};

const Placeholder* FindPlaceholder(std::string_view value) {
  if (value == "-") {
    static constexpr Placeholder kDash{"-", false};
    return &kDash;
  }
  char first = LowerAscii(value.empty() ? '\0' : value.front());
  if (first != 'r' && first != 'd' && first != 'p' && first != 'n' &&
      first != 'g' && first != 's' && first != 'w' && first != 'v') {
    return nullptr;
  }
  for (const Placeholder& placeholder : kPlaceholders) {
    if (placeholder.prefix.front() == first &&
        value.size() >= placeholder.prefix.size() &&
        EqualsIgnoringCase(value.substr(0, placeholder.prefix.size()),
                           placeholder.prefix)) {
      return &placeholder;
    }
  }
  return nullptr;
}

// The host[:port] a referral value names; empty for other schemes and for
// anything that is not a server name.
std::string_view ServerOf(std::string_view value) {
  if (StartsWithIgnoringCase(value, "whois://")) value.remove_prefix(8);
  while (!value.empty() && value.back() == '/') value.remove_suffix(1);
  if (value.empty() || value.size() > 255) return {};
  for (char c : value) {
    bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                   (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':';
    if (!allowed) return {};
  }
  return value;
}

std::string Joined(const std::vector<std::string_view>& lines) {
  std::string text;
  for (std::string_view line : lines) {
    if (!text.empty()) text += '\n';
    text.append(line);
  }
  return text;
}

// A key-value line cut into its key and value.
struct KeyAndValue {
  std::string_view key;
  std::string_view value;
  bool bracketed = false;  // "[Key] Value"
};

// "[Key] Value" (optionally after a list mark such as "a. "), or
// "Key: Value"; false when the line is neither.
bool SplitLine(std::string_view text, KeyAndValue& out) {
  if (text.empty()) return false;
  if (text.size() > 3 && text[1] == '.' && text[2] == ' ' && text[3] == '[') {
    text.remove_prefix(3);
  }
  size_t end;
  if (text.front() == '[') {
    end = text.find(']');
    if (end == std::string_view::npos || end > kLongestKey) return false;
    out.key = text.substr(1, end - 1);
    out.bracketed = true;
  } else {
    end = text.find(':');
    if (end == std::string_view::npos || end == 0 || end > kLongestKey) {
      return false;
    }
    // "Created on..............: 1999-03-15." leads its key to the colon
    // with dots.
    std::string_view key = text.substr(0, end);
    while (!key.empty() && (key.back() == '.' || IsBlank(key.back()))) {
      key.remove_suffix(1);
    }
    out.key = TrimBlankEnds(key);
    out.bracketed = false;
  }
  out.value = TrimBlankEnds(text.substr(end + 1));
  return !out.key.empty();
}

// A key's meaning, looked up in lower case.
const RecordKey* MeaningOf(std::string_view key) {
  char lower[kLongestKey];
  for (size_t i = 0; i < key.size(); ++i) lower[i] = LowerAscii(key[i]);
  return FindRecordKey(std::string_view(lower, key.size()));
}

// A paragraph that describes a contact handle ("nic-hdl: JD1-ZZ",
// "person: Jan Doe", "e-mail: ...").
struct HandleParagraph {
  std::string_view handle;
  std::vector<std::string_view> lines;
};

class KeyValueReader {
 public:
  void Read(std::string_view reply) {
    const char* at = reply.data();
    const char* end = at + reply.size();
    while (at < end) {
      auto* newline = static_cast<const char*>(std::memchr(at, '\n', end - at));
      const char* line_end = newline ? newline : end;
      ReadLine(std::string_view(at, line_end - at));
      at = line_end + 1;
    }
    EndParagraph();
  }

  KeyValueReply Result() const {
    KeyValueReply reply;
    reply.not_found = not_found_;
    WhoisRecord& fields = reply.fields;
    for (size_t i = 0; i < std::size(kSingleFields); ++i) {
      fields.*kSingleFields[i] = singles_[i];
    }
    fields.domain_servers = Joined(name_servers_);
    fields.domain_status = Joined(statuses_);
    for (size_t c = 1; c < kContactCount; ++c) {
      fields.*kContactFields[c] = ContactBlock(c);
    }
    if (fields.registrant.empty()) fields.registrant = domain_org_;
    fields.redacted_fields = Joined(redacted_);
    reply.referral.server = referral_;
    reply.referral.pointer_only = pointer_only_;
    return reply;
  }

 private:
  void ReadLine(std::string_view line) {
    size_t indent = 0;
    while (indent < line.size() &&
           (line[indent] == ' ' || line[indent] == '\t')) {
      ++indent;
    }
    std::string_view text = TrimBlankEnds(line.substr(indent));
    if (text.empty()) {
      EndParagraph();
      // A list of name servers may stand one empty line below its heading.
      bool keep = block_key_ && block_key_->slot == KeySlot::kNameServer &&
                  !block_taken_;
      if (!keep) block_key_ = nullptr;
      return;
    }
    if (skip_paragraph_) return;
    if (section_ != Section::kNone) {
      ReadSectionLine(text);
      return;
    }
    if (block_key_ && indent > block_indent_) {
      Take(*block_key_, text, {});
      block_taken_ = true;
    } else {
      block_key_ = nullptr;
    }
    if (text.front() == '%' || text.front() == '#') {
      not_found_ = not_found_ || IsNotFoundLine(TrimOf(text, "%# \t"));
      return;
    }
    if (text.starts_with(">>>")) text = TrimOf(text, "<> \t");
    if (text.empty()) return;
    if (IsNotFoundLine(text)) not_found_ = true;
    if (indent == 0) {
      if (const SectionHeading* heading = FindSectionHeading(text)) {
        section_ = heading->section;
        section_contact_ = heading->contact;
        return;
      }
    }
    if (ReadSentence(text)) return;
    KeyAndValue pair;
    if (!SplitLine(text, pair)) return;
    if (pair.bracketed && ReadBracketed(pair)) return;
    const RecordKey* meaning = MeaningOf(pair.key);
    if (meaning && meaning->slot == KeySlot::kHostRecord) {
      // A look-alike host listed before the record asked for.
      skip_paragraph_ = true;
      return;
    }
    if (pair.value.empty()) {
      block_key_ = meaning;
      block_indent_ = indent;
      block_taken_ = false;
    } else if (meaning) {
      Take(*meaning, pair.value, pair.key);
    }
  }

  // "Record expires on 15-Mar-2030." and its kin; false for other lines.
  bool ReadSentence(std::string_view text) {
    // Every sentence begins with "rec", "dat" or "las".
    if (text.size() < 16) return false;
    char first = LowerAscii(text.front());
    char third = LowerAscii(text[2]);
    if (!(first == 'r' && third == 'c') && !(first == 'd' && third == 't') &&
        !(first == 'l' && third == 's')) {
      return false;
    }
    for (const Sentence& sentence : kSentences) {
      if (text.size() > sentence.prefix.size() &&
          StartsWithIgnoringCase(text, sentence.prefix)) {
        Take(RecordKey{sentence.slot},
             TrimBlankEnds(text.substr(sentence.prefix.size())), {});
        return true;
      }
    }
    return false;
  }

  // .jp's "[Organization]" (the registrant) and "[State]" ("Connected
  // (2025/05/31)": the status and, in parentheses, the expiry).
  bool ReadBracketed(const KeyAndValue& pair) {
    if (EqualsIgnoringCase(pair.key, "organization")) {
      Take(RecordKey{KeySlot::kContactAddress, Contact::kRegistrant},
           pair.value, pair.key);
      return true;
    }
    if (!EqualsIgnoringCase(pair.key, "state")) return false;
    std::string_view value = pair.value;
    size_t open = value.find('(');
    if (open != std::string_view::npos && value.back() == ')') {
      Take(RecordKey{KeySlot::kExpiry},
           value.substr(open + 1, value.size() - open - 2), {});
      value = TrimBlankEnds(value.substr(0, open));
    }
    if (!value.empty()) statuses_.push_back(value);
    return true;
  }

  // A line of a block under a heading of its own.
  void ReadSectionLine(std::string_view text) {
    if (section_ == Section::kNameServers) {
      name_servers_.push_back(ServerName(text));
      return;
    }
    KeyAndValue pair;
    bool keyed = SplitLine(text, pair) && !pair.bracketed;
    if (section_ == Section::kRegistrar) {
      if (keyed && (EqualsIgnoringCase(pair.key, "organization") ||
                    EqualsIgnoringCase(pair.key, "name"))) {
        Take(RecordKey{KeySlot::kRegistrar}, pair.value, pair.key);
      }
      return;
    }
    if (!keyed) {
      // The further lines of a multi-line address.
      if (section_continues_) {
        Take(RecordKey{KeySlot::kContactAddress, section_contact_}, text, {});
      }
      return;
    }
    section_continues_ = false;
    for (std::string_view key : kSectionContactKeys) {
      if (!EqualsIgnoringCase(pair.key, key)) continue;
      section_continues_ = true;
      if (!pair.value.empty()) {
        Take(RecordKey{KeySlot::kContactAddress, section_contact_}, pair.value,
             pair.key);
      }
      return;
    }
  }

  void Take(const RecordKey& key, std::string_view value,
            std::string_view written_key) {
    if (const Placeholder* placeholder = FindPlaceholder(value)) {
      if (placeholder->withheld && !written_key.empty()) {
        redacted_.push_back(written_key);
      }
      return;
    }
    size_t contact = static_cast<size_t>(key.contact);
    switch (key.slot) {
      case KeySlot::kNameServer:
        name_servers_.push_back(ServerName(value));
        break;
      case KeySlot::kStatus:
        statuses_.push_back(StatusWord(value));
        break;
      case KeySlot::kState:
        if (domain_paragraph_) statuses_.push_back(value);
        break;
      case KeySlot::kHostRecord:
        break;
      case KeySlot::kReferral:
      case KeySlot::kRegistryPointer:
        if (referral_.empty()) {
          referral_ = ServerOf(value);
          pointer_only_ = key.slot == KeySlot::kRegistryPointer;
        }
        break;
      case KeySlot::kContactDetail:
        // The registrant's block is its name and address only.
        if (key.contact == Contact::kRegistrant) break;
        [[fallthrough]];
      case KeySlot::kContactAddress:
        contact_lines_[contact].push_back(value);
        break;
      case KeySlot::kContactHandle:
        handles_[contact].push_back(value);
        break;
      case KeySlot::kHandleName:
        paragraph_.handle = value;
        break;
      case KeySlot::kHandleLine:
        paragraph_.lines.push_back(value);
        // .ru names the holder's organisation in the domain's paragraph.
        if (domain_paragraph_ && domain_org_.empty() &&
            EqualsIgnoringCase(written_key, "org")) {
          domain_org_ = value;
        }
        break;
      default: {
        if (key.slot == KeySlot::kDomainName) domain_paragraph_ = true;
        if (IsDateSlot(key.slot)) value = DateValue(value);
        std::string_view& single = singles_[static_cast<size_t>(key.slot)];
        if (single.empty()) single = value;
      }
    }
  }

  void EndParagraph() {
    if (!paragraph_.handle.empty()) described_.push_back(paragraph_);
    paragraph_ = {};
    skip_paragraph_ = false;
    domain_paragraph_ = false;
    section_ = Section::kNone;
    section_continues_ = false;
  }

  // The contact's own lines, else the paragraphs of the handles that name
  // it (a handle nothing describes stands for itself).
  std::string ContactBlock(size_t contact) const {
    if (!contact_lines_[contact].empty()) {
      return Joined(contact_lines_[contact]);
    }
    std::vector<std::string_view> lines;
    for (std::string_view handle : handles_[contact]) {
      const HandleParagraph* described = Described(handle);
      if (!described) {
        lines.push_back(handle);
        continue;
      }
      lines.insert(lines.end(), described->lines.begin(),
                   described->lines.end());
    }
    return Joined(lines);
  }

  const HandleParagraph* Described(std::string_view handle) const {
    for (const HandleParagraph& paragraph : described_) {
      if (EqualsIgnoringCase(paragraph.handle, handle)) return &paragraph;
    }
    return nullptr;
  }

  std::array<std::string_view, std::size(kSingleFields)> singles_{};
  std::vector<std::string_view> name_servers_;
  std::vector<std::string_view> statuses_;
  std::array<std::vector<std::string_view>, kContactCount> contact_lines_;
  std::array<std::vector<std::string_view>, kContactCount> handles_;
  std::vector<HandleParagraph> described_;
  HandleParagraph paragraph_;
  const RecordKey* block_key_ = nullptr;
  size_t block_indent_ = 0;
  bool block_taken_ = false;
  bool skip_paragraph_ = false;
  bool domain_paragraph_ = false;
  Section section_ = Section::kNone;
  Contact section_contact_ = Contact::kNone;
  bool section_continues_ = false;
  std::string_view domain_org_;
  std::vector<std::string_view> redacted_;
  std::string_view referral_;
  bool pointer_only_ = false;
  bool not_found_ = false;
};

}  // namespace

KeyValueReply ReadKeyValues(std::string_view reply) {
  KeyValueReader reader;
  reader.Read(reply);
  return reader.Result();
}

bool IsPlaceholder(std::string_view value) {
  return FindPlaceholder(TrimBlankEnds(value)) != nullptr;
}

Throttle FindThrottle(std::string_view reply) {
  // Rate-limit answers are short notices; only the reply's head is read.
  std::string_view head = reply.substr(0, 4096);
  std::string lower = LowerCase(head);
  auto has = [&](std::string_view line, std::string_view words) {
    return line.find(words) != std::string_view::npos;
  };
  Throttle found;
  size_t start = 0;
  while (start < lower.size() && !found.throttled) {
    size_t end = std::min(lower.find('\n', start), lower.size());
    std::string_view line(lower.data() + start, end - start);
    if (has(line, "limit exceeded") || has(line, "rate limit") ||
        has(line, "too many requests") || has(line, "too many queries") ||
        has(line, "queries exceeded") || has(line, "quota exceeded") ||
        (has(line, "denied") &&
         (has(line, "try again") || has(line, "later")))) {
      found.throttled = true;
      found.notice = TrimOf(head.substr(start, end - start), " \t\r%#*>:<");
    }
    start = end + 1;
  }
  if (!found.throttled) return found;
  // "try again in 60 seconds", "wait 5 minutes", "after 1 hour": the first
  // number followed by a unit anywhere in the head.
  for (size_t at = 0; at < lower.size(); ++at) {
    if (!std::isdigit(static_cast<unsigned char>(lower[at]))) continue;
    size_t end = at;
    int64_t number = 0;
    while (end < lower.size() &&
           std::isdigit(static_cast<unsigned char>(lower[end]))) {
      number = std::min<int64_t>(number * 10 + (lower[end] - '0'), 1 << 24);
      ++end;
    }
    std::string_view rest = std::string_view(lower).substr(end);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    int64_t unit = rest.starts_with("sec")    ? 1
                   : rest.starts_with("min")  ? 60
                   : rest.starts_with("hour") ? 3600
                                              : 0;
    if (unit != 0) {
      found.wait_seconds =
          static_cast<int32_t>(std::min<int64_t>(number * unit, INT32_MAX));
      break;
    }
    at = end;
  }
  return found;
}

namespace {

// A reply of the oldest layout has no "Registrant:" heading: the
// registrant is the paragraph before a paragraph that holds only the
// "Domain Name:" line. Gives that reply with the heading put in, or empty
// text when the reply is not of that layout.
std::string WithRegistrantHeading(std::string_view reply) {
  size_t name = reply.find("Domain Name:");
  if (name == std::string_view::npos) return {};
  size_t line_start = reply.rfind('\n', name);
  if (line_start == std::string_view::npos || line_start == 0) return {};
  size_t line_end = reply.find('\n', name);
  if (line_end == std::string_view::npos) return {};
  std::string_view before = reply.substr(0, line_start);
  std::string_view after = reply.substr(line_end + 1);
  // The line stands alone: an empty line on either side.
  if (TrimBlankEnds(after.substr(0, after.find('\n'))) != "") return {};
  size_t previous_end = before.find_last_not_of(" \t\r");
  if (previous_end == std::string_view::npos || before[previous_end] != '\n') {
    return {};
  }
  std::string_view paragraphs = before.substr(0, previous_end);
  size_t gap = paragraphs.rfind("\n\n");
  size_t start = gap == std::string_view::npos ? 0 : gap + 2;
  while (start < paragraphs.size() && paragraphs[start] == '\n') ++start;
  if (start >= paragraphs.size()) return {};
  return "Registrant:\n" + std::string(reply.substr(start));
}

}  // namespace

ParsedReply ReadReply(std::string_view reply) {
  ParsedReply parsed;
  parsed.record = ParseResponse(reply);
  if (!parsed.record.record_found) return parsed;
  if (parsed.record.registrant.empty() && parsed.record.domain_name.empty()) {
    // The check runs on the reply as received; only a reply that passes
    // it is copied with its line ends made LF.
    std::string headed = WithRegistrantHeading(reply);
    if (!headed.empty() && Contains(reply, "\r")) {
      headed = WithRegistrantHeading(WithLineFeedEnds(reply));
    }
    if (!headed.empty()) {
      WhoisRecord legacy = ParseResponse(headed);
      if (!legacy.domain_name.empty()) parsed.record = std::move(legacy);
    }
  }
  // When the record layout's parse stopped before the domain name, what it
  // cut is no block of that layout, and the key-value reading's lines
  // (without their indentation) stand for the registrant instead.
  bool record_layout = !parsed.record.domain_name.empty();
  KeyValueReply key_values = ReadKeyValues(reply);
  if (key_values.not_found) {
    parsed.record = WhoisRecord{};
    return parsed;
  }
  if (!record_layout && !key_values.fields.registrant.empty()) {
    parsed.record.registrant.clear();
  }
  FillEmptyFields(parsed.record, std::move(key_values.fields));
  parsed.referral = std::move(key_values.referral);
  const WhoisRecord& r = parsed.record;
  if (r.domain_name.empty() && r.registrant.empty() && r.registrar.empty() &&
      r.domain_servers.empty() && r.host_name.empty()) {
    parsed.throttle = FindThrottle(reply);
    if (parsed.throttle.throttled) parsed.record = WhoisRecord{};
  }
  return parsed;
}

}  // namespace corvane::namewell
