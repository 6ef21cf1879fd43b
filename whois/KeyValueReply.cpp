// SPDX-License-Identifier: Apache-2.0
#include "whois/KeyValueReply.h"

#include <array>
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
  } else {
    end = text.find(':');
    if (end == std::string_view::npos || end == 0 || end > kLongestKey) {
      return false;
    }
    out.key = TrimBlankEnds(text.substr(0, end));
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
      block_key_ = nullptr;
      return;
    }
    if (block_key_ && indent > block_indent_) {
      Take(*block_key_, text);
    } else {
      block_key_ = nullptr;
    }
    if (text.front() == '%' || text.front() == '#') {
      not_found_ = not_found_ || IsNotFoundLine(TrimOf(text, "%# \t"));
      return;
    }
    if (text.starts_with(">>>")) text = TrimOf(text, "<> \t");
    if (IsNotFoundLine(text)) not_found_ = true;
    KeyAndValue pair;
    if (!SplitLine(text, pair)) return;
    const RecordKey* meaning = MeaningOf(pair.key);
    if (pair.value.empty()) {
      block_key_ = meaning;
      block_indent_ = indent;
    } else if (meaning) {
      Take(*meaning, pair.value);
    }
  }

  void Take(const RecordKey& key, std::string_view value) {
    size_t contact = static_cast<size_t>(key.contact);
    switch (key.slot) {
      case KeySlot::kNameServer:
        name_servers_.push_back(value);
        break;
      case KeySlot::kStatus:
        statuses_.push_back(StatusWord(value));
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
        break;
      default: {
        std::string_view& single = singles_[static_cast<size_t>(key.slot)];
        if (single.empty()) single = value;
      }
    }
  }

  void EndParagraph() {
    if (!paragraph_.handle.empty()) described_.push_back(paragraph_);
    paragraph_ = {};
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

ParsedReply ReadReply(std::string_view reply) {
  ParsedReply parsed;
  parsed.record = ParseResponse(reply);
  if (!parsed.record.record_found) return parsed;
  KeyValueReply key_values = ReadKeyValues(reply);
  if (key_values.not_found) {
    parsed.record = WhoisRecord{};
    return parsed;
  }
  FillEmptyFields(parsed.record, std::move(key_values.fields));
  parsed.referral = std::move(key_values.referral);
  return parsed;
}

}  // namespace corvane::namewell
