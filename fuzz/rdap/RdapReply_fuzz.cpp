// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary answers to the reading of RDAP's JSON: no crash and no
// runaway on any nesting or size, and every line of every field, the
// registrar link and the error title are text that the answer holds as a
// JSON string (the domain name may join two of them as "A (B)").
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <string_view>

#include "whois/RdapReply.h"

namespace {

using nlohmann::json;

// Collects the answer's string values without building a document.
class StringCollector : public nlohmann::json_sax<json> {
 public:
  std::set<std::string> strings;
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t& value) override {
    strings.insert(value);
    return true;
  }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return true; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t, const std::string&,
                   const nlohmann::detail::exception&) override {
    return false;
  }
};

// Whether `line` lies within one of the strings.
bool FromAnswer(const std::set<std::string>& strings, std::string_view line) {
  for (const std::string& text : strings) {
    if (text.find(line) != std::string::npos) return true;
  }
  return false;
}

void CheckLines(const std::set<std::string>& strings, std::string_view field) {
  size_t start = 0;
  while (start < field.size()) {
    size_t end = field.find('\n', start);
    if (end == std::string_view::npos) end = field.size();
    if (!FromAnswer(strings, field.substr(start, end - start))) std::abort();
    start = end + 1;
  }
}

void CheckDomainName(const std::set<std::string>& strings,
                     const std::string& name) {
  if (name.empty() || strings.count(name)) return;
  for (size_t at = name.find(" ("); at != std::string::npos;
       at = name.find(" (", at + 1)) {
    if (name.back() == ')' && strings.count(name.substr(0, at)) &&
        strings.count(name.substr(at + 2, name.size() - at - 3))) {
      return;
    }
  }
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view answer(reinterpret_cast<const char*>(data), size);
  corvane::namewell::RdapReply reply = corvane::namewell::ReadRdapReply(answer);
  if (!reply.readable) return 0;
  const corvane::namewell::RdapReply& read = reply;
  StringCollector collector;
  if (!json::sax_parse(answer.begin(), answer.end(), &collector)) {
    std::abort();  // read as JSON, so it must be JSON
  }
  const auto& strings = collector.strings;
  const auto& r = read.record;
  for (const std::string* field :
       {&r.registrant, &r.administrative_contact, &r.technical_contact,
        &r.zone_contact, &r.billing_contact, &r.record_updated,
        &r.record_created, &r.database_updated, &r.domain_servers, &r.host_name,
        &r.coordinator, &r.registrar, &r.expiry_time, &r.domain_status,
        &read.related, &read.error_title}) {
    CheckLines(strings, *field);
  }
  CheckDomainName(strings, r.domain_name);
  return 0;
}
